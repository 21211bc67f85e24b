#include "app/GLPanel.h"

#include "image/Image.h"

#include <FL/fl_draw.H>

#include <algorithm>
#include <cstring>

namespace quarvel {

TGLPanel::TGLPanel(int x, int y, int w, int h) : Fl_Box(x, y, w, h) {
  box(FL_FLAT_BOX);
  color(FL_BLACK);
}

void TGLPanel::SetPicture(int width, int height, const std::vector<uint8_t>& bottomUpRGB) {
  const size_t row = static_cast<size_t>(width) * 3;
  if (width <= 0 || height <= 0 || bottomUpRGB.size() < row * static_cast<size_t>(height))
    return;
  // GL reads the bottom row first; the screen wants the top row first.
  Picture_ = FlippedRows(bottomUpRGB.data(), width, height, 3);
  PictureWidth_ = width;
  PictureHeight_ = height;
  redraw();
}

void TGLPanel::draw() {
  draw_box();
  if (Picture_.empty())
    return;
  // A picture larger than the panel is cut at the panel's edges.
  const int drawW = std::min(this->w(), PictureWidth_);
  const int drawH = std::min(this->h(), PictureHeight_);
  fl_draw_image(Picture_.data(), x(), y(), drawW, drawH, 3, PictureWidth_ * 3);
}

} // namespace quarvel
