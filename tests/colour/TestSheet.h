// Sheets for the palette and finishing tests.
#pragma once

#include "colour/Colour.h"
#include "common/AngleSheet.h"

#include <algorithm>

namespace quarvel::test {

// A sheet of `frames` frames of w x h, all background, every plane allocated.
inline TAngleSheet MakeSheet(int frames, int w, int h) {
  TAngleSheet s;
  s.FrameWidth = w;
  s.SheetWidth = frames * w;
  s.Height = h;
  s.ColourPlane.resize(s.PixelCount() * 3);
  for (size_t i = 0; i < s.PixelCount(); ++i)
    std::copy_n(&BackgroundKey.Blue, 3, &s.ColourPlane[3 * i]);
  s.DepthPlane.assign(s.PixelCount(), 0);
  s.SidePlane.assign(s.PixelCount(), 0);
  return s;
}

} // namespace quarvel::test
