#include "base/handler_guard.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <cstdio>

namespace {
// The error slot of the innermost wait pass running now; null when the main loop or a modal
// loop dispatches.
std::exception_ptr* g_waitSlot = nullptr;
HandlerGuard::Reporter g_reporter;
}  // namespace

HandlerGuard::Reporter HandlerGuard::SetReporter(Reporter reporter) {
  return std::exchange(g_reporter, std::move(reporter));
}

std::string HandlerGuard::MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

void HandlerGuard::Deliver(std::exception_ptr error) noexcept {
  if (g_waitSlot != nullptr) {
    if (!*g_waitSlot) *g_waitSlot = std::move(error);
    return;
  }
  try {
    const std::string message = MessageOf(error);
    if (g_reporter) {
      g_reporter(message);
    } else {
      std::fprintf(stderr, "%s\n", message.c_str());
    }
  } catch (...) {
    // A failing reporter must not take the event loop down.
  }
}

void HandlerGuard::DispatchPass() {
  std::exception_ptr error;
  std::exception_ptr* const outer = std::exchange(g_waitSlot, &error);
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  g_waitSlot = outer;
  if (error) std::rethrow_exception(error);
}

HandlerGuard::ModalScope::ModalScope() : saved_(std::exchange(g_waitSlot, nullptr)) {}

HandlerGuard::ModalScope::~ModalScope() { g_waitSlot = saved_; }
