// Which picture format a file's first bytes say it is, for code that picks a decoder
// (image/Image.h) or names the kind of a file it did not expect.
#pragma once

#include <cstddef>
#include <string>

namespace quarvel {

enum class TPictureKind { None, PNG, JPEG, BMP };

// PNG: 89 'P' 'N' 'G'. JPEG: FF D8, the start-of-image marker, as DecodeJPEG takes it
// (libjpeg skips what stands between it and the next marker). BMP: 'B' 'M'.
TPictureKind PictureKindOf(const std::string& bytes);

} // namespace quarvel
