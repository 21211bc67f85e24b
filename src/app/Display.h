// The display connection and offscreen pictures of widgets, kept apart from the window
// because the platform headers they need define macros (Button1, Button2 ...) that
// clash with the window's control names.
#pragma once

#include <string>

class Fl_Widget;

namespace quarvel {

// Each system's part is a file of its own: X11Display.cpp, Win32Display.cpp.

// True when there is a display to open: on X11 when one is named in the environment
// (DISPLAY or WAYLAND_DISPLAY); on Windows always.
bool DisplayAvailable();

// Readies FLTK's display for the whole process, once. On X11 it opens the connection to
// the display named by DISPLAY and hands it to FLTK (which would otherwise end the
// program with "Can't open display" at its first need); a busy X server (xvfb-run on a
// loaded machine) may refuse a connection for a moment, so a refused one is tried again
// for up to `seconds`. On Windows there is no connection to make and it is always true.
// Returns false with the reason in `why` when there is no display or it cannot be
// opened; later calls give the first call's answer.
bool OpenDisplay(std::string& why, double seconds = 10.0);

// Draws `widget` (a window: its client area) offscreen at width x height and writes the
// picture as a 24-bit PNG through the atomic writer. Opens the display (OpenDisplay) when
// needed. Throws quarvel::Error when the picture cannot be made or written.
void SaveWidgetPicture(Fl_Widget* widget, int width, int height, const std::string& fileName);

} // namespace quarvel
