// Decoded pictures, the PNG writer and the row flip between file and GL order. No OpenGL
// here: textures are made from these pictures by the GL layer (gl/Texture.h).
#pragma once

#include "common/Error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

// A decoded picture: 24-bit, pixels red, green, blue; row 0 is the top of the picture;
// rows packed, Width * 3 bytes each.
struct TDecodedImage {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;
  // Things the decoder put up with ("file: ..." each): a damaged ancillary chunk, a
  // palette index past the palette's end. The picture decoded anyway; the caller reports
  // these to the user.
  std::vector<std::string> Warnings;
};

// Most pixels one picture may have, whatever the caller allows: 16384 x 16384 (768 MiB
// decoded).
constexpr long long MaxImagePixels = 16384LL * 16384LL;

// The failure of a picture whose header asks for more than the decoder was allowed
// (maxDimension each way, maxPixels in all): refused before any pixel memory is
// allocated. Width and Height are the header's.
class PictureTooLarge : public Error {
public:
  PictureTooLarge(const std::string& message, long long width, long long height)
      : Error(message), Width(width), Height(height) {}
  long long Width;
  long long Height;
};

// Decoders of a picture held in memory. Grey-scale, palette and 16-bit images are
// expanded to 24-bit colour; an alpha channel is dropped (see the .cpp for which colour
// transparent texels get). A picture wider or taller than maxDimension is refused from
// its header, before any pixel is decoded, and so is one of more than maxPixels pixels
// (PictureTooLarge). Between decoded rows a pending interrupt (common/Interrupt.h) stops
// the decoder by throwing Interrupted, so a large picture does not delay Ctrl-C. `name` is what
// every error and warning calls the picture ("name: ..."); every failure throws quarvel::Error.
// `data` may be null when `size` is 0.
TDecodedImage DecodePNG(const uint8_t* data, size_t size, const std::string& name, int maxDimension,
                        long long maxPixels = MaxImagePixels);
TDecodedImage DecodeJPEG(const uint8_t* data, size_t size, const std::string& name,
                         int maxDimension, long long maxPixels = MaxImagePixels);
TDecodedImage DecodeBMP(const uint8_t* data, size_t size, const std::string& name, int maxDimension,
                        long long maxPixels = MaxImagePixels);

// The largest picture file the file decoders read, so that a wrong path (a disk image, a
// video) is refused before it is read into memory. An uncompressed 24-bit BMP of about
// 9400 x 9400 pixels still fits; sprite textures are far smaller.
constexpr uint64_t MaxImageFileBytes = uint64_t{256} << 20;

// The same decoders reading a file, found through the file lookup (common/FileLookup.h);
// messages name the path found. Only regular files of at most MaxImageFileBytes are read.
TDecodedImage DecodePNG(const std::string& fileName, int maxDimension,
                        long long maxPixels = MaxImagePixels);
TDecodedImage DecodeJPEG(const std::string& fileName, int maxDimension,
                         long long maxPixels = MaxImagePixels);
TDecodedImage DecodeBMP(const std::string& fileName, int maxDimension,
                        long long maxPixels = MaxImagePixels);

// Writes a PNG of `channels` bytes per pixel (1 grey, 3 RGB, 4 RGBA), row 0 at the top,
// rows packed. Written through a temporary file and renamed (common/AtomicFile.h).
void WritePNG(const std::string& fileName, int width, int height, int channels,
              const uint8_t* pixels);
// The bytes WritePNG writes, at zlib level `level` (0-9; -1 for libpng's default), for
// callers that write them with other files. `fileName` only names the picture in errors.
std::vector<uint8_t> EncodePNG(const std::string& fileName, int width, int height, int channels,
                               const uint8_t* pixels, int level = -1);

// The picture of `height` packed rows of width * bytesPerPixel bytes upside down: row r
// of the result is row height - 1 - r of `data`. Empty when a size is not positive or
// `data` is null. GL reads and takes pictures bottom row first; files store them top first.
std::vector<uint8_t> FlippedRows(const uint8_t* data, int width, int height, int bytesPerPixel);

} // namespace quarvel
