#include "app/Display.h"

#include <FL/Fl.H>
#include <FL/Fl_Image_Surface.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "common/Error.h"
#include "image/Image.h"

namespace quarvel {

bool DisplayAvailable() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

bool OpenDisplay(std::string& why, double seconds) {
  static bool tried = false;
  static bool opened = false;
  static std::string reason;
  if (!tried) {
    tried = true;
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
      reason = "Can't open display: DISPLAY is not set (run under xvfb-run)";
    } else {
      const auto start = std::chrono::steady_clock::now();
      ::Display* display = nullptr;
      for (;;) {
        display = XOpenDisplay(name);
        if (display != nullptr ||
            std::chrono::steady_clock::now() - start > std::chrono::duration<double>(seconds))
          break;
        // A retry after a pause, not a wait for something: the server may be starved of
        // CPU or still taking earlier connections.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      if (display != nullptr) {
        fl_open_display(display);
        opened = true;
      } else {
        reason = std::string("Can't open display: ") + name;
      }
    }
  }
  why = reason;
  return opened;
}

void SaveWidgetPicture(Fl_Widget* widget, int width, int height, const std::string& fileName) {
  fl_open_display();
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
