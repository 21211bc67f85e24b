// Entry points of the picture fuzz targets (fuzz/fuzz_png.cpp, fuzz_jpeg.cpp, fuzz_bmp.cpp)
// and of the test that replays their corpus (tests/fuzz): the bytes are decoded in memory
// by the program's own decoders (image/Image.h), as a texture is, with the size limit of
// a typical GL (FuzzImageMaxDimension each way). No GL is used and no file is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel {

constexpr int FuzzImageMaxDimension = 16384;

// The name the bytes go by in messages.
extern const char* const FuzzImageName;

// The error message the decoder ends in (quarvel::Error), or "" when the picture decoded.
// A broken invariant of the decoded picture aborts; any other exception leaves the
// function, which the fuzzer reports.
std::string FuzzPNGBytes(const uint8_t* data, size_t size);
std::string FuzzJPEGBytes(const uint8_t* data, size_t size);
std::string FuzzBMPBytes(const uint8_t* data, size_t size);

} // namespace quarvel
