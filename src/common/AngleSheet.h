// One sheet per angle of a render job: the frames of that angle side by side.
//
// All planes share one layout: row-major over the whole sheet, row 0 at the top.
// Pixel (X, Y) of frame F is element Y * SheetWidth + F * FrameWidth + X (three-byte
// elements in ColourPlane, stored blue, green, red).
//
// Invariants once rendered (and after the margins are cut): a pixel with depth 0 has
// colour BackgroundKey (FF 00 FF) and side 0; a pixel with side != 0 has depth != 0 and
// colour BackgroundKey.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarvel {

// BackgroundKey in a colour plane's byte order (blue, green, red): magenta marks background.
constexpr uint8_t BackgroundKeyBlue = 255, BackgroundKeyGreen = 0, BackgroundKeyRed = 255;
inline void PutBackgroundKey(uint8_t* bgr) {
  bgr[0] = BackgroundKeyBlue;
  bgr[1] = BackgroundKeyGreen;
  bgr[2] = BackgroundKeyRed;
}
inline bool IsBackgroundKey(const uint8_t* bgr) {
  return bgr[0] == BackgroundKeyBlue && bgr[1] == BackgroundKeyGreen && bgr[2] == BackgroundKeyRed;
}

struct TAngleSheet {
  int32_t SheetWidth = 0;           // number of frames * FrameWidth
  int32_t Height = 0;               // height of the sheet and of every frame
  int32_t FrameWidth = 0;           // width of one frame
  std::vector<uint8_t> DepthPlane;  // SheetWidth * Height; 0 = no model here
  std::vector<uint8_t> ColourPlane; // SheetWidth * Height * 3; blue, green, red
  std::vector<uint8_t> IndexPlane;  // SheetWidth * Height; empty until the sheet is saved
  std::vector<uint8_t> SidePlane;   // SheetWidth * Height; 0 = not a side pixel
  // SheetWidth * Height * 3, red, green, blue: the normal pass's colour; empty unless a
  // normal map was asked for (the pass does not run otherwise).
  std::vector<uint8_t> NormalPlane;
  // Entry i: blue bits 0-7, green 8-15, red 16-23, an extra byte in 24-31.
  std::array<uint32_t, 256> Palette{};

  int32_t FrameCount() const { return FrameWidth > 0 ? SheetWidth / FrameWidth : 0; }
  size_t PixelCount() const {
    return static_cast<size_t>(SheetWidth) * static_cast<size_t>(Height);
  }
};

} // namespace quarvel
