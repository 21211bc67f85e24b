// Pieces shared by the image decoders (ImageDecode.cpp, ImageBMP.cpp). Not part of the
// public interface: include image/Image.h instead.
#pragma once

#include "image/Image.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {
namespace image_detail {

// At most this many warnings are kept per picture; the rest are counted in one line, so
// a badly damaged file cannot fill memory with messages.
constexpr size_t MaxWarnings = 20;

// Resolves `fileName` through the file lookup and reads the whole file. `resolved`
// receives the path used, which every message then names. Throws quarvel::Error naming
// the file when it is missing, unreadable, not a regular file or larger than
// MaxImageFileBytes. An empty file is returned as it is (the decoders refuse it).
std::vector<uint8_t> LoadImageFile(const std::string& fileName, std::string& resolved);

// Throws quarvel::Error naming the picture when it has no bytes at all.
void CheckNotEmpty(const std::string& name, size_t size);

// Throws quarvel::Error unless 1 <= width, height <= maxDimension and width * height is at
// most maxPixels (and MaxImagePixels); a picture too large throws PictureTooLarge. Called
// with the header's figures before any pixel memory is allocated.
void CheckImageSize(const std::string& file, long long width, long long height, int maxDimension,
                    long long maxPixels);

// Adds "file: text" to `warnings` (or counts it once the list is full).
void AddWarning(std::vector<std::string>& warnings, size_t& dropped, const std::string& file,
                const std::string& text);
// Appends the "and N more" line when warnings were dropped.
void FinishWarnings(std::vector<std::string>& warnings, size_t dropped, const std::string& file);

// Allocates width * height * 3 bytes for `image`, turning an allocation failure into a
// quarvel::Error naming the file.
void AllocatePixels(TDecodedImage& image, const std::string& file, int width, int height);

} // namespace image_detail
} // namespace quarvel
