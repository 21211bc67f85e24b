// Row order between files (top row first) and GL (bottom row first).

#include "image/Image.h"

#include <cstring>

namespace quarvel {

std::vector<uint8_t> FlippedRows(const uint8_t* data, int width, int height, int bytesPerPixel) {
  if (data == nullptr || width <= 0 || height <= 0 || bytesPerPixel <= 0)
    return {};
  const size_t row = static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel);
  const size_t rows = static_cast<size_t>(height);
  std::vector<uint8_t> out(row * rows);
  for (size_t r = 0; r < rows; ++r)
    std::memcpy(out.data() + r * row, data + (rows - 1 - r) * row, row);
  return out;
}

} // namespace quarvel
