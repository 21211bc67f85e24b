#include "output/SpriteSheet.h"

#include "common/Error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel {
namespace {

TEST(SpriteSheet, FramesFillRowsUpToTheWidestSheet) {
  struct Case {
    int32_t Frames, FrameWidth, FrameHeight, MaxWidth;
    int32_t Columns, Rows;
  };
  const Case cases[] = {
      {3, 4, 3, 4096, 3, 1},   // one row, as wide as its frames
      {8, 100, 50, 400, 4, 2}, // exactly four fit
      {8, 100, 50, 399, 3, 3}, // wraps before the sheet passes the width
      {2, 500, 10, 400, 1, 2}, // a frame wider than the sheet gets a row of its own
      {1, 10, 10, 4096, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Frames) + " frames of " + std::to_string(c.FrameWidth) + " in " +
                 std::to_string(c.MaxWidth));
    const TSheetGrid g = SheetGridOf(c.Frames, c.FrameWidth, c.FrameHeight, c.MaxWidth);
    EXPECT_EQ(g.Columns, c.Columns);
    EXPECT_EQ(g.Rows, c.Rows);
    EXPECT_EQ(g.Width(), c.Columns * c.FrameWidth);
    EXPECT_EQ(g.Height(), c.Rows * c.FrameHeight);
    // The last frame is on the last row, inside the sheet.
    EXPECT_EQ(g.FrameY(c.Frames - 1), (c.Rows - 1) * c.FrameHeight);
    EXPECT_LE(g.FrameX(c.Frames - 1) + c.FrameWidth, g.Width());
  }
  EXPECT_THROW(SheetGridOf(0, 4, 3, 4096), Error);
  EXPECT_THROW(SheetGridOf(3, 0, 3, 4096), Error);
}

// Three frames of 2 x 1 pixels: frame 0 a drawn pixel and background, frame 1 a side pixel
// and a drawn one, frame 2 empty. Laid out two frames a row.
TAngleSheet TinySheet() {
  TAngleSheet s;
  s.FrameWidth = 2;
  s.SheetWidth = 6;
  s.Height = 1;
  s.DepthPlane = {5, 0, 3, 9, 0, 0};
  s.SidePlane = {0, 0, 90, 0, 0, 0};
  s.ColourPlane = {10, 20, 30, 255, 0, 255, 255, 0, 255, 1, 2, 3, 255, 0, 255, 255, 0, 255};
  s.IndexPlane = {26, 0, 7, 26, 0, 0};
  s.NormalPlane = {100, 150, 200, 0, 0, 0, 128, 255, 128, 255, 128, 128, 0, 0, 0, 0, 0, 0};
  s.Palette[7] = 0xaabbcc;
  s.Palette[26] = 0x102030;
  return s;
}

TEST(SpriteSheet, EachKindShowsItsPlaneOnTheGrid) {
  using B = std::vector<uint8_t>;
  const B none = {0, 0, 0, 0};
  const B flat = {128, 128, 255, 0};
  auto row = [](std::initializer_list<B> pixels) {
    B out;
    for (const B& p : pixels)
      out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  TSheetOptions plain, palette, yDown;
  palette.Palette = true;
  yDown.NormalYDown = true;
  struct Case {
    const char* What;
    TOutputKind Kind;
    TSheetOptions Options;
    B Pixels; // 4 x 2: frames 0 and 1, then frame 2 and an unused cell
  };
  const Case cases[] = {
      {"colour: the visual pass's, the side pixel its ramp entry", TOutputKind::ColourSheet, plain,
       row({{30, 20, 10, 255},
            none,
            {0xaa, 0xbb, 0xcc, 255},
            {3, 2, 1, 255},
            none,
            none,
            none,
            none})},
      {"colour with --palette: every pixel its entry", TOutputKind::ColourSheet, palette,
       row({{0x10, 0x20, 0x30, 255},
            none,
            {0xaa, 0xbb, 0xcc, 255},
            {0x10, 0x20, 0x30, 255},
            none,
            none,
            none,
            none})},
      {"depth", TOutputKind::DepthSheet, plain, {5, 0, 3, 9, 0, 0, 0, 0}},
      {"mask", TOutputKind::MaskSheet, plain, {0, 0, 90, 0, 0, 0, 0, 0}},
      {"normal, +Y up", TOutputKind::NormalSheet, plain,
       row({{100, 150, 200, 255},
            flat,
            {128, 255, 128, 255},
            {255, 128, 128, 255},
            flat,
            flat,
            flat,
            flat})},
      {"normal, +Y down", TOutputKind::NormalSheet, yDown,
       row({{100, 105, 200, 255},
            flat,
            {128, 0, 128, 255},
            {255, 127, 128, 255},
            flat,
            flat,
            flat,
            flat})},
  };
  const TAngleSheet sheet = TinySheet();
  const TSheetGrid grid = SheetGridOf(3, 2, 1, 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(SheetPixels(sheet, grid, c.Kind, c.Options), c.Pixels);
  }
  TAngleSheet unfinished = sheet;
  unfinished.IndexPlane.clear();
  EXPECT_THROW(SheetPixels(unfinished, grid, TOutputKind::ColourSheet, plain), Error);
  TAngleSheet noNormals = sheet;
  noNormals.NormalPlane.clear();
  EXPECT_THROW(SheetPixels(noNormals, grid, TOutputKind::NormalSheet, plain), Error);
}

} // namespace
} // namespace quarvel
