#include "net/notify_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <utility>

#include "base/handler_guard.h"

namespace {

const QEvent::Type kNotifyEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class NotifyEvent : public QEvent {
 public:
  NotifyEvent(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
      : QEvent(kNotifyEventType), message_(message), wParam_(wParam), lParam_(lParam) {}

  std::uint32_t message_;
  std::uintptr_t wParam_;
  std::intptr_t lParam_;
};

}  // namespace

NotifyWindow::NotifyWindow(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

NotifyWindow::~NotifyWindow() = default;

void NotifyWindow::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  QCoreApplication::postEvent(this, new NotifyEvent(message, wParam, lParam));
}

void NotifyWindow::Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (handler_) HandlerGuard::Run([&] { handler_(message, wParam, lParam); });
}

bool NotifyWindow::event(QEvent* event) {
  if (event->type() != kNotifyEventType) return QObject::event(event);
  const auto* notify = static_cast<NotifyEvent*>(event);
  Send(notify->message_, notify->wParam_, notify->lParam_);
  return true;
}
