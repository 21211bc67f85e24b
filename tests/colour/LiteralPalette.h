// Literal, unoptimised versions of the palette and finishing steps: a full scan of the
// 65,536-colour table per colour, a linear search of the distinct-colour list per pixel
// and a palette search per pixel. They are the yardstick the fast versions are held to
// (tests) and timed against (bench/bench_palette.cpp). Header-only on purpose: nothing
// in the program uses them.
#pragma once

#include "colour/Colour.h"
#include "colour/Palette.h"
#include "common/AngleSheet.h"
#include "output/Finishing.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace quarvel::literal {

// HSL lightness in single precision, truncated to a byte.
inline uint8_t FloatLightness(uint8_t red, uint8_t green, uint8_t blue) {
  const float r = static_cast<float>(red) / 255.0f;
  const float g = static_cast<float>(green) / 255.0f;
  const float b = static_cast<float>(blue) / 255.0f;
  float mx = r, mn = r;
  if (g > mx)
    mx = g;
  if (b > mx)
    mx = b;
  if (g < mn)
    mn = g;
  if (b < mn)
    mn = b;
  const float l = (mx + mn) / 2.0f;
  return static_cast<uint8_t>(static_cast<int>(l * 255.0f));
}

inline int Distance(TRGBTriple a, TRGBTriple b) {
  return std::abs(a.Red - b.Red) + std::abs(a.Green - b.Green) + std::abs(a.Blue - b.Blue);
}

// The scan of all 65,536 entries in code order.
inline TRGBTriple FindNearestRGB565(TRGBTriple t) {
  const int target = TripleLightness(t);
  int best = 0;
  int bestDistance = Distance(t, RGB565Table[0]);
  int bestLightness = RGB565Lightness[0];
  for (int i = 1; i < 65536; ++i) {
    const int distance = Distance(t, RGB565Table[i]);
    const int lightness = RGB565Lightness[i];
    if (distance < bestDistance ||
        (distance == bestDistance &&
         std::abs(target - lightness) < std::abs(target - bestLightness))) {
      best = i;
      bestDistance = distance;
      bestLightness = lightness;
    }
  }
  return RGB565Table[best];
}

inline void SnapTriple(TRGBTriple& t) {
  const TColor c = TripleToColor(t);
  if (ColorToTriple(RGB565ToColor(ColorToRGB565(c))) != t)
    t = literal::FindNearestRGB565(t);
}

// Linear search of the first Count entries; the list grows by 1000 when full.
inline void AddUniqueColour(TRGBTripleArray& list, int32_t& count, TRGBTriple colour) {
  for (int32_t i = 0; i < count; ++i)
    if (list[i] == colour)
      return;
  if (count >= static_cast<int32_t>(list.size()))
    list.resize(list.size() + 1000);
  list[count++] = colour;
}

inline void MakeSheetPalette(TAngleSheet& sheet) {
  TRGBTripleArray list(1000);
  int32_t count = 0;
  for (const TRGBTriple& c : ReservedColours())
    literal::AddUniqueColour(list, count, c);
  for (int32_t y = 0; y < sheet.Height; ++y)
    for (int32_t x = 0; x < sheet.SheetWidth; ++x) {
      const uint8_t* p = &sheet.ColourPlane[3 * (static_cast<size_t>(y) * sheet.SheetWidth + x)];
      literal::AddUniqueColour(list, count, TRGBTriple{p[0], p[1], p[2]});
    }
  TRGBTripleArray image;
  for (int32_t k = ReservedEntries; k < count; ++k) {
    TRGBTriple c = list[k];
    literal::SnapTriple(c);
    image.push_back(c);
  }
  sheet.Palette = QuantizeToPalette(image);
  for (int i = 0; i < ReservedEntries; ++i)
    sheet.Palette[i] = MakeEntry(255, 0, 255, 0);
}

inline void MakePalettes(std::vector<TAngleSheet>& sheets, bool singleOutput) {
  for (TAngleSheet& sheet : sheets)
    literal::MakeSheetPalette(sheet);
  if (!singleOutput || sheets.empty())
    return;
  TRGBTripleArray gathered;
  for (const TAngleSheet& sheet : sheets)
    for (int i = ReservedEntries; i < 256; ++i) {
      const TRGBTriple c = EntryToTriple(sheet.Palette[i]);
      if (c != BackgroundKey)
        gathered.push_back(c);
    }
  const TPalette shared = QuantizeToPalette(gathered);
  for (TAngleSheet& sheet : sheets)
    sheet.Palette = shared;
}

// The palette scan, made for every pixel.
inline uint8_t NearestPaletteIndex(const TPalette& palette, TRGBTriple t) {
  const int target = TripleLightness(t);
  int best = -1, bestDistance = 0, bestLightness = 0;
  for (int j = 0; j < 256; ++j) {
    const TRGBTriple e = EntryToTriple(palette[j]);
    const int distance = Distance(t, e);
    const int lightness = EntryLightness(palette[j]);
    if (best < 0 || distance < bestDistance ||
        (distance == bestDistance &&
         std::abs(target - lightness) < std::abs(target - bestLightness))) {
      best = j;
      bestDistance = distance;
      bestLightness = lightness;
    }
  }
  return static_cast<uint8_t>(best);
}

inline uint8_t NearestRampIndex(uint8_t v) {
  int best = 1;
  for (int i = 2; i <= 24; ++i)
    if (std::abs(v - SideRampGrey(i)) < std::abs(v - SideRampGrey(best)))
      best = i;
  return static_cast<uint8_t>(best);
}

inline void FinishSheet(TAngleSheet& sheet) {
  const size_t count = sheet.PixelCount();
  sheet.IndexPlane.assign(count, 0);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = &sheet.ColourPlane[3 * i];
    sheet.IndexPlane[i] = literal::NearestPaletteIndex(sheet.Palette, TRGBTriple{p[0], p[1], p[2]});
  }
  for (int i = 0; i < 25; ++i)
    sheet.Palette[i] = SideRamp()[i];
  for (size_t i = 0; i < count; ++i)
    if (sheet.DepthPlane[i] != 0 && sheet.SidePlane[i] != 0)
      sheet.IndexPlane[i] = literal::NearestRampIndex(sheet.SidePlane[i]);
  for (int i = 1; i < 25; ++i) {
    TRGBTriple t = EntryToTriple(sheet.Palette[i]);
    literal::SnapTriple(t);
    sheet.Palette[i] = TripleToEntry(t, EntryExtra(sheet.Palette[i]));
  }
}

} // namespace quarvel::literal
