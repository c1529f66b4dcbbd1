#pragma once

#include <QBasicTimer>
#include <QObject>
#include <functional>
#include <utility>

#include "monitor/cycle_timer.h"

class QTimerEvent;

// A window timer: disabled with an interval of 1000 ms when created. Its handler runs inside
// the handler guard, so an error ends in the standard error box (or leaves an enclosing wait).
// The read cycle restarts its time-out timer for every request, so it sits straight on the
// event dispatcher's timer rather than on a QTimer and its signal.
class TTimer final : public QObject, public CycleTimer {
  Q_OBJECT

 public:
  explicit TTimer(QObject* parent = nullptr);

  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override;
  int32_t Interval() const override { return interval_; }
  void SetInterval(int32_t milliseconds) override;
  void SetHandler(std::function<void()> handler) override { OnTimer = std::move(handler); }

  std::function<void()> OnTimer;

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  void Restart();

  bool enabled_ = false;
  int32_t interval_ = 1000;
  QBasicTimer timer_;
};
