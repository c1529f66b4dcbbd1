#pragma once

// Whether the windows can be shown at all. Without a display Qt's default platform plugin
// aborts the process (and dumps core) inside QApplication's constructor, so the program asks
// first and ends with one line instead.
class GraphicalSession {
 public:
  // From the values of QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY (null when unset): a
  // platform chosen explicitly (offscreen, xcb, ...) is trusted; the default one needs a
  // display of either kind.
  static bool Available(const char* qpaPlatform, const char* display, const char* waylandDisplay);
  // The same from the environment.
  static bool Available();
};
