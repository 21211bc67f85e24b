// The display connection on X11: FLTK needs one before it draws or measures anything.
#include "app/Display.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include <chrono>
#include <cstdlib>
#include <thread>

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

} // namespace quarvel
