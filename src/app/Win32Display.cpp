// The display on Windows: the window system is part of every session, so there is no
// connection to name or to wait for; FLTK registers its window class once.
#include "app/Display.h"

// FLTK declares its display set-up for Windows among its internals only.
#define FL_INTERNALS
#include <FL/Fl.H>
#include <FL/x.H>

namespace quarvel {

bool DisplayAvailable() {
  return true;
}

bool OpenDisplay(std::string& why, double /*seconds*/) {
  static const bool opened = [] {
    fl_open_display();
    return true;
  }();
  why.clear();
  return opened;
}

} // namespace quarvel
