#include "colour/Palette.h"

#include "colour/LiteralPalette.h"
#include "colour/TestSheet.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quarvel {
namespace {

using test::MakeSheet;

void SetPixel(TAngleSheet& s, size_t i, TRGBTriple c) {
  s.ColourPlane[3 * i] = c.Blue;
  s.ColourPlane[3 * i + 1] = c.Green;
  s.ColourPlane[3 * i + 2] = c.Red;
}

const TPaletteEntry Reserved = MakeEntry(255, 0, 255, 0);
const TPaletteEntry Unused = MakeEntry(255, 0, 255, 255);

TEST(Palette, ReservedColours) {
  const auto& reserved = ReservedColours();
  ASSERT_EQ(reserved.size(), 25u);
  EXPECT_EQ(reserved[0], BackgroundKey);
  EXPECT_EQ(reserved[1], MakeTriple(0, 5, 29));
  EXPECT_EQ(reserved[8], MakeTriple(0, 40, 232));
  EXPECT_EQ(reserved[9], MakeTriple(0, 45, 5)); // 29 * 9 = 261 wraps to 5
  EXPECT_EQ(reserved[18], MakeTriple(0, 90, 10));
  EXPECT_EQ(reserved[24], MakeTriple(0, 120, 184));

  // The distinct-colour list starts with them and keeps first-appearance order after.
  TAngleSheet s = MakeSheet(2, 3, 2);
  SetPixel(s, 0, MakeTriple(9, 9, 9));
  SetPixel(s, 1, MakeTriple(0, 45, 5));
  SetPixel(s, 4, MakeTriple(1, 1, 1)); // frame 1, row 0: before row 1 of frame 0
  SetPixel(s, 6, MakeTriple(2, 2, 2));
  SetPixel(s, 7, MakeTriple(9, 9, 9));
  const TRGBTripleArray colours = DistinctColours(s);
  ASSERT_EQ(colours.size(), 28u);
  EXPECT_TRUE(std::equal(reserved.begin(), reserved.end(), colours.begin()));
  EXPECT_EQ(colours[25], MakeTriple(9, 9, 9));
  EXPECT_EQ(colours[26], MakeTriple(1, 1, 1));
  EXPECT_EQ(colours[27], MakeTriple(2, 2, 2));
}

// The ordered set shares one bit table per thread; lists alive at the same time and
// lists made one after another must not see each other's colours.
TEST(Palette, UniqueColourListsAreIndependent) {
  const TRGBTriple a = MakeTriple(1, 2, 3), b = MakeTriple(4, 5, 6);
  {
    TUniqueColourList first;
    first.AddUniqueColour(a);
    first.AddUniqueColour(a);
    first.AddUniqueColour(BackgroundKey);
    EXPECT_EQ(first.Count(), 26);
    TUniqueColourList second;
    second.AddUniqueColour(b);
    second.AddUniqueColour(a);
    EXPECT_EQ(second.Count(), 27);
    EXPECT_EQ(second.Colours()[25], b);
    EXPECT_EQ(second.Colours()[26], a);
    first.AddUniqueColour(b);
    EXPECT_EQ(first.Count(), 27);
    const TRGBTripleArray taken = first.TakeColours();
    EXPECT_EQ(taken.size(), 27u);
  }
  TUniqueColourList later;
  later.AddUniqueColour(b);
  later.AddUniqueColour(a);
  ASSERT_EQ(later.Count(), 27);
  EXPECT_EQ(later.Colours()[25], b);
}

TEST(Palette, SheetPaletteLayout) {
  // All background: reserved entries, then nothing but unused ones.
  TAngleSheet empty = MakeSheet(1, 4, 4);
  MakeSheetPalette(empty);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(empty.Palette[i], i < 25 ? Reserved : Unused) << i;

  // Reserved colours never reach the quantizer; two colours snapping to one RGB565 colour
  // become one entry; colours are snapped before quantizing; order is the octree's.
  TAngleSheet s = MakeSheet(1, 8, 1);
  SetPixel(s, 0, MakeTriple(255, 255, 255));
  SetPixel(s, 1, MakeTriple(0, 45, 5));
  SetPixel(s, 2, MakeTriple(0, 5, 29));
  SetPixel(s, 3, MakeTriple(250, 254, 250));
  SetPixel(s, 4, MakeTriple(4, 4, 4));
  SetPixel(s, 5, MakeTriple(16, 32, 64));
  MakeSheetPalette(s);
  EXPECT_EQ(s.Palette[25], MakeEntry(0, 4, 8, 0));
  EXPECT_EQ(s.Palette[26], MakeEntry(16, 32, 64, 0));
  EXPECT_EQ(s.Palette[27], MakeEntry(248, 252, 248, 0));
  for (int i = 0; i < 25; ++i)
    EXPECT_EQ(s.Palette[i], Reserved);
  for (int i = 28; i < 256; ++i)
    EXPECT_EQ(s.Palette[i], Unused);
}

TEST(Palette, KeepsUpTo231ColoursExactly) {
  TAngleSheet s = MakeSheet(3, 11, 7); // 231 pixels
  std::vector<TPaletteEntry> expected;
  for (size_t i = 0; i < 231; ++i) {
    const TRGBTriple c =
        MakeTriple(static_cast<uint8_t>(8 * (i % 31)), static_cast<uint8_t>(4 * (i / 31)), 64);
    SetPixel(s, i, c);
    expected.push_back(TripleToEntry(c, 0));
  }
  MakeSheetPalette(s);
  std::vector<TPaletteEntry> got(s.Palette.begin() + 25, s.Palette.end());
  std::sort(got.begin(), got.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(got, expected);
}

// The hashed list and table-free snapping must reproduce the literal build exactly,
// including the octree's order-dependent reductions on a sheet of many colours.
TEST(Palette, MatchesLiteralBuild) {
  std::mt19937 rng(99);
  std::vector<TAngleSheet> sheets;
  for (int a = 0; a < 3; ++a) {
    TAngleSheet s = MakeSheet(2, 30, 20);
    for (size_t i = 0; i < s.PixelCount(); ++i) {
      const unsigned roll = rng() % 10;
      if (roll < 3)
        continue; // background
      if (roll == 3)
        SetPixel(s, i, ReservedColours()[rng() % 25]);
      else if (roll == 4) // not representable: snapped first
        SetPixel(s, i,
                 MakeTriple(static_cast<uint8_t>(rng() % 64 + 100), static_cast<uint8_t>(rng()),
                            static_cast<uint8_t>(rng() % 32)));
      else
        SetPixel(s, i,
                 MakeTriple(static_cast<uint8_t>(rng() % 8 * 8 + 96),
                            static_cast<uint8_t>(rng() % 64 * 4),
                            static_cast<uint8_t>(rng() % 4 * 8)));
    }
    sheets.push_back(std::move(s));
  }
  for (bool single : {false, true}) {
    std::vector<TAngleSheet> fast = sheets, slow = sheets;
    BuildSheetPalettes(fast, single, nullptr);
    literal::MakePalettes(slow, single);
    for (size_t a = 0; a < sheets.size(); ++a)
      EXPECT_EQ(fast[a].Palette, slow[a].Palette) << "sheet " << a << " single " << single;
    // The octree had to reduce: more colours than entries.
    EXPECT_GT(DistinctColours(sheets[0]).size(), 25u + 231u + 100u);
  }
}

TEST(Palette, SingleOutputAndProgress) {
  std::vector<TAngleSheet> sheets;
  sheets.push_back(MakeSheet(1, 2, 1));
  sheets.push_back(MakeSheet(1, 2, 1));
  SetPixel(sheets[0], 0, MakeTriple(8, 8, 8));
  SetPixel(sheets[1], 0, MakeTriple(16, 16, 16));
  SetPixel(sheets[1], 1, MakeTriple(8, 8, 8));

  std::vector<std::pair<int, std::string>> calls;
  auto record = [&calls](int32_t percent, const std::string& text) {
    calls.emplace_back(percent, text);
  };
  std::vector<TAngleSheet> separate = sheets;
  BuildSheetPalettes(separate, false, record);
  EXPECT_EQ(calls, (std::vector<std::pair<int, std::string>>{{0, "Making 8 Bit Palette"},
                                                             {50, "Making 8 Bit Palette"}}));
  EXPECT_EQ(separate[0].Palette[25], MakeEntry(8, 8, 8, 0));
  EXPECT_EQ(separate[0].Palette[26], Unused);
  EXPECT_EQ(separate[1].Palette[25], MakeEntry(8, 8, 8, 0));
  EXPECT_EQ(separate[1].Palette[26], MakeEntry(16, 16, 16, 0));

  // Shared: the union quantized again; every entry of 0..24 is left unused-looking.
  BuildSheetPalettes(sheets, true, nullptr);
  EXPECT_EQ(sheets[0].Palette, sheets[1].Palette);
  EXPECT_EQ(sheets[0].Palette[0], Unused);
  EXPECT_EQ(sheets[0].Palette[24], Unused);
  EXPECT_EQ(sheets[0].Palette[25], MakeEntry(8, 8, 8, 0));
  EXPECT_EQ(sheets[0].Palette[26], MakeEntry(16, 16, 16, 0));
  EXPECT_EQ(sheets[0].Palette[27], Unused);

  calls.clear();
  std::vector<TAngleSheet> one(1, MakeSheet(1, 1, 1));
  BuildSheetPalettes(one, false, record);
  EXPECT_EQ(calls, (std::vector<std::pair<int, std::string>>{{0, "Making 8 Bit Palette"}}));
}

} // namespace
} // namespace quarvel
