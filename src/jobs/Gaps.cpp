// Gap removal: every frame is rendered at the full view size, so most of it is empty
// margin. The narrowest margin over all frames of all angles is found, one pixel of it is
// kept, and the same number of columns (rows) is cut from both sides (top and bottom) of
// every frame: the view's centre stays the frame's centre and all frames keep one size.
#include "common/Error.h"
#include "jobs/Manager.h"

#include <algorithm>
#include <cstring>

namespace quarvel {

void T2P5D_Manager::RemoveGaps() {
  // A job without sheets, or in which nothing was drawn, has no margin to measure; the
  // formula would give margins over half the frame and a negative size. Refused here,
  // before any sheet is changed.
  if (Sheets.empty())
    throw Error(Located(SettingsFile, 0, "the job has no angle: there is nothing to crop"));
  const int32_t FW = Sheets[0].FrameWidth;
  const int32_t H = Sheets[0].Height;
  if (FW <= 0 || H <= 0 || Frames.empty())
    throw Error(Located(SettingsFile, 0, "the job has no frame: there is nothing to crop"));

  int32_t MinX = FW - 1;
  int32_t MinY = H - 1;
  int32_t MaxX = 0;
  int32_t MaxY = 0;
  bool anyContent = false;
  for (size_t a = 0; a < Sheets.size(); ++a) {
    CurrentAngle = static_cast<int32_t>(a);
    for (size_t f = 0; f < Frames.size(); ++f) {
      CurrentFrame = static_cast<int32_t>(f);
      for (int32_t Y = 0; Y < H; ++Y) {
        // One row at a time: only its first and last content pixel can move the bounds.
        const uint8_t* row = DepthPixel(0, Y);
        int32_t first = 0;
        while (first < FW && row[first] == 0)
          ++first;
        if (first == FW)
          continue;
        int32_t last = FW - 1;
        while (row[last] == 0)
          --last;
        anyContent = true;
        MinY = std::min(MinY, Y);
        MaxY = std::max(MaxY, Y);
        MinX = std::min(MinX, first);
        MaxX = std::max(MaxX, last);
      }
      // The right (bottom) margin of this frame counts like a left (top) one. MaxX and
      // MaxY are not reset between frames: they only ever grow, as the margins shrink.
      MinX = std::min(FW - 1 - MaxX, MinX);
      MinY = std::min(H - 1 - MaxY, MinY);
    }
  }
  if (!anyContent)
    throw Error(Located(SettingsFile, 0,
                        "nothing was drawn: no view of the job covers any pixel (check the "
                        "models, the scale and that the frames name the right files)"));

  const int32_t MarginX = std::max(0, MinX - 1);
  const int32_t MarginY = std::max(0, MinY - 1);
  for (size_t a = 0; a < Sheets.size(); ++a) {
    CurrentAngle = static_cast<int32_t>(a);
    CropSheet(MarginX, MarginY);
  }
}

void T2P5D_Manager::CropSheet(int32_t MarginX, int32_t MarginY) {
  TAngleSheet& S = Sheets[static_cast<size_t>(CurrentAngle)];
  const int32_t FrameCount = static_cast<int32_t>(Frames.size());

  TAngleSheet N;
  N.FrameWidth = S.FrameWidth - 2 * MarginX;
  N.Height = S.Height - 2 * MarginY;
  N.SheetWidth = FrameCount * N.FrameWidth;
  const size_t pixels = N.PixelCount();
  N.DepthPlane.resize(pixels);
  N.ColourPlane.resize(pixels * 3);
  N.SidePlane.resize(pixels);

  const size_t fw = static_cast<size_t>(N.FrameWidth);
  for (int32_t F = 0; F < FrameCount; ++F) {
    CurrentFrame = F;
    for (int32_t G = 0; G < N.Height; ++G) {
      const size_t at =
          static_cast<size_t>(G) * static_cast<size_t>(N.SheetWidth) + fw * static_cast<size_t>(F);
      std::memcpy(SheetDepthPixel(N, 0, G), DepthPixel(MarginX, MarginY + G), fw);
      std::memcpy(N.ColourPlane.data() + at * 3, ColourPixel(MarginX, MarginY + G), fw * 3);
      std::memcpy(N.SidePlane.data() + at, SidePixel(MarginX, MarginY + G), fw);
    }
  }

  S.SidePlane = std::move(N.SidePlane);
  S.ColourPlane = std::move(N.ColourPlane);
  S.DepthPlane = std::move(N.DepthPlane);
  S.SheetWidth = N.SheetWidth;
  S.Height = N.Height;
  S.FrameWidth = N.FrameWidth;
}

} // namespace quarvel
