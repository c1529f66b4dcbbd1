#pragma once

#include <cstdint>
#include <functional>

// A periodic timer as the read cycle sees it. Setting Enabled or Interval to the value it
// already has changes nothing; changing either restarts the period; an interval of 0 or
// below never fires.
class CycleTimer {
 public:
  virtual ~CycleTimer() = default;
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual int32_t Interval() const = 0;
  virtual void SetInterval(int32_t milliseconds) = 0;
  // What runs when it fires.
  virtual void SetHandler(std::function<void()> handler) = 0;
};
