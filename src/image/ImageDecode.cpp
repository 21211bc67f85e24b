// PNG (libpng) and JPEG (libjpeg) decoders, and the helpers all decoders share.
//
// Both libraries report errors by longjmp. Each decoder therefore splits into:
//   - a C++ caller that owns everything with a destructor (the file bytes, the output
//     vector, a guard that destroys the library's structures) and turns a failure into
//     quarvel::Error;
//   - one small "Run" function that calls setjmp and drives the library. It has no local
//     objects with destructors, so a longjmp back into it skips nothing; it reads and
//     writes all state through a plain context struct owned by the caller.
// Callbacks invoked by the libraries never let a C++ exception escape into C frames.
//
// Transparency: pictures become 24-bit textures, so an alpha channel (RGBA, grey+alpha,
// or a tRNS chunk) is simply dropped. A transparent texel keeps the RGB stored for it in
// the file (for a palette picture, its palette colour); nothing is blended with any
// background. No gamma correction is applied: texels keep the values stored in the file.

#include "image/Image.h"
#include "image/ImageInternal.h"

#include "common/Error.h"
#include "common/FileLookup.h"

#include "common/Interrupt.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>

#include <png.h>
// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace quarvel {

namespace image_detail {

std::vector<uint8_t> LoadImageFile(const std::string& fileName, std::string& resolved) {
  resolved = ResolveForOpening(fileName);
  // Through the platform's file calls, which take UTF-8 names on every system.
  const std::optional<platform::TFileStatus> named = platform::StatusOf(resolved);
  if (named && named->Kind == platform::TFileKind::Directory)
    throw Error(Located(resolved, 0, "is a folder, not a file"));
  // A device or a pipe may never end, or block until something writes to it.
  if (named && named->Kind != platform::TFileKind::Regular)
    throw Error(Located(resolved, 0, "is not a regular file"));
  const platform::TFileHandle in = platform::OpenForReading(resolved);
  if (in == platform::NoFile)
    throw Error(
        Located(resolved, 0, "cannot open file: " + platform::ErrorText(platform::LastError())));
  struct TClose {
    platform::TFileHandle File;
    ~TClose() { platform::Close(File); }
  } closing{in};
  const std::optional<platform::TFileStatus> opened = platform::StatusOf(in);
  if (!opened)
    throw Error(Located(
        resolved, 0, "cannot read the file's size: " + platform::ErrorText(platform::LastError())));
  const uint64_t size = opened->Size;
  if (size > MaxImageFileBytes)
    throw Error(Located(resolved, 0,
                        "image file is " + std::to_string(size) + " bytes, more than the " +
                            std::to_string(MaxImageFileBytes) + " bytes (" +
                            std::to_string(MaxImageFileBytes >> 20) +
                            " MiB) a picture file may have"));
  // A file that grows while it is read is taken as it was when its size was asked; one
  // that shrinks, as far as it goes.
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  size_t got = 0;
  while (got < bytes.size()) {
    const int64_t n = platform::Read(in, bytes.data() + got, bytes.size() - got);
    if (n < 0)
      throw Error(Located(resolved, 0, "read error"));
    if (n == 0)
      break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

void CheckNotEmpty(const std::string& name, size_t size) {
  if (size == 0)
    throw Error(Located(name, 0, "image file is empty"));
}

void CheckImageSize(const std::string& file, long long width, long long height, int maxDimension,
                    long long maxPixels) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width <= 0 || height <= 0)
    throw Error(Located(file, 0, "image is " + size + ", which is not a valid size"));
  if (width > maxDimension || height > maxDimension)
    throw PictureTooLarge(Located(file, 0,
                                  "image is " + size + ", larger than the largest texture (" +
                                      std::to_string(maxDimension) + ")"),
                          width, height);
  // Drivers that take 32768 or more each way would otherwise let a header of a few bytes
  // claim gigapixels, which are allocated (and copied for the upload) before the missing
  // pixel data is noticed. Both sides are below 2^31 here: the product cannot overflow.
  const long long limit = std::min(maxPixels, MaxImagePixels);
  if (width * height > limit)
    throw PictureTooLarge(Located(file, 0,
                                  "image is " + size + " (" + std::to_string(width * height) +
                                      "), more than the " + std::to_string(limit) +
                                      " pixels a picture may have"),
                          width, height);
}

void AddWarning(std::vector<std::string>& warnings, size_t& dropped, const std::string& file,
                const std::string& text) {
  if (warnings.size() < MaxWarnings)
    warnings.push_back(Located(file, 0, text));
  else
    ++dropped;
}

void FinishWarnings(std::vector<std::string>& warnings, size_t dropped, const std::string& file) {
  if (dropped > 0)
    warnings.push_back(Located(file, 0, "and " + std::to_string(dropped) + " more warnings"));
}

void AllocatePixels(TDecodedImage& image, const std::string& file, int width, int height) {
  try {
    image.Pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
  } catch (const std::bad_alloc&) {
    throw Error(Located(file, 0,
                        "not enough memory for an image of " + std::to_string(width) + " x " +
                            std::to_string(height) + " pixels"));
  } catch (const std::length_error&) {
    throw Error(Located(file, 0,
                        "not enough memory for an image of " + std::to_string(width) + " x " +
                            std::to_string(height) + " pixels"));
  }
  image.Width = width;
  image.Height = height;
}

} // namespace image_detail

using namespace image_detail;

// ---------------------------------------------------------------------------------------
// PNG

namespace {

constexpr size_t MessageSize = 256;

struct PngReadContext {
  // Input: the whole picture in memory.
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  size_t Pos = 0;
  // Set when libpng asked for bytes past the end of the file.
  bool Truncated = false;
  char Message[MessageSize] = {};
  // Warnings, filled by the warning callback (which catches its own exceptions).
  const std::string* File = nullptr;
  std::vector<std::string>* Warnings = nullptr;
  size_t DroppedWarnings = 0;
  bool WarningLost = false;
  // Set by Run once the header is known; checked by Run before allocating.
  int MaxDimension = 0;
  long long MaxPixels = MaxImagePixels;
  TDecodedImage* Image = nullptr;
};

// Destroys libpng's structures on every path out of DecodePNG.
struct PngReadGuard {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  PngReadGuard() = default;
  PngReadGuard(const PngReadGuard&) = delete;
  PngReadGuard& operator=(const PngReadGuard&) = delete;
  ~PngReadGuard() {
    if (Png != nullptr)
      png_destroy_read_struct(&Png, Info != nullptr ? &Info : nullptr, nullptr);
  }
};

PngReadContext* ReadContextOf(png_structp png) {
  return static_cast<PngReadContext*>(png_get_error_ptr(png));
}

extern "C" void PngReadError(png_structp png, png_const_charp message) {
  PngReadContext* ctx = ReadContextOf(png);
  std::snprintf(ctx->Message, sizeof ctx->Message, "%s", message != nullptr ? message : "");
  png_longjmp(png, 1);
}

extern "C" void PngReadWarning(png_structp png, png_const_charp message) {
  PngReadContext* ctx = ReadContextOf(png);
  // No exception may leave this C callback; a warning that cannot be stored is counted.
  try {
    AddWarning(*ctx->Warnings, ctx->DroppedWarnings, *ctx->File,
               std::string("PNG warning: ") + (message != nullptr ? message : ""));
  } catch (...) {
    ctx->WarningLost = true;
  }
}

extern "C" void PngReadData(png_structp png, png_bytep out, png_size_t length) {
  auto* ctx = static_cast<PngReadContext*>(png_get_io_ptr(png));
  if (length > ctx->Size - ctx->Pos) {
    ctx->Truncated = true;
    png_error(png, "unexpected end of file");
  }
  std::memcpy(out, ctx->Data + ctx->Pos, length);
  ctx->Pos += length;
}

// Drives libpng. Returns false after a libpng error (message in the context). Throws
// quarvel::Error for a picture that is too large; no object with a destructor lives in
// this frame, so the longjmp of an error skips nothing.
bool RunPngRead(png_structp png, png_infop info, PngReadContext* ctx) {
  if (setjmp(png_jmpbuf(png)))
    return false;

  png_set_read_fn(png, ctx, PngReadData);
  // Our own size limit is applied below, with our own message; libpng's default limit
  // of one million pixels each way would otherwise speak first.
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_read_info(png, info);

  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  CheckImageSize(*ctx->File, width, height, ctx->MaxDimension, ctx->MaxPixels);

  // Everything to 8-bit RGB: palette and low-bit grey expanded, 16-bit scaled (not
  // truncated) to 8 bits, grey copied to the three channels, alpha dropped.
  const int colourType = png_get_color_type(png, info);
  if (colourType == PNG_COLOR_TYPE_PALETTE)
    png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
  }
  png_set_scale_16(png);
  png_set_strip_alpha(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  if (png_get_channels(png, info) != 3 || png_get_bit_depth(png, info) != 8 ||
      png_get_rowbytes(png, info) != static_cast<png_size_t>(width) * 3)
    png_error(png, "unsupported pixel layout");

  AllocatePixels(*ctx->Image, *ctx->File, static_cast<int>(width), static_cast<int>(height));
  // Row by row (every pass of an interlaced picture), so that an interrupt is noticed
  // between rows: a large picture takes seconds to inflate.
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y) {
      ThrowIfInterrupted();
      png_read_row(png, ctx->Image->Pixels.data() + static_cast<size_t>(y) * width * 3, nullptr);
    }
  // Read to IEND, so a file cut anywhere is reported rather than half-accepted.
  png_read_end(png, nullptr);
  return true;
}

} // namespace

TDecodedImage DecodePNG(const std::string& fileName, int maxDimension, long long maxPixels) {
  std::string file;
  const std::vector<uint8_t> bytes = LoadImageFile(fileName, file);
  return DecodePNG(bytes.data(), bytes.size(), file, maxDimension, maxPixels);
}

TDecodedImage DecodePNG(const uint8_t* data, size_t size, const std::string& file, int maxDimension,
                        long long maxPixels) {
  CheckNotEmpty(file, size);
  if (size < 8)
    throw Error(Located(
        file, 0, png_sig_cmp(data, 0, size) == 0 ? "PNG file is truncated" : "not a PNG file"));
  if (png_sig_cmp(data, 0, 8) != 0)
    throw Error(Located(file, 0, "not a PNG file"));

  TDecodedImage image;
  PngReadContext ctx;
  ctx.Data = data;
  ctx.Size = size;
  ctx.File = &file;
  ctx.Warnings = &image.Warnings;
  ctx.MaxDimension = maxDimension;
  ctx.MaxPixels = maxPixels;
  ctx.Image = &image;

  PngReadGuard guard;
  guard.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, PngReadError, PngReadWarning);
  if (guard.Png == nullptr)
    throw Error(Located(file, 0, "cannot start the PNG decoder (out of memory)"));
  guard.Info = png_create_info_struct(guard.Png);
  if (guard.Info == nullptr)
    throw Error(Located(file, 0, "cannot start the PNG decoder (out of memory)"));

  if (!RunPngRead(guard.Png, guard.Info, &ctx)) {
    if (ctx.Truncated)
      throw Error(Located(file, 0, "PNG file is truncated"));
    throw Error(Located(file, 0, std::string("corrupt PNG file: ") + ctx.Message));
  }
  if (ctx.WarningLost)
    ++ctx.DroppedWarnings;
  FinishWarnings(image.Warnings, ctx.DroppedWarnings, file);
  return image;
}

// ---------------------------------------------------------------------------------------
// JPEG

namespace {

struct JpegContext {
  // libjpeg hands callbacks the jpeg_error_mgr pointer: it must come first.
  jpeg_error_mgr Errors;
  std::jmp_buf Jump;
  bool Truncated = false;
  char Message[JMSG_LENGTH_MAX] = {};
  const std::string* File = nullptr;
  std::vector<std::string>* Warnings = nullptr;
  size_t DroppedWarnings = 0;
  bool WarningLost = false;
  int MaxDimension = 0;
  long long MaxPixels = MaxImagePixels;
  TDecodedImage* Image = nullptr;
  // One grey scanline, for grey pictures expanded to RGB by us.
  std::vector<uint8_t>* GreyRow = nullptr;
};

struct JpegGuard {
  jpeg_decompress_struct Info;
  bool Created = false;
  JpegGuard() { std::memset(&Info, 0, sizeof Info); }
  JpegGuard(const JpegGuard&) = delete;
  JpegGuard& operator=(const JpegGuard&) = delete;
  ~JpegGuard() {
    if (Created)
      jpeg_destroy_decompress(&Info);
  }
};

JpegContext* JpegContextOf(j_common_ptr info) {
  return reinterpret_cast<JpegContext*>(info->err);
}

// Replaces libjpeg's error_exit, which would end the process.
extern "C" void JpegErrorExit(j_common_ptr info) {
  JpegContext* ctx = JpegContextOf(info);
  (*info->err->format_message)(info, ctx->Message);
  std::longjmp(ctx->Jump, 1);
}

extern "C" void JpegEmitMessage(j_common_ptr info, int level) {
  if (level >= 0)
    return; // trace output, not a warning
  JpegContext* ctx = JpegContextOf(info);
  info->err->num_warnings++;
  // A file that ends early would otherwise decode with its missing part filled grey.
  if (info->err->msg_code == JWRN_JPEG_EOF) {
    ctx->Truncated = true;
    (*info->err->format_message)(info, ctx->Message);
    std::longjmp(ctx->Jump, 1);
  }
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  try {
    AddWarning(*ctx->Warnings, ctx->DroppedWarnings, *ctx->File,
               std::string("JPEG warning: ") + text);
  } catch (...) {
    ctx->WarningLost = true;
  }
}

// A picture stored in several scans (progressive, or one scan per component) is decoded
// through a buffer of all its coefficients, allocated and cleared before the first scan
// is read. A header of a few hundred bytes can claim 16384 x 16384 pixels at full
// chroma resolution, which takes 1.5 GiB there on top of the pixels; the buffer is
// therefore limited to the size of the largest picture's pixels (maxPixels * 3).

// The size of that buffer as libjpeg makes it: each component's blocks, rounded up to its
// sampling factors, 64 coefficients of two bytes each.
unsigned long long JpegCoefficientBytes(const jpeg_decompress_struct* info) {
  auto roundUp = [](unsigned long long v, unsigned long long step) {
    return (v + step - 1) / step * step;
  };
  unsigned long long bytes = 0;
  for (int c = 0; c < info->num_components; ++c) {
    const jpeg_component_info& comp = info->comp_info[c];
    bytes += roundUp(comp.width_in_blocks, static_cast<unsigned>(comp.h_samp_factor)) *
             roundUp(comp.height_in_blocks, static_cast<unsigned>(comp.v_samp_factor)) * DCTSIZE2 *
             sizeof(JCOEF);
  }
  return bytes;
}

void CheckJpegCoefficients(const std::string& file, const jpeg_decompress_struct* info,
                           long long maxPixels) {
  const unsigned long long bytes = JpegCoefficientBytes(info);
  const unsigned long long MaxJpegCoefficientBytes =
      static_cast<unsigned long long>(std::min(maxPixels, MaxImagePixels)) * 3;
  if (bytes <= MaxJpegCoefficientBytes)
    return;
  const auto MiB = [](unsigned long long b) { return std::to_string((b + (1u << 20) - 1) >> 20); };
  throw Error(Located(file, 0,
                      "image is " + std::to_string(info->image_width) + " x " +
                          std::to_string(info->image_height) +
                          " pixels stored in several scans, which takes " + MiB(bytes) +
                          " MiB to decode, more than " + MiB(MaxJpegCoefficientBytes) + " MiB"));
}

// Drives libjpeg; same contract as RunPngRead.
bool RunJpegRead(JpegGuard* guard, JpegContext* ctx, const uint8_t* data, size_t size) {
  j_decompress_ptr info = &guard->Info;
  if (setjmp(ctx->Jump))
    return false;

  jpeg_create_decompress(info);
  guard->Created = true;
  jpeg_mem_src(info, data, static_cast<unsigned long>(size));
  jpeg_read_header(info, TRUE);
  CheckImageSize(*ctx->File, info->image_width, info->image_height, ctx->MaxDimension,
                 ctx->MaxPixels);

  switch (info->jpeg_color_space) {
  case JCS_GRAYSCALE:
    info->out_color_space = JCS_GRAYSCALE;
    break;
  case JCS_YCbCr:
  case JCS_RGB:
    info->out_color_space = JCS_RGB;
    break;
  case JCS_CMYK:
  case JCS_YCCK:
    throw Error(Located(*ctx->File, 0, "CMYK JPEG images are not supported"));
  default:
    throw Error(Located(*ctx->File, 0, "JPEG colour space is not supported"));
  }
  if (jpeg_has_multiple_scans(info))
    CheckJpegCoefficients(*ctx->File, info, ctx->MaxPixels);
  info->scale_num = 1;
  info->scale_denom = 1;
  jpeg_start_decompress(info);

  const int width = static_cast<int>(info->output_width);
  const int height = static_cast<int>(info->output_height);
  AllocatePixels(*ctx->Image, *ctx->File, width, height);
  const bool grey = info->output_components == 1;
  if (grey)
    ctx->GreyRow->resize(static_cast<size_t>(width));
  else if (info->output_components != 3)
    ERREXIT(info, JERR_CONVERSION_NOTIMPL);

  while (info->output_scanline < info->output_height) {
    ThrowIfInterrupted();
    uint8_t* target =
        ctx->Image->Pixels.data() + static_cast<size_t>(info->output_scanline) * width * 3;
    JSAMPROW row = grey ? ctx->GreyRow->data() : target;
    if (jpeg_read_scanlines(info, &row, 1) != 1)
      ERREXIT(info, JERR_INPUT_EMPTY);
    if (grey) {
      const uint8_t* source = ctx->GreyRow->data();
      for (int x = 0; x < width; ++x) {
        target[3 * x] = target[3 * x + 1] = target[3 * x + 2] = source[x];
      }
    }
  }
  jpeg_finish_decompress(info);
  return true;
}

} // namespace

TDecodedImage DecodeJPEG(const std::string& fileName, int maxDimension, long long maxPixels) {
  std::string file;
  const std::vector<uint8_t> bytes = LoadImageFile(fileName, file);
  return DecodeJPEG(bytes.data(), bytes.size(), file, maxDimension, maxPixels);
}

TDecodedImage DecodeJPEG(const uint8_t* data, size_t size, const std::string& file,
                         int maxDimension, long long maxPixels) {
  CheckNotEmpty(file, size);
  if (size < 2 || data[0] != 0xFF || data[1] != 0xD8)
    throw Error(Located(file, 0, "not a JPEG file"));

  TDecodedImage image;
  std::vector<uint8_t> greyRow;
  JpegContext ctx;
  ctx.File = &file;
  ctx.Warnings = &image.Warnings;
  ctx.MaxDimension = maxDimension;
  ctx.MaxPixels = maxPixels;
  ctx.Image = &image;
  ctx.GreyRow = &greyRow;

  JpegGuard guard;
  guard.Info.err = jpeg_std_error(&ctx.Errors);
  ctx.Errors.error_exit = JpegErrorExit;
  ctx.Errors.emit_message = JpegEmitMessage;

  if (!RunJpegRead(&guard, &ctx, data, size)) {
    if (ctx.Truncated)
      throw Error(Located(file, 0, "JPEG file is truncated"));
    throw Error(Located(file, 0, std::string("corrupt JPEG file: ") + ctx.Message));
  }
  if (ctx.WarningLost)
    ++ctx.DroppedWarnings;
  FinishWarnings(image.Warnings, ctx.DroppedWarnings, file);
  return image;
}

} // namespace quarvel
