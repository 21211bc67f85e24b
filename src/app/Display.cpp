#include "app/Display.h"

#include <FL/Fl.H>
#include <FL/Fl_Image_Surface.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>

#include <cstdint>
#include <memory>
#include <vector>

#include "common/Error.h"
#include "image/Image.h"

namespace quarvel {

void SaveWidgetPicture(Fl_Widget* widget, int width, int height, const std::string& fileName) {
  std::string why;
  if (!OpenDisplay(why))
    throw Error(fileName + ": " + why);
  std::unique_ptr<Fl_RGB_Image> image;
  {
    Fl_Image_Surface surface(width, height);
    surface.set_current();
    fl_color(FL_BACKGROUND_COLOR);
    fl_rectf(0, 0, width, height);
    surface.draw(widget, 0, 0);
    image.reset(surface.image());
    Fl_Display_Device::display_device()->set_current();
  }
  if (!image || image->d() < 3 || image->w() != width || image->h() != height)
    throw Error(fileName + ": the window could not be drawn offscreen");
  const int depth = image->d();
  const int lineBytes = image->ld() != 0 ? image->ld() : image->w() * depth;
  const auto* data = reinterpret_cast<const uint8_t*>(image->data()[0]);
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3 +
            static_cast<size_t>(c)] =
            data[static_cast<size_t>(y) * static_cast<size_t>(lineBytes) +
                 static_cast<size_t>(x) * static_cast<size_t>(depth) + static_cast<size_t>(c)];
  WritePNG(fileName, width, height, 3, rgb.data());
}

} // namespace quarvel
