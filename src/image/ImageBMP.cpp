// Windows BMP reader.
//
// Accepted: the "BM" file with a BITMAPINFOHEADER (40 bytes) or one of its extensions
// (52, 56, 108, 124 bytes), or the old 12-byte BITMAPCOREHEADER; uncompressed pictures of
// 1, 4 and 8 bits per pixel with a palette, 16, 24 and 32 bits per pixel, and 16 or 32 bits
// with explicit colour masks (BI_BITFIELDS / BI_ALPHABITFIELDS); rows bottom-up (positive
// height) or top-down (negative height). 16-bit pixels without masks are 5-5-5.
// Refused with a message: run-length compressed (RLE4, RLE8), embedded JPEG or PNG, the
// OS/2 2.x headers (16 and 64 bytes), other bit depths, and any file whose pixel rows do
// not fit in it. An alpha channel or the unused fourth byte of 32-bit pixels is dropped.
// A palette index past the end of the palette gives black and one warning.

#include "image/Image.h"
#include "image/ImageInternal.h"

#include "common/Error.h"
#include "common/Interrupt.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

using namespace image_detail;

namespace {

constexpr uint32_t BiRGB = 0;
constexpr uint32_t BiRLE8 = 1;
constexpr uint32_t BiRLE4 = 2;
constexpr uint32_t BiBitfields = 3;
constexpr uint32_t BiJPEG = 4;
constexpr uint32_t BiPNG = 5;
constexpr uint32_t BiAlphaBitfields = 6;

constexpr size_t FileHeaderSize = 14;

// The picture's bytes, read in place.
struct TBytes {
  const uint8_t* Data;
  size_t Size;
  size_t size() const { return Size; }
  const uint8_t* data() const { return Data; }
  uint8_t operator[](size_t at) const { return Data[at]; }
};

uint16_t Get16(const TBytes& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t Get32(const TBytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// One colour component described by a mask: where it sits and how wide it is.
struct TMaskChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  int Bits = 0;

  // Component value scaled to 0..255.
  uint8_t Extract(uint32_t pixel) const {
    if (Bits == 0)
      return 0;
    const uint32_t value = (pixel & Mask) >> Shift;
    if (Bits >= 8)
      return static_cast<uint8_t>(value >> (Bits - 8));
    const uint32_t maximum = (1u << Bits) - 1;
    return static_cast<uint8_t>((value * 255 + maximum / 2) / maximum);
  }
};

// Builds a channel from its mask; false when the set bits are not one contiguous run.
bool MakeChannel(uint32_t mask, TMaskChannel& channel) {
  channel = TMaskChannel();
  channel.Mask = mask;
  if (mask == 0)
    return true;
  while (((mask >> channel.Shift) & 1u) == 0)
    ++channel.Shift;
  uint32_t rest = mask >> channel.Shift;
  while ((rest & 1u) != 0) {
    ++channel.Bits;
    rest >>= 1;
  }
  return rest == 0;
}

std::string CompressionName(uint32_t compression) {
  switch (compression) {
  case BiRLE8:
    return "RLE8";
  case BiRLE4:
    return "RLE4";
  case BiJPEG:
    return "JPEG";
  case BiPNG:
    return "PNG";
  default:
    return std::to_string(compression);
  }
}

} // namespace

TDecodedImage DecodeBMP(const std::string& fileName, int maxDimension, long long maxPixels) {
  std::string file;
  const std::vector<uint8_t> bytes = LoadImageFile(fileName, file);
  return DecodeBMP(bytes.data(), bytes.size(), file, maxDimension, maxPixels);
}

TDecodedImage DecodeBMP(const uint8_t* data, size_t size, const std::string& file, int maxDimension,
                        long long maxPixels) {
  CheckNotEmpty(file, size);
  const TBytes b{data, size};
  auto fail = [&file](const std::string& what) -> Error { return Error(Located(file, 0, what)); };

  if (b.size() < 2 || b[0] != 'B' || b[1] != 'M')
    throw fail("not a BMP file");
  if (b.size() < FileHeaderSize + 4)
    throw fail("BMP file is truncated");
  const uint32_t pixelOffset = Get32(b, 10);
  const uint32_t headerSize = Get32(b, 14);

  const bool core = headerSize == 12;
  if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124) {
    if (headerSize == 16 || headerSize == 64)
      throw fail("OS/2 BMP variant (" + std::to_string(headerSize) +
                 "-byte header) is not supported");
    throw fail("corrupt BMP header: unknown header size " + std::to_string(headerSize));
  }
  if (b.size() < FileHeaderSize + headerSize)
    throw fail("BMP file is truncated");

  long long width = 0;
  long long height = 0;
  uint16_t planes = 0;
  uint16_t bitsPerPixel = 0;
  uint32_t compression = BiRGB;
  uint32_t coloursUsed = 0;
  bool topDown = false;
  if (core) {
    width = Get16(b, 18);
    height = Get16(b, 20);
    planes = Get16(b, 22);
    bitsPerPixel = Get16(b, 24);
  } else {
    width = static_cast<int32_t>(Get32(b, 18));
    height = static_cast<int32_t>(Get32(b, 22));
    planes = Get16(b, 26);
    bitsPerPixel = Get16(b, 28);
    compression = Get32(b, 30);
    coloursUsed = Get32(b, 46);
    if (height < 0) {
      topDown = true;
      height = -height;
    }
  }
  if (planes != 1)
    throw fail("corrupt BMP header: " + std::to_string(planes) + " planes");

  // What the pixels look like, refused before the size so that an RLE file says so.
  if (compression == BiRLE8 || compression == BiRLE4 || compression == BiJPEG ||
      compression == BiPNG)
    throw fail("compressed BMP (" + CompressionName(compression) + ") is not supported");
  if (compression != BiRGB && compression != BiBitfields && compression != BiAlphaBitfields)
    throw fail("BMP compression " + CompressionName(compression) + " is not supported");
  const bool masked = compression != BiRGB;
  if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 16 &&
      bitsPerPixel != 24 && bitsPerPixel != 32)
    throw fail("BMP with " + std::to_string(bitsPerPixel) + " bits per pixel is not supported");
  if (masked && bitsPerPixel != 16 && bitsPerPixel != 32)
    throw fail("corrupt BMP header: colour masks with " + std::to_string(bitsPerPixel) +
               " bits per pixel");
  if (core && (bitsPerPixel == 16 || bitsPerPixel == 32))
    throw fail("corrupt BMP header: " + std::to_string(bitsPerPixel) +
               " bits per pixel in an old-style header");

  CheckImageSize(file, width, height, maxDimension, maxPixels);

  // Colour masks: inside the header from 52 bytes on, else just after a 40-byte header.
  TMaskChannel red, green, blue;
  if (bitsPerPixel == 16 || bitsPerPixel == 32) {
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bitsPerPixel == 32) {
      masks[0] = 0x00FF0000;
      masks[1] = 0x0000FF00;
      masks[2] = 0x000000FF;
    }
    if (masked) {
      const size_t at = FileHeaderSize + 40;
      if (b.size() < at + 12)
        throw fail("BMP file is truncated");
      for (int i = 0; i < 3; ++i)
        masks[i] = Get32(b, at + 4 * static_cast<size_t>(i));
    }
    if (!MakeChannel(masks[0], red) || !MakeChannel(masks[1], green) ||
        !MakeChannel(masks[2], blue))
      throw fail("corrupt BMP header: colour masks are not contiguous");
  }

  // The pixel rows start where the file header says; everything before them must be the
  // headers, masks and palette.
  if (pixelOffset < FileHeaderSize + headerSize)
    throw fail("corrupt BMP header: pixel data offset " + std::to_string(pixelOffset));
  if (pixelOffset > b.size())
    throw fail("BMP file is truncated");

  // Palette: after the header (and after the masks of a 40-byte header). Its length is
  // the header's colour count, or 2^bits when that is 0, but never more than fits before
  // the pixels: old-style headers carry no count, and some writers state too many.
  std::vector<uint8_t> palette; // red, green, blue per entry
  if (bitsPerPixel <= 8) {
    const size_t maximum = size_t(1) << bitsPerPixel;
    size_t count = coloursUsed == 0 ? maximum : coloursUsed;
    if (count > maximum)
      count = maximum;
    size_t at = FileHeaderSize + headerSize;
    if (headerSize == 40 && masked)
      at += compression == BiAlphaBitfields ? 16 : 12;
    const size_t entrySize = core ? 3 : 4;
    const size_t room = pixelOffset > at ? (pixelOffset - at) / entrySize : 0;
    if (count > room)
      count = room;
    if (count == 0)
      throw fail("corrupt BMP header: no palette");
    palette.resize(count * 3);
    for (size_t i = 0; i < count; ++i) {
      const size_t e = at + i * entrySize;
      palette[3 * i] = b[e + 2];
      palette[3 * i + 1] = b[e + 1];
      palette[3 * i + 2] = b[e];
    }
  }

  // Rows are padded to four bytes. Every row must be in the file before anything is
  // allocated for the pixels.
  const uint64_t stride = (static_cast<uint64_t>(width) * bitsPerPixel + 31) / 32 * 4;
  const uint64_t pixelBytes = stride * static_cast<uint64_t>(height);
  if (b.size() - pixelOffset < pixelBytes)
    throw fail("BMP file is truncated");

  TDecodedImage image;
  AllocatePixels(image, file, static_cast<int>(width), static_cast<int>(height));
  const size_t w = static_cast<size_t>(width);
  size_t badIndexes = 0;
  for (size_t row = 0; row < static_cast<size_t>(height); ++row) {
    ThrowIfInterrupted();
    const size_t y = topDown ? row : static_cast<size_t>(height) - 1 - row;
    const uint8_t* source = b.data() + pixelOffset + row * stride;
    uint8_t* target = image.Pixels.data() + y * w * 3;
    for (size_t x = 0; x < w; ++x, target += 3) {
      switch (bitsPerPixel) {
      case 1:
      case 4:
      case 8: {
        size_t index = 0;
        if (bitsPerPixel == 8)
          index = source[x];
        else if (bitsPerPixel == 4)
          index = (source[x / 2] >> ((x % 2 == 0) ? 4 : 0)) & 0x0F;
        else
          index = (source[x / 8] >> (7 - x % 8)) & 0x01;
        if (3 * index < palette.size()) {
          target[0] = palette[3 * index];
          target[1] = palette[3 * index + 1];
          target[2] = palette[3 * index + 2];
        } else {
          target[0] = target[1] = target[2] = 0;
          ++badIndexes;
        }
        break;
      }
      case 24:
        target[0] = source[3 * x + 2];
        target[1] = source[3 * x + 1];
        target[2] = source[3 * x];
        break;
      default: {
        const uint32_t pixel = bitsPerPixel == 16 ? Get16(b, pixelOffset + row * stride + 2 * x)
                                                  : Get32(b, pixelOffset + row * stride + 4 * x);
        target[0] = red.Extract(pixel);
        target[1] = green.Extract(pixel);
        target[2] = blue.Extract(pixel);
        break;
      }
      }
    }
  }
  if (badIndexes > 0)
    image.Warnings.push_back(Located(file, 0,
                                     std::to_string(badIndexes) +
                                         " pixels use colours past the end of the palette "
                                         "(drawn black)"));
  return image;
}

} // namespace quarvel
