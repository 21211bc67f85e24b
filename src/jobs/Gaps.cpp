// Gap removal: every frame is rendered at the full view size, so most of it is empty
// margin. The narrowest margin over all frames of all angles is found, one pixel of it is
// kept, and the same number of columns (rows) is cut from both sides (top and bottom) of
// every frame: the view's centre stays the frame's centre and all frames keep one size.
//
// The views arrive as content rectangles (Views.cpp), so the margins come from their
// bounds, and each sheet is made at its cropped size straight from them.
#include "common/Error.h"
#include "jobs/Manager.h"

#include <algorithm>
#include <cstring>

namespace quarvel {

void T2P5D_Manager::RemoveGaps() {
  // A job without sheets, or in which nothing was drawn, has no margin to measure; the
  // formula would give margins over half the frame and a negative size. Refused here,
  // before any sheet is changed.
  if (Angles.empty())
    throw Error(Located(SettingsFile, 0, "the job has no angle: there is nothing to crop"));
  const int32_t FW = ViewWidth;
  const int32_t H = ViewHeight;
  if (FW <= 0 || H <= 0 || Frames.empty())
    throw Error(Located(SettingsFile, 0, "the job has no frame: there is nothing to crop"));

  // The union of the content rectangles. Taking the right (bottom) margin like a left
  // (top) one, the narrowest margin on any side decides.
  int32_t MinX = FW - 1;
  int32_t MinY = H - 1;
  int32_t MaxX = 0;
  int32_t MaxY = 0;
  bool anyContent = false;
  if (Views.size() == Angles.size() * Frames.size())
    for (const TViewContent& v : Views) {
      if (!v.DepthKnown || v.Width <= 0 || v.Height <= 0)
        continue;
      anyContent = true;
      MinX = std::min(MinX, v.Left);
      MinY = std::min(MinY, v.Top);
      MaxX = std::max(MaxX, v.Left + v.Width - 1);
      MaxY = std::max(MaxY, v.Top + v.Height - 1);
    }
  if (!anyContent)
    throw Error(Located(SettingsFile, 0,
                        "nothing was drawn: no view of the job covers any "
                        "pixel (check the models, the scale and that the frames name the right "
                        "files)"));
  MinX = std::min(FW - 1 - MaxX, MinX);
  MinY = std::min(H - 1 - MaxY, MinY);

  const int32_t MarginX = std::max(0, MinX - 1);
  const int32_t MarginY = std::max(0, MinY - 1);
  Sheets.assign(Angles.size(), TAngleSheet{});
  for (size_t a = 0; a < Sheets.size(); ++a)
    CropSheet(static_cast<int32_t>(a), MarginX, MarginY);
  // The views are in the sheets now; the work view is not needed any more either.
  Views = std::vector<TViewContent>();
  WorkView = TAngleSheet{};
}

void T2P5D_Manager::CropSheet(int32_t Angle, int32_t MarginX, int32_t MarginY) {
  TAngleSheet& S = Sheets[static_cast<size_t>(Angle)];
  const int32_t FrameCount = static_cast<int32_t>(Frames.size());

  S.FrameWidth = ViewWidth - 2 * MarginX;
  S.Height = ViewHeight - 2 * MarginY;
  S.SheetWidth = FrameCount * S.FrameWidth;
  const size_t pixels = S.PixelCount();
  S.DepthPlane.assign(pixels, 0);
  S.SidePlane.assign(pixels, 0);
  S.ColourPlane.resize(pixels * 3);
  if ((SheetOptions.Maps & MapNormal) != 0)
    S.NormalPlane.assign(pixels * 3, 0);
  for (size_t i = 0; i < pixels * 3; i += 3)
    PutBackgroundKey(&S.ColourPlane[i]);

  for (int32_t F = 0; F < FrameCount; ++F) {
    TViewContent& v = Views[static_cast<size_t>(Angle) * Frames.size() + static_cast<size_t>(F)];
    // The margins never cut content (they are narrower than every view's), but the copy
    // is clipped to the frame all the same.
    const int32_t x0 = std::max(v.Left, MarginX);
    const int32_t x1 = std::min(v.Left + v.Width, MarginX + S.FrameWidth);
    const int32_t y0 = std::max(v.Top, MarginY);
    const int32_t y1 = std::min(v.Top + v.Height, MarginY + S.Height);
    if (v.DepthKnown && x0 < x1) {
      const size_t w = static_cast<size_t>(x1 - x0);
      for (int32_t y = y0; y < y1; ++y) {
        const size_t at = static_cast<size_t>(y - v.Top) * static_cast<size_t>(v.Width) +
                          static_cast<size_t>(x0 - v.Left);
        const int32_t x = x0 - MarginX;
        std::memcpy(PlanePixel(S.DepthPlane, S, F, x, y - MarginY), v.Depth.data() + at, w);
        std::memcpy(PlanePixel(S.ColourPlane, S, F, x, y - MarginY, 3), v.Colour.data() + at * 3,
                    w * 3);
        std::memcpy(PlanePixel(S.SidePlane, S, F, x, y - MarginY), v.Side.data() + at, w);
        if (!v.Normal.empty() && !S.NormalPlane.empty())
          std::memcpy(PlanePixel(S.NormalPlane, S, F, x, y - MarginY, 3), v.Normal.data() + at * 3,
                      w * 3);
      }
    }
    v = TViewContent{}; // released as soon as its frame is in the sheet
  }
}

} // namespace quarvel
