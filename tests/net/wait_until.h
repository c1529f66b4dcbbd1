#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

// Runs the event loop in short slices until `condition` holds or the bound passes; true when it
// held.
template <typename Condition>
bool WaitUntil(Condition condition, int boundMs = 5000) {
  const QDeadlineTimer deadline(boundMs);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}
