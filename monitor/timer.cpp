#include "monitor/timer.h"

#include <QTimerEvent>

#include "base/handler_guard.h"

TTimer::TTimer(QObject* parent) : QObject(parent) {}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Restart();
}

void TTimer::SetInterval(int32_t milliseconds) {
  if (milliseconds == interval_) return;
  interval_ = milliseconds;
  Restart();
}

void TTimer::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timer_.timerId()) {
    QObject::timerEvent(event);
    return;
  }
  if (OnTimer) HandlerGuard::Run(OnTimer);
}

void TTimer::Restart() {
  // A zero interval would fire at every loop pass; ours never fires then.
  if (enabled_ && interval_ > 0) {
    timer_.start(interval_, this);
  } else {
    timer_.stop();
  }
}
