// Every output file is written to a temporary file in the same folder and renamed over
// the old one when it is complete: a failed or interrupted save never leaves a
// truncated file and never loses the previous output. Missing folders are created.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

// Writes `size` bytes to `fileName` atomically. Throws quarvel::Error naming the file
// when it cannot be written (no temporary file is left behind).
void WriteFileAtomic(const std::string& fileName, const void* data, size_t size);
inline void WriteFileAtomic(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  WriteFileAtomic(fileName, bytes.data(), bytes.size());
}

} // namespace quarvel
