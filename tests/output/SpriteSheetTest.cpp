#include "output/SpriteSheet.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

// Three frames of 2 x 1 on a grid of two a row: frame 0 a drawn pixel and background,
// frame 1 a side pixel and a drawn one, frame 2 empty, beside it the grid's unused cell.
TEST(SpriteSheet, EachKindShowsItsPlaneOnTheGrid) {
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
  TSheetOptions plain, palette, yDown;
  palette.Palette = true;
  yDown.NormalYDown = true;
  using B = std::vector<uint8_t>;
  const B none(16, 0),
      flat = {128, 128, 255, 0, 128, 128, 255, 0, 128, 128, 255, 0, 128, 128, 255, 0};
  auto rows = [](B first, const B& second) {
    return first.insert(first.end(), second.begin(), second.end()), first;
  };
  const std::tuple<TOutputKind, TSheetOptions, B> cases[] = {
      {TOutputKind::ColourSheet, plain,
       rows({30, 20, 10, 255, 0, 0, 0, 0, 0xaa, 0xbb, 0xcc, 255, 3, 2, 1, 255}, none)},
      {TOutputKind::ColourSheet, palette,
       rows({0x10, 0x20, 0x30, 255, 0, 0, 0, 0, 0xaa, 0xbb, 0xcc, 255, 0x10, 0x20, 0x30, 255},
            none)},
      {TOutputKind::DepthSheet, plain, {5, 0, 3, 9, 0, 0, 0, 0}},
      {TOutputKind::MaskSheet, plain, {0, 0, 90, 0, 0, 0, 0, 0}},
      {TOutputKind::NormalSheet, plain,
       rows({100, 150, 200, 255, 128, 128, 255, 0, 128, 255, 128, 255, 255, 128, 128, 255}, flat)},
      {TOutputKind::NormalSheet, yDown,
       rows({100, 105, 200, 255, 128, 128, 255, 0, 128, 0, 128, 255, 255, 127, 128, 255}, flat)}};
  for (const auto& [kind, options, pixels] : cases)
    EXPECT_EQ(SheetPixels(s, SheetGridOf(3, 2, 1, 4), kind, options), pixels)
        << static_cast<int>(kind) << (options.Palette ? " palette" : "")
        << (options.NormalYDown ? " y down" : "");
}

} // namespace
} // namespace quarvel
