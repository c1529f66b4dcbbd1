#pragma once

#include <string>

// Whether windows can be shown at all. Without a display, or with one that does not answer,
// Qt's default platform plugin aborts the process (and dumps core) inside QApplication's
// constructor, so the programs with windows ask first and end with one line instead.
class GraphicalSession {
 public:
  // Why no window can be shown ("neither DISPLAY nor WAYLAND_DISPLAY is set", "cannot connect
  // to the display :5"), or empty when one can. A platform chosen with QT_QPA_PLATFORM and a
  // Wayland session are trusted; an X display is tried once through the X client library.
  static std::string Missing();
};
