// PNG writer: libpng encodes into memory, then the bytes go to disk through
// WriteFileAtomic, so a failed save never leaves a half-written picture.
//
// Same split as the decoders (ImageDecode.cpp): the caller owns every object with a
// destructor, RunPngWrite calls setjmp and holds none.

#include "image/Image.h"

#include "common/AtomicFile.h"
#include "common/Error.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include <png.h>

namespace quarvel {

namespace {

struct PngWriteContext {
  std::vector<uint8_t>* Out = nullptr;
  std::vector<png_bytep>* Rows = nullptr;
  int Width = 0;
  int Height = 0;
  int ColourType = 0;
  int Level = -1;
  char Message[256] = {};
};

struct PngWriteGuard {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  PngWriteGuard() = default;
  PngWriteGuard(const PngWriteGuard&) = delete;
  PngWriteGuard& operator=(const PngWriteGuard&) = delete;
  ~PngWriteGuard() {
    if (Png != nullptr)
      png_destroy_write_struct(&Png, Info != nullptr ? &Info : nullptr);
  }
};

extern "C" void PngWriteError(png_structp png, png_const_charp message) {
  auto* ctx = static_cast<PngWriteContext*>(png_get_error_ptr(png));
  std::snprintf(ctx->Message, sizeof ctx->Message, "%s", message != nullptr ? message : "");
  png_longjmp(png, 1);
}

// Nothing the writer warns about can concern the picture we hand it (fixed, valid
// IHDR); libpng's warnings are not printed to stderr behind the user's back.
extern "C" void PngWriteWarning(png_structp, png_const_charp) {}

extern "C" void PngWriteData(png_structp png, png_bytep data, png_size_t length) {
  auto* ctx = static_cast<PngWriteContext*>(png_get_io_ptr(png));
  bool full = false;
  try {
    ctx->Out->insert(ctx->Out->end(), data, data + length);
  } catch (...) {
    full = true;
  }
  // Outside the catch block: longjmp must not leave a handler.
  if (full)
    png_error(png, "out of memory");
}

extern "C" void PngWriteFlush(png_structp) {}

bool RunPngWrite(png_structp png, png_infop info, PngWriteContext* ctx) {
  if (setjmp(png_jmpbuf(png)))
    return false;
  png_set_write_fn(png, ctx, PngWriteData, PngWriteFlush);
  if (ctx->Level >= 0)
    png_set_compression_level(png, ctx->Level);
  png_set_IHDR(png, info, static_cast<png_uint_32>(ctx->Width),
               static_cast<png_uint_32>(ctx->Height), 8, ctx->ColourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, ctx->Rows->data());
  png_write_end(png, nullptr);
  return true;
}

} // namespace

std::vector<uint8_t> EncodePNG(const std::string& fileName, int width, int height, int channels,
                               const uint8_t* pixels, int level) {
  if (width <= 0 || height <= 0)
    throw Error(Located(fileName, 0,
                        "cannot write a picture of " + std::to_string(width) + " x " +
                            std::to_string(height) + " pixels"));
  if (channels != 1 && channels != 3 && channels != 4)
    throw Error(Located(
        fileName, 0, "cannot write a picture of " + std::to_string(channels) + " bytes per pixel"));
  if (pixels == nullptr)
    throw Error(Located(fileName, 0, "no pixels to write"));

  std::vector<uint8_t> out;
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(channels);
  for (size_t y = 0; y < rows.size(); ++y)
    // libpng's row type is not const, but writing only reads the rows.
    rows[y] = const_cast<png_bytep>(pixels + y * rowBytes);

  PngWriteContext ctx;
  ctx.Out = &out;
  ctx.Rows = &rows;
  ctx.Width = width;
  ctx.Height = height;
  ctx.Level = level < 0 ? -1 : std::min(level, 9);
  ctx.ColourType = channels == 1   ? PNG_COLOR_TYPE_GRAY
                   : channels == 3 ? PNG_COLOR_TYPE_RGB
                                   : PNG_COLOR_TYPE_RGB_ALPHA;

  PngWriteGuard guard;
  guard.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, PngWriteError, PngWriteWarning);
  if (guard.Png == nullptr)
    throw Error(Located(fileName, 0, "cannot start the PNG encoder (out of memory)"));
  guard.Info = png_create_info_struct(guard.Png);
  if (guard.Info == nullptr)
    throw Error(Located(fileName, 0, "cannot start the PNG encoder (out of memory)"));
  if (!RunPngWrite(guard.Png, guard.Info, &ctx))
    throw Error(Located(fileName, 0, std::string("cannot encode PNG: ") + ctx.Message));
  return out;
}

void WritePNG(const std::string& fileName, int width, int height, int channels,
              const uint8_t* pixels) {
  WriteFileAtomic(fileName, EncodePNG(fileName, width, height, channels, pixels));
}

} // namespace quarvel
