#include "ui/graphical_session.h"

#include <cstdlib>

namespace {

bool IsSet(const char* value) { return value != nullptr && value[0] != '\0'; }

}  // namespace

bool GraphicalSession::Available(const char* qpaPlatform, const char* display,
                                 const char* waylandDisplay) {
  return IsSet(qpaPlatform) || IsSet(display) || IsSet(waylandDisplay);
}

bool GraphicalSession::Available() {
  return Available(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
                   std::getenv("WAYLAND_DISPLAY"));
}
