#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "monitor/cycle_timer.h"

// A window timer: disabled with an interval of 1000 ms when created. Its handler runs inside
// the handler guard, so an error ends in the standard error box (or leaves an enclosing wait).
class TTimer final : public QObject, public CycleTimer {
  Q_OBJECT

 public:
  explicit TTimer(QObject* parent = nullptr);

  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override;
  int32_t Interval() const override { return interval_; }
  void SetInterval(int32_t milliseconds) override;

  std::function<void()> OnTimer;

 private:
  void Restart();

  bool enabled_ = false;
  int32_t interval_ = 1000;
  QTimer timer_;
};
