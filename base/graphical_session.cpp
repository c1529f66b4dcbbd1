#include "base/graphical_session.h"

#include <dlfcn.h>

#include <cstdlib>

namespace {

bool IsSet(const char* value) { return value != nullptr && value[0] != '\0'; }

// Connects to the X display as Qt's plugin would, through the library that plugin loads; true
// when it answers, and also when the library is not there (then Qt says what is missing).
bool XDisplayAnswers() {
  void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (xcb == nullptr) return true;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
  const auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
  const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
  bool answers = true;
  if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
    void* connection = connect(nullptr, nullptr);
    answers = hasError(connection) == 0;
    disconnect(connection);
  }
  // Left loaded: the plugin is about to load it again.
  return answers;
}

}  // namespace

std::string GraphicalSession::Missing() {
  const char* display = std::getenv("DISPLAY");
  if (IsSet(std::getenv("QT_QPA_PLATFORM")) || IsSet(std::getenv("WAYLAND_DISPLAY"))) return {};
  if (!IsSet(display)) return "neither DISPLAY nor WAYLAND_DISPLAY is set";
  if (!XDisplayAnswers()) return std::string("cannot connect to the display ") + display;
  return {};
}
