// The panel that shows the GL view's pictures: the last finished picture, as RGB bytes
// with the top row first, drawn at the panel's place; black before the first one.
#pragma once

#include <FL/Fl_Box.H>

#include <cstdint>
#include <vector>

namespace quarvel {

class TGLPanel : public Fl_Box {
public:
  TGLPanel(int x, int y, int w, int h);

  // Takes a picture read back from GL: `bottomUpRGB` holds height rows of width pixels,
  // 3 bytes each, the bottom row first. Schedules a redraw.
  void SetPicture(int width, int height, const std::vector<uint8_t>& bottomUpRGB);
  int PictureWidth() const { return PictureWidth_; }
  int PictureHeight() const { return PictureHeight_; }
  // Top row first, 3 bytes per pixel; empty before the first picture.
  const std::vector<uint8_t>& Picture() const { return Picture_; }

protected:
  void draw() override;

private:
  int PictureWidth_ = 0;
  int PictureHeight_ = 0;
  std::vector<uint8_t> Picture_;
};

} // namespace quarvel
