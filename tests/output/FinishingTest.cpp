#include "output/Finishing.h"

#include "colour/LiteralPalette.h"
#include "colour/TestSheet.h"
#include "common/Error.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace quarvel {
namespace {

using test::MakeSheet;

void SetPixel(TAngleSheet& s, size_t i, TRGBTriple c, uint8_t depth) {
  s.ColourPlane[3 * i] = c.Blue;
  s.ColourPlane[3 * i + 1] = c.Green;
  s.ColourPlane[3 * i + 2] = c.Red;
  s.DepthPlane[i] = depth;
}

TEST(Finishing, SideRampTable) {
  // i: unsnapped red, green, blue; grey; snapped red, green, blue.
  const int table[24][7] = {{10, 5, 4, 6, 8, 4, 8},
                            {20, 10, 8, 12, 16, 8, 8},
                            {31, 16, 12, 19, 32, 16, 8},
                            {41, 21, 16, 26, 40, 20, 16},
                            {51, 26, 20, 32, 48, 24, 24},
                            {62, 32, 24, 39, 64, 32, 24},
                            {72, 37, 28, 45, 72, 36, 24},
                            {82, 42, 32, 52, 80, 40, 32},
                            {93, 48, 36, 59, 96, 48, 32},
                            {103, 53, 40, 65, 104, 52, 40},
                            {113, 58, 44, 71, 112, 56, 40},
                            {124, 64, 48, 78, 120, 64, 48},
                            {134, 69, 52, 85, 136, 68, 48},
                            {144, 74, 56, 91, 144, 72, 56},
                            {155, 80, 60, 98, 152, 80, 64},
                            {165, 85, 64, 104, 168, 84, 64},
                            {175, 90, 68, 111, 176, 88, 64},
                            {186, 96, 72, 118, 184, 96, 72},
                            {196, 101, 76, 124, 192, 100, 80},
                            {206, 106, 80, 130, 208, 104, 80},
                            {217, 112, 84, 137, 216, 112, 80},
                            {227, 117, 88, 144, 224, 116, 88},
                            {237, 122, 92, 150, 240, 120, 88},
                            {248, 128, 96, 157, 248, 128, 96}};
  EXPECT_EQ(SideRamp()[0], MakeEntry(32, 96, 32, 0));
  for (int i = 1; i <= 24; ++i) {
    const int* row = table[i - 1];
    const auto u = [](int v) { return static_cast<uint8_t>(v); };
    EXPECT_EQ(SideRamp()[i], MakeEntry(u(row[0]), u(row[1]), u(row[2]), 0)) << i;
    EXPECT_EQ(SideRampGrey(i), row[3]) << i;
    TPaletteEntry snapped = SideRamp()[i];
    SnapEntry(snapped);
    EXPECT_EQ(snapped, MakeEntry(u(row[4]), u(row[5]), u(row[6]), 0)) << i;
  }
}

TEST(Finishing, RampIndexOfEveryShade) {
  // Upper shade of each ramp index's range; 154 to 255 all give 24.
  const int upper[24] = {9,  15, 22,  29,  35,  42,  48,  55,  62,  68,  74,  81,
                         88, 94, 101, 107, 114, 121, 127, 133, 140, 147, 153, 255};
  int index = 1;
  for (int v = 1; v <= 255; ++v) {
    if (v > upper[index - 1])
      ++index;
    ASSERT_EQ(NearestRampIndex(static_cast<uint8_t>(v)), index) << "shade " << v;
    ASSERT_EQ(literal::NearestRampIndex(static_cast<uint8_t>(v)), index) << "shade " << v;
  }
  EXPECT_EQ(NearestRampIndex(100), 15);
}

TEST(Finishing, NearestPaletteIndexTies) {
  TPalette palette;
  palette.fill(MakeEntry(255, 0, 255, 255));
  for (int i = 0; i < 25; ++i)
    palette[i] = MakeEntry(255, 0, 255, 0);
  palette[25] = MakeEntry(0, 0, 0, 0);
  palette[26] = MakeEntry(8, 0, 0, 0);  // lightness 4
  palette[27] = MakeEntry(0, 0, 16, 0); // lightness 8
  palette[28] = MakeEntry(8, 0, 0, 0);  // duplicate of 26
  std::array<uint8_t, 256> lightness{};
  for (int j = 0; j < 256; ++j)
    lightness[j] = EntryLightness(palette[j]);

  // Background and anything nearest to it: the first of the identical entries.
  EXPECT_EQ(NearestPaletteIndex(palette, lightness, BackgroundKey), 0);
  EXPECT_EQ(NearestPaletteIndex(palette, lightness, MakeTriple(250, 10, 250)), 0);
  // (4, 0, 4): distance 8 to black, 26 and 27 alike; lightness 2 is 2 from black (0) and
  // from 26 (4), 6 from 27 (8): black, the lower index, wins.
  EXPECT_EQ(NearestPaletteIndex(palette, lightness, MakeTriple(4, 0, 4)), 25);
  // (6, 0, 2): distance 8 to black, 4 to 26 and 28: 26.
  EXPECT_EQ(NearestPaletteIndex(palette, lightness, MakeTriple(6, 0, 2)), 26);
  // (4, 0, 12): distance 16 to black, 20 to 26, 8 to 27.
  EXPECT_EQ(NearestPaletteIndex(palette, lightness, MakeTriple(4, 0, 12)), 27);
  // (4, 4, 4): distance 12 to black and to 26; lightness 4 matches 26 exactly.
  EXPECT_EQ(NearestPaletteIndex(palette, lightness, MakeTriple(4, 4, 4)), 26);
  for (TRGBTriple t : {MakeTriple(4, 0, 4), MakeTriple(6, 0, 2), MakeTriple(4, 4, 4),
                       MakeTriple(200, 100, 3), BackgroundKey})
    EXPECT_EQ(NearestPaletteIndex(palette, lightness, t), literal::NearestPaletteIndex(palette, t));
}

// A 4 x 2 sheet of two frames, byte for byte.
TEST(Finishing, RawFileOfSmallSheet) {
  TAngleSheet s = MakeSheet(2, 2, 2);
  SetPixel(s, 1, MakeTriple(100, 150, 200), 7); // a coloured pixel
  SetPixel(s, 2, BackgroundKey, 9);             // a side pixel of shade 100
  s.SidePlane[2] = 100;
  s.SidePlane[5] = 60;                     // side shade without depth: index stays
  SetPixel(s, 6, MakeTriple(0, 45, 5), 3); // reserved colour
  std::vector<TAngleSheet> sheets{s};
  BuildSheetPalettes(sheets, false, nullptr);
  FinishSheet(sheets[0]);
  const std::vector<uint8_t> bytes = Make2P5D(sheets[0]);

  ASSERT_EQ(bytes.size(), 1052u);
  const std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 28);
  EXPECT_EQ(head, (std::vector<uint8_t>{4, 0,  0,  0, 2, 0, 0,  0, 2, 0, 0, 0, // sizes
                                        0, 7,  9,  0, 0, 0, 3,  0,             // depth
                                        0, 25, 15, 0, 0, 0, 25, 0}));          // index
  // The reserved (0, 45, 5) stays out of the palette but maps to its nearest colour.
  const uint8_t* palette = &bytes[28];
  auto entry = [palette](int j) {
    return std::vector<uint8_t>(palette + 4 * j, palette + 4 * j + 4);
  };
  EXPECT_EQ(entry(0), (std::vector<uint8_t>{32, 96, 32, 0}));
  EXPECT_EQ(entry(1), (std::vector<uint8_t>{8, 4, 8, 0}));
  EXPECT_EQ(entry(15), (std::vector<uint8_t>{64, 80, 152, 0}));
  EXPECT_EQ(entry(24), (std::vector<uint8_t>{96, 128, 248, 0}));
  // (100, 150, 200) snaps to the lowest code of four equally near, equally light colours.
  EXPECT_EQ(entry(25), (std::vector<uint8_t>{200, 148, 96, 0}));
  EXPECT_EQ(entry(26), (std::vector<uint8_t>{255, 0, 255, 255}));
  EXPECT_EQ(entry(255), (std::vector<uint8_t>{255, 0, 255, 255}));

  // Written through the atomic writer, replacing an older file.
  const std::string dir = ::testing::TempDir() + "/finishing_raw";
  std::filesystem::create_directories(dir);
  const std::string name = SheetFileName(dir + "/tree", 0, "2p5d");
  EXPECT_EQ(name, dir + "/tree_0.2p5d");
  EXPECT_EQ(SheetFileName("units/tank", 12, "kxz"), "units/tank_12.kxz");
  std::ofstream(name) << "old and longer than the new file would be ..........";
  Write2P5D(name, sheets[0]);
  {
    // Closed before the folder goes: Windows removes no file that is open.
    std::ifstream in(name, std::ios::binary);
    const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    EXPECT_EQ(written, bytes);
  }
  std::filesystem::remove_all(dir);
}

TEST(Finishing, MatchesLiteralFinishing) {
  std::mt19937 rng(4242);
  TAngleSheet s = MakeSheet(3, 40, 30);
  for (size_t i = 0; i < s.PixelCount(); ++i) {
    const unsigned roll = rng() % 8;
    if (roll == 0)
      continue;
    if (roll == 1) { // side pixel
      SetPixel(s, i, BackgroundKey, static_cast<uint8_t>(rng() % 255 + 1));
      s.SidePlane[i] = static_cast<uint8_t>(rng());
      continue;
    }
    // Few distinct colours in runs, as in rendered sheets, plus noise.
    const uint8_t base = static_cast<uint8_t>(rng() % 6 * 40);
    SetPixel(s, i,
             roll < 6 ? MakeTriple(base, base, 40)
                      : MakeTriple(static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                                   static_cast<uint8_t>(rng())),
             static_cast<uint8_t>(rng() % 4));
    if (rng() % 16 == 0)
      s.SidePlane[i] = static_cast<uint8_t>(rng());
  }
  std::vector<TAngleSheet> sheets{s};
  BuildSheetPalettes(sheets, false, nullptr);
  TAngleSheet fast = sheets[0], slow = sheets[0];
  FinishSheet(fast);
  literal::FinishSheet(slow);
  EXPECT_EQ(fast.IndexPlane, slow.IndexPlane);
  EXPECT_EQ(fast.Palette, slow.Palette);
  EXPECT_EQ(Make2P5D(fast), Make2P5D(slow));
}

TEST(Finishing, RefusesShortPlanes) {
  TAngleSheet s = MakeSheet(1, 3, 3);
  s.DepthPlane.resize(8);
  std::vector<TAngleSheet> sheets{s};
  BuildSheetPalettes(sheets, false, nullptr);
  EXPECT_THROW(FinishSheet(sheets[0]), Error);
  s.ColourPlane.resize(26);
  EXPECT_THROW(MapToPalette(s), Error);
}

} // namespace
} // namespace quarvel
