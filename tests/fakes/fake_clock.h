#pragma once

#include "monitor/clock.h"

// A clock that shows what its owner set.
class FakeClock final : public Clock {
 public:
  LocalDateTime Now() const override { return Time; }
  Monotonic::time_point Elapsed() const override { return Steady; }
  LocalDateTime Time{2004, 1, 10, 9, 5, 8};
  Monotonic::time_point Steady{};
};
