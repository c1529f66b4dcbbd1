#pragma once

#include <chrono>

// A local date and time, as the log's file name and row stamps show it.
struct LocalDateTime {
  int Year = 0;
  int Month = 0;  // 1..12
  int Day = 0;    // 1..31
  int Hour = 0;
  int Minute = 0;
  int Second = 0;

  bool SameDay(const LocalDateTime& other) const {
    return Year == other.Year && Month == other.Month && Day == other.Day;
  }
};

// Where the cycle and the start-up take the local date and time from; tests set it.
class Clock {
 public:
  using Monotonic = std::chrono::steady_clock;

  virtual ~Clock() = default;
  virtual LocalDateTime Now() const = 0;
  // For measuring ages; unaffected by changes of the wall clock.
  virtual Monotonic::time_point Elapsed() const { return Monotonic::now(); }
};

class SystemClock final : public Clock {
 public:
  LocalDateTime Now() const override;
};
