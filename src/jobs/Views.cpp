// The views of a job between the passes. Every view is drawn into the full-size work view,
// but only its content rectangle is kept: outside it every pixel is background, so the
// work view can be restored exactly for the next pass and the sheets can be built at
// their cropped size. Peak memory follows what the views contain (a small model in a
// 400 x 400 view keeps a few thousand pixels), not the number of angles and frames.
#include "jobs/Manager.h"

#include <algorithm>
#include <cstring>

namespace quarvel {

namespace {

constexpr uint8_t Black[3] = {0, 0, 0};

// Bounds of the pixels for which `content(row, x)` holds, row by row; only a row's first
// and last content pixel can move them. Returns false when there is none.
template <typename RowContent>
bool ContentBounds(int32_t width, int32_t height, RowContent content, int32_t& left, int32_t& top,
                   int32_t& right, int32_t& bottom) {
  left = width;
  right = -1;
  top = height;
  bottom = -1;
  for (int32_t y = 0; y < height; ++y) {
    int32_t first = 0;
    while (first < width && !content(y, first))
      ++first;
    if (first == width)
      continue;
    int32_t last = width - 1;
    while (!content(y, last))
      --last;
    left = std::min(left, first);
    right = std::max(right, last);
    top = std::min(top, y);
    bottom = y;
  }
  return right >= 0;
}

void FillColour(std::vector<uint8_t>& plane, const uint8_t* colour) {
  for (size_t i = 0; i + 2 < plane.size(); i += 3) {
    plane[i] = colour[0];
    plane[i + 1] = colour[1];
    plane[i + 2] = colour[2];
  }
}

} // namespace

void T2P5D_Manager::VisualBackground(uint8_t* Pixel) const {
  if (Multisampled)
    PutBackgroundKey(Pixel);
  else
    std::memcpy(Pixel, Black, 3);
}

void T2P5D_Manager::AllocateViews() {
  Sheets.clear();
  Views.assign(Angles.size() * Frames.size(), TViewContent{});
  WorkView = TAngleSheet{};
  WorkView.FrameWidth = ViewWidth;
  WorkView.SheetWidth = ViewWidth;
  WorkView.Height = ViewHeight;
  const size_t pixels = WorkView.PixelCount();
  WorkView.ColourPlane.resize(pixels * 3);
  WorkView.DepthPlane.resize(pixels);
  WorkView.SidePlane.resize(pixels);
  WorkDepthKnown = false;
}

void T2P5D_Manager::BeginView(int32_t Angle, int32_t Frame) {
  CurrentAngle = Angle;
  CurrentFrame = Frame;
  const TViewContent& v =
      Views[static_cast<size_t>(Angle) * Frames.size() + static_cast<size_t>(Frame)];
  WorkDepthKnown = v.DepthKnown;
  uint8_t background[3];
  if (v.DepthKnown)
    PutBackgroundKey(background);
  else
    VisualBackground(background);
  FillColour(WorkView.ColourPlane, background);
  std::fill(WorkView.DepthPlane.begin(), WorkView.DepthPlane.end(), 0);
  std::fill(WorkView.SidePlane.begin(), WorkView.SidePlane.end(), 0);

  const size_t w = static_cast<size_t>(v.Width);
  for (int32_t y = 0; y < v.Height; ++y) {
    const size_t at = static_cast<size_t>(y) * w;
    std::memcpy(ViewColourPixel(v.Left, v.Top + y), v.Colour.data() + at * 3, w * 3);
    if (!v.Depth.empty())
      std::memcpy(ViewDepthPixel(v.Left, v.Top + y), v.Depth.data() + at, w);
    if (!v.Side.empty())
      std::memcpy(ViewSidePixel(v.Left, v.Top + y), v.Side.data() + at, w);
  }
}

void T2P5D_Manager::KeepView() {
  TViewContent& v =
      Views[static_cast<size_t>(CurrentAngle) * Frames.size() + static_cast<size_t>(CurrentFrame)];
  v = TViewContent{};
  v.DepthKnown = WorkDepthKnown;

  // Before the depth pass the content is every pixel that differs from the visual pass's
  // empty colour; from then on it is every pixel with depth (all others are keyed).
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool any = false;
  if (WorkDepthKnown) {
    any = ContentBounds(
        ViewWidth, ViewHeight, [this](int32_t y, int32_t x) { return *ViewDepthPixel(x, y) != 0; },
        left, top, right, bottom);
  } else {
    uint8_t background[3];
    VisualBackground(background);
    any = ContentBounds(
        ViewWidth, ViewHeight,
        [&](int32_t y, int32_t x) {
          return std::memcmp(ViewColourPixel(x, y), background, 3) != 0;
        },
        left, top, right, bottom);
  }
  if (!any)
    return;

  v.Left = left;
  v.Top = top;
  v.Width = right - left + 1;
  v.Height = bottom - top + 1;
  const size_t w = static_cast<size_t>(v.Width);
  const size_t n = w * static_cast<size_t>(v.Height);
  v.Colour.resize(n * 3);
  if (WorkDepthKnown) {
    v.Depth.resize(n);
    v.Side.resize(n);
  }
  for (int32_t y = 0; y < v.Height; ++y) {
    const size_t at = static_cast<size_t>(y) * w;
    std::memcpy(v.Colour.data() + at * 3, ViewColourPixel(left, top + y), w * 3);
    if (WorkDepthKnown) {
      std::memcpy(v.Depth.data() + at, ViewDepthPixel(left, top + y), w);
      std::memcpy(v.Side.data() + at, ViewSidePixel(left, top + y), w);
    }
  }
}

} // namespace quarvel
