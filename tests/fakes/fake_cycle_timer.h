#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "monitor/cycle_timer.h"

// A timer that fires only when its owner fires it by hand. Records what the cycle sets; a
// restart is a change that leaves the timer running.
class FakeTimer final : public CycleTimer {
 public:
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override { Change(enabled, interval_); }
  int32_t Interval() const override { return interval_; }
  void SetInterval(int32_t milliseconds) override { Change(enabled_, milliseconds); }
  void SetHandler(std::function<void()> handler) override { handler_ = std::move(handler); }
  // Whether a real timer in this state would fire at all.
  bool Armed() const { return enabled_ && interval_ > 0; }
  // Runs what the owner set to run when it fires.
  void Fire() {
    if (handler_) handler_();
  }
  int Restarts = 0;

 private:
  void Change(bool enabled, int32_t interval) {
    if (enabled == enabled_ && interval == interval_) return;
    enabled_ = enabled;
    interval_ = interval;
    if (enabled_ && interval_ > 0) ++Restarts;
  }
  bool enabled_ = false;
  int32_t interval_ = 1000;
  std::function<void()> handler_;
};
