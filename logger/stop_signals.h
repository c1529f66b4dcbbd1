#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

// SIGTERM and SIGINT as events of the Qt loop, read from a signalfd, so that stopping runs
// like any other handler and never interrupts one.
class StopSignals {
 public:
  // Blocks the two signals for the calling thread and every thread it starts later; call it
  // first thing in main.
  static void Block();

  explicit StopSignals(std::function<void(int signal)> onSignal);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  int fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void(int)> onSignal_;
};
