// The display connection and offscreen pictures of widgets, kept apart from the window
// because the platform headers they need define macros (Button1, Button2 ...) that
// clash with the window's control names.
#pragma once

#include <string>

class Fl_Widget;

namespace quarvel {

// True when a display is named in the environment (DISPLAY or WAYLAND_DISPLAY).
bool DisplayAvailable();

// Draws `widget` (a window: its client area) offscreen at width x height and writes the
// picture as a 24-bit PNG through the atomic writer. Opens the display connection when
// needed. Throws quarvel::Error when the picture cannot be made or written.
void SaveWidgetPicture(Fl_Widget* widget, int width, int height, const std::string& fileName);

} // namespace quarvel
