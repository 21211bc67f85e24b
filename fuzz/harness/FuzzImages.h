// Entry points of the picture fuzz targets (fuzz/fuzz_png.cpp, fuzz_jpeg.cpp, fuzz_bmp.cpp)
// and of the test that replays their corpus (tests/fuzz): the bytes are written to a
// file and decoded through the program's own decoders (image/Image.h), as a texture is,
// with the size limit of a typical GL (FuzzImageMaxDimension each way). No GL is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel {

constexpr int FuzzImageMaxDimension = 16384;

// The error message the decoder ends in (quarvel::Error), or "" when the picture decoded.
// A broken invariant of the decoded picture aborts; any other exception leaves the
// function, which the fuzzer reports.
std::string FuzzPNGFile(const uint8_t* data, size_t size);
std::string FuzzJPEGFile(const uint8_t* data, size_t size);
std::string FuzzBMPFile(const uint8_t* data, size_t size);

// The file the bytes are written to for `extension` (".png", ".jpg", ".bmp"): one folder
// per process, reused by every call, removed when the process ends.
std::string FuzzImageFile(const std::string& extension);

} // namespace quarvel
