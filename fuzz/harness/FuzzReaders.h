// Entry points of the output-file fuzz targets (fuzz/fuzz_kxz.cpp, fuzz_p16.cpp,
// fuzz_2p5d.cpp) and of the test that replays their corpus (tests/fuzz): the bytes are
// decoded in memory by the readers of output/Readers.h as the `view` command decodes a
// file. No GL is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel {

// The name the bytes go by in messages.
extern const char* const FuzzReaderName;

// The error message the reader ends in (quarvel::Error), or "" when the bytes were read.
// A broken invariant of what was read aborts; any other exception leaves the function,
// which the fuzzer reports.
std::string FuzzKXZBytes(const uint8_t* data, size_t size);
std::string FuzzPalette16Bytes(const uint8_t* data, size_t size);
std::string Fuzz2P5DBytes(const uint8_t* data, size_t size);

} // namespace quarvel
