#include "colour/Quantizer.h"

#include "common/Error.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace quarvel {
namespace {

std::vector<TPaletteEntry> Quantize(const TRGBTripleArray& colours, int32_t limit,
                                    int32_t depth = 8) {
  TColorQuantizer q(limit, depth);
  q.AddImage(colours);
  EXPECT_LE(q.Leaves(), limit);
  return q.ExtractPalette();
}

TPaletteEntry E(uint8_t r, uint8_t g, uint8_t b) {
  return MakeEntry(r, g, b, 0);
}

TEST(Quantizer, EmptyAndExactColours) {
  EXPECT_TRUE(Quantize({}, 231).empty());
  TColorQuantizer q(5, 8);
  q.AddImage(nullptr, 0, 7);
  EXPECT_TRUE(q.ExtractPalette().empty());

  // Within the limit at depth 8 every distinct colour is its own leaf, in index order:
  // red is the most significant bit of the child index.
  EXPECT_EQ(Quantize({MakeTriple(255, 0, 0), MakeTriple(0, 255, 255), MakeTriple(0, 255, 255),
                      MakeTriple(1, 2, 3)},
                     3),
            (std::vector<TPaletteEntry>{E(1, 2, 3), E(0, 255, 255), E(255, 0, 0)}));
  // A 2 x 2 image is read row by row.
  const TRGBTriple image[4] = {MakeTriple(9, 9, 9), MakeTriple(1, 1, 1), MakeTriple(5, 5, 5),
                               MakeTriple(7, 7, 7)};
  TColorQuantizer q2(4, 8);
  q2.AddImage(image, 2, 2);
  EXPECT_EQ(q2.ExtractPalette(),
            (std::vector<TPaletteEntry>{E(1, 1, 1), E(5, 5, 5), E(7, 7, 7), E(9, 9, 9)}));
}

TEST(Quantizer, MergesKeepSumsAndTruncate) {
  EXPECT_EQ(Quantize({MakeTriple(0, 0, 0), MakeTriple(0, 0, 1)}, 1),
            (std::vector<TPaletteEntry>{E(0, 0, 0)}));
  // Colours on opposite sides of the root fold all the way up into one leaf.
  EXPECT_EQ(Quantize({MakeTriple(0, 0, 0), MakeTriple(128, 0, 0)}, 1),
            (std::vector<TPaletteEntry>{E(64, 0, 0)}));

  // With a limit of 1 any image gives the truncated average of everything added.
  std::mt19937 rng(7);
  TRGBTripleArray colours;
  long long r = 0, g = 0, b = 0;
  for (int k = 0; k < 5000; ++k) {
    const TRGBTriple c = MakeTriple(static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                                    static_cast<uint8_t>(rng()));
    colours.push_back(c);
    r += c.Red;
    g += c.Green;
    b += c.Blue;
  }
  EXPECT_EQ(Quantize(colours, 1), (std::vector<TPaletteEntry>{E(static_cast<uint8_t>(r / 5000),
                                                                static_cast<uint8_t>(g / 5000),
                                                                static_cast<uint8_t>(b / 5000))}));

  // A shallower tree puts colours sharing their top Depth bits in one leaf.
  EXPECT_EQ(Quantize({MakeTriple(0, 0, 0), MakeTriple(63, 63, 63), MakeTriple(64, 0, 0)}, 8, 2),
            (std::vector<TPaletteEntry>{E(31, 31, 31), E(64, 0, 0)}));
}

// The most recently created branching node of the deepest level is folded first, so the
// same colours in another order keep different survivors.
TEST(Quantizer, ReductionFollowsInsertionOrder) {
  const TRGBTriple a1 = MakeTriple(0, 0, 0), a2 = MakeTriple(0, 0, 1);
  const TRGBTriple b1 = MakeTriple(255, 255, 254), b2 = MakeTriple(255, 255, 255);
  EXPECT_EQ(Quantize({a1, a2, b1, b2}, 3),
            (std::vector<TPaletteEntry>{E(0, 0, 0), E(0, 0, 1), E(255, 255, 254)}));
  EXPECT_EQ(Quantize({b1, b2, a1, a2}, 3),
            (std::vector<TPaletteEntry>{E(0, 0, 0), E(255, 255, 254), E(255, 255, 255)}));
  // A node with a single child folds without freeing a leaf, and the reduction goes on
  // with the next node of that level: here a1/a2 merge although c was added last.
  const TRGBTriple c = MakeTriple(200, 100, 50);
  EXPECT_EQ(Quantize({a1, a2, c}, 2), (std::vector<TPaletteEntry>{E(0, 0, 0), E(200, 100, 50)}));
  // Pixel counts do not matter: the many-pixel pair is merged because it is newest.
  EXPECT_EQ(Quantize({b1, b2, a1, a1, a1, a2, a2}, 3),
            (std::vector<TPaletteEntry>{E(0, 0, 0), E(255, 255, 254), E(255, 255, 255)}));
}

TEST(Quantizer, BrokenContractsAreAssertionFailures) {
  auto expectAssertion = [](auto&& action) {
    try {
      action();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("Assertion failure (Quantizer.cpp, line ", 0), 0u) << message;
      EXPECT_EQ(message.back(), ')') << message;
    }
  };
  expectAssertion([] { TColorQuantizer q(231, 9); });
  expectAssertion([] { TColorQuantizer q(231, 0); });
  expectAssertion([] { TColorQuantizer q(0, 8); });
  TColorQuantizer q(231, 8);
  expectAssertion([&q] { q.AddImage(nullptr, 1048576, 1); });
  expectAssertion([&q] { q.AddImage(nullptr, 1, 1048576); });
  EXPECT_TRUE(q.ExtractPalette().empty());
}

} // namespace
} // namespace quarvel
