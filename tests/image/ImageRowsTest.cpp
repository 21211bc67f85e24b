// The row flip between file order (top row first) and GL order (bottom row first).

#include "image/Image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace quarvel;

namespace {

using Bytes = std::vector<uint8_t>;

// Every byte of a picture different, so a row, pixel or byte out of place shows.
Bytes Numbered(size_t count) {
  Bytes out(count);
  for (size_t i = 0; i < count; ++i)
    out[i] = static_cast<uint8_t>(i + 1);
  return out;
}

} // namespace

TEST(FlippedRows, ReversesWholeRowsOfAnyPixelSize) {
  // 2 x 3 pixels of 3 bytes: rows of 6 bytes, the last row comes first.
  const Bytes rgb = Numbered(18);
  EXPECT_EQ(FlippedRows(rgb.data(), 2, 3, 3),
            (Bytes{13, 14, 15, 16, 17, 18, 7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}));

  // 3 x 2 pixels of 4 bytes, and of 1 byte.
  const Bytes rgba = Numbered(24);
  EXPECT_EQ(FlippedRows(rgba.data(), 3, 2, 4),
            (Bytes{13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                   1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12}));
  const Bytes grey = Numbered(6);
  EXPECT_EQ(FlippedRows(grey.data(), 3, 2, 1), (Bytes{4, 5, 6, 1, 2, 3}));

  // One row stays as it is; flipping twice gives the picture back.
  EXPECT_EQ(FlippedRows(grey.data(), 6, 1, 1), grey);
  const Bytes odd = Numbered(7 * 5 * 3);
  const Bytes once = FlippedRows(odd.data(), 7, 5, 3);
  EXPECT_NE(once, odd);
  EXPECT_EQ(FlippedRows(once.data(), 7, 5, 3), odd);
  // The middle row of an odd height keeps its place.
  EXPECT_EQ(Bytes(once.begin() + 2 * 21, once.begin() + 3 * 21),
            Bytes(odd.begin() + 2 * 21, odd.begin() + 3 * 21));
}

TEST(FlippedRows, NothingForNoPixels) {
  const Bytes one = Numbered(4);
  EXPECT_TRUE(FlippedRows(one.data(), 0, 1, 4).empty());
  EXPECT_TRUE(FlippedRows(one.data(), 1, 0, 4).empty());
  EXPECT_TRUE(FlippedRows(one.data(), 1, 1, 0).empty());
  EXPECT_TRUE(FlippedRows(one.data(), -1, 1, 4).empty());
  EXPECT_TRUE(FlippedRows(one.data(), 1, -1, 4).empty());
  EXPECT_TRUE(FlippedRows(nullptr, 1, 1, 4).empty());
}
