#include "colour/Colour.h"

#include "colour/LiteralPalette.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace quarvel {
namespace {

std::string Show(TRGBTriple t) {
  return "(" + std::to_string(t.Red) + ", " + std::to_string(t.Green) + ", " +
         std::to_string(t.Blue) + ")";
}

TRGBTriple Snapped(uint8_t r, uint8_t g, uint8_t b) {
  TRGBTriple t = MakeTriple(r, g, b);
  SnapTriple(t);
  return t;
}

TEST(Colour, FormsAndConversions) {
  // Memory order of a triple is blue, green, red.
  const TRGBTriple t = MakeTriple(1, 2, 3);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&t);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(bytes[1], 2);
  EXPECT_EQ(bytes[2], 1);
  EXPECT_EQ(BackgroundKey, MakeTriple(255, 0, 255));

  EXPECT_EQ(MakeColor(0x11, 0x22, 0x33), 0x332211u);
  EXPECT_EQ(MakeEntry(0x11, 0x22, 0x33, 0x44), 0x44112233u);
  EXPECT_EQ(TripleToColor(MakeTriple(0x11, 0x22, 0x33)), 0x332211u);
  EXPECT_EQ(ColorToTriple(0x332211u), MakeTriple(0x11, 0x22, 0x33));
  EXPECT_EQ(EntryToTriple(0x44112233u), MakeTriple(0x11, 0x22, 0x33));
  EXPECT_EQ(EntryExtra(0x44112233u), 0x44);
  EXPECT_EQ(TripleToEntry(MakeTriple(0x11, 0x22, 0x33), 0x44), 0x44112233u);

  // Expansion only shifts; reduction only truncates.
  EXPECT_EQ(ColorToTriple(RGB565ToColor(0xFFFF)), MakeTriple(248, 252, 248));
  EXPECT_EQ(ColorToRGB565(MakeColor(255, 255, 255)), 0xFFFF);
  EXPECT_EQ(ColorToRGB565(MakeColor(7, 3, 7)), 0x0000);
  EXPECT_EQ(TripleToRGB565(MakeTriple(248, 128, 96)), 0xFC0C);
  EXPECT_EQ(TripleToRGB565(MakeTriple(32, 96, 32)), 0x2304);
  EXPECT_EQ(TripleToRGB565(BackgroundKey), 0xF81F);
  EXPECT_EQ(ColorToTriple(RGB565ToColor(0xF800)), MakeTriple(248, 0, 0));
  EXPECT_EQ(ColorToTriple(RGB565ToColor(0x07E0)), MakeTriple(0, 252, 0));
  EXPECT_EQ(ColorToTriple(RGB565ToColor(0x001F)), MakeTriple(0, 0, 248));
}

TEST(Colour, Lightness) {
  EXPECT_EQ(TripleLightness(MakeTriple(255, 0, 255)), 127);
  EXPECT_EQ(TripleLightness(MakeTriple(0, 0, 0)), 0);
  EXPECT_EQ(TripleLightness(MakeTriple(255, 255, 255)), 255);
  EXPECT_EQ(TripleLightness(MakeTriple(10, 200, 30)), 105);
  EXPECT_EQ(EntryLightness(MakeEntry(10, 200, 30, 77)), 105);

  // The integer form must agree with the single-precision HSL formula for every pair of
  // largest and smallest components (the middle one does not matter), in every position.
  for (int hi = 0; hi < 256; ++hi)
    for (int lo = 0; lo <= hi; ++lo) {
      const auto h = static_cast<uint8_t>(hi), l = static_cast<uint8_t>(lo);
      const uint8_t expected = literal::FloatLightness(h, l, l);
      ASSERT_EQ(TripleLightness(MakeTriple(h, l, l)), expected) << hi << "," << lo;
      ASSERT_EQ(TripleLightness(MakeTriple(l, h, l)), expected) << hi << "," << lo;
      ASSERT_EQ(TripleLightness(MakeTriple(l, l, h)), expected) << hi << "," << lo;
      ASSERT_EQ(literal::FloatLightness(l, h, static_cast<uint8_t>((hi + lo) / 2)), expected);
    }
}

TEST(Colour, Table) {
  ASSERT_EQ(RGB565Table.size(), 65536u);
  EXPECT_EQ(RGB565Table[0], MakeTriple(0, 0, 0));
  EXPECT_EQ(RGB565Table[1], MakeTriple(0, 0, 8));
  EXPECT_EQ(RGB565Table[32], MakeTriple(0, 4, 0));
  EXPECT_EQ(RGB565Table[2048], MakeTriple(8, 0, 0));
  EXPECT_EQ(RGB565Table[65535], MakeTriple(248, 252, 248));
  for (uint32_t i = 0; i < 65536; ++i) {
    ASSERT_EQ(TripleToRGB565(RGB565Table[i]), i);
    ASSERT_TRUE(IsRepresentable(RGB565Table[i]));
    ASSERT_EQ(RGB565Lightness[i], TripleLightness(RGB565Table[i]));
  }
}

TEST(Colour, SnapExamples) {
  EXPECT_EQ(Snapped(248, 252, 248), MakeTriple(248, 252, 248));
  EXPECT_EQ(Snapped(255, 255, 255), MakeTriple(248, 252, 248));
  // Red halfway: black and (8, 0, 0) are equally near and equally light; lower code wins.
  EXPECT_EQ(Snapped(4, 0, 0), MakeTriple(0, 0, 0));
  // Four candidates at distance 8; two tie on lightness; the lower code wins.
  EXPECT_EQ(Snapped(4, 4, 4), MakeTriple(0, 4, 8));
  EXPECT_EQ(Snapped(100, 102, 100), MakeTriple(96, 100, 104));
  EXPECT_EQ(Snapped(255, 0, 255), MakeTriple(248, 0, 248));
  EXPECT_EQ(Snapped(0, 255, 0), MakeTriple(0, 252, 0));
  // Above the top grid value there is only one neighbour.
  EXPECT_EQ(Snapped(252, 254, 252), MakeTriple(248, 252, 248));
  EXPECT_EQ(Snapped(244, 250, 244), FindNearestRGB565(MakeTriple(244, 250, 244)));

  TRGBTriple representable = MakeTriple(8, 4, 16);
  SnapTriple(representable);
  EXPECT_EQ(representable, MakeTriple(8, 4, 16));

  TPaletteEntry e = MakeEntry(255, 255, 255, 0xAB);
  SnapEntry(e);
  EXPECT_EQ(e, MakeEntry(248, 252, 248, 0xAB));
  e = MakeEntry(4, 4, 4, 0);
  SnapEntry(e);
  EXPECT_EQ(e, MakeEntry(0, 4, 8, 0));
}

// The constant-time search must give the full scan's answer. Ties (a component exactly
// halfway between grid values) are where it can go wrong, so every combination of
// component classes is covered: on the grid, halfway, just below or above halfway, and
// above the top grid value.
TEST(Colour, NearestMatchesFullScan) {
  std::mt19937 rng(12345);
  auto classValue = [&rng](int cls, int step) -> uint8_t {
    const int top = 256 - step;
    const int cells = top / step; // grid intervals below the top value
    const int base = static_cast<int>(rng() % static_cast<unsigned>(cells)) * step;
    switch (cls) {
    case 0:
      return static_cast<uint8_t>(base);
    case 1:
      return static_cast<uint8_t>(base + step / 2);
    case 2:
      return static_cast<uint8_t>(base + step / 2 - 1);
    case 3:
      return static_cast<uint8_t>(base + step / 2 + 1);
    default:
      return static_cast<uint8_t>(top + 1 +
                                  static_cast<int>(rng() % static_cast<unsigned>(step - 1)));
    }
  };
  std::vector<TRGBTriple> cases;
  for (int rc = 0; rc < 5; ++rc)
    for (int gc = 0; gc < 5; ++gc)
      for (int bc = 0; bc < 5; ++bc)
        for (int k = 0; k < 6; ++k)
          cases.push_back(MakeTriple(classValue(rc, 8), classValue(gc, 4), classValue(bc, 8)));
  // All three components halfway, lightness ties across the whole range of one component.
  for (int r = 4; r < 252; r += 8)
    cases.push_back(MakeTriple(static_cast<uint8_t>(r), 2, 4));
  for (int g = 2; g < 254; g += 4)
    cases.push_back(MakeTriple(4, static_cast<uint8_t>(g), 4));
  for (int b = 4; b < 252; b += 8)
    cases.push_back(MakeTriple(124, 126, static_cast<uint8_t>(b)));
  for (int v = 0; v < 256; ++v) {
    const auto u = static_cast<uint8_t>(v);
    cases.push_back(MakeTriple(u, u, u));
  }
  // And a random sample.
  for (int k = 0; k < 1500; ++k)
    cases.push_back(MakeTriple(static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                               static_cast<uint8_t>(rng())));

  for (const TRGBTriple& t : cases) {
    ASSERT_EQ(Show(FindNearestRGB565(t)), Show(literal::FindNearestRGB565(t))) << "for " << Show(t);
    TRGBTriple fast = t, slow = t;
    SnapTriple(fast);
    literal::SnapTriple(slow);
    ASSERT_EQ(fast, slow);
  }
}

} // namespace
} // namespace quarvel
