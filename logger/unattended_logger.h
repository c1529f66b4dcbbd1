#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/monitor_settings.h"
#include "base/handler_guard.h"
#include "logger/logger_options.h"
#include "logger/row_writer.h"
#include "logger/status_journal.h"
#include "monitor/poller.h"
#include "monitor/timer.h"

class FolderLock;
class RowPublisher;
struct MqttConfig;

// The headless logger: the read cycle in its unattended conduct over the real endpoint, its
// rows to a RowWriter, its conditions to a StatusJournal. It polls from Start() until Stop()
// or until --cycles rows are written, then reports the exit status through OnFinished.
class UnattendedLogger {
 public:
  // What it runs on; the defaults are the real ones. Tests inject a socket layer or a clock.
  struct Environment {
    Poller::Environment Poll;  // the socket layer and the clock
    std::FILE* Journal = stderr;
    FolderLock* Lock = nullptr;           // the output folder's, checked before each write
    const MqttConfig* Publish = nullptr;  // where rows are published; none: not published
  };

  UnattendedLogger(const LoggerOptions& options, const MonitorSettings& settings,
                   Environment environment);
  ~UnattendedLogger();
  UnattendedLogger(const UnattendedLogger&) = delete;
  UnattendedLogger& operator=(const UnattendedLogger&) = delete;

  void Start();
  // The cycle in flight gets up to a second to complete, the backlog is written, the summary
  // printed; then OnFinished(0), or OnFinished(1) when rows could not be written.
  void Stop();

  std::function<void(int status)> OnFinished;
  // Requests sent so far, resends included.
  uint64_t Requests() const;

 private:
  void RowComplete(const LocalDateTime& stamp, const std::vector<uint16_t>& values);
  void Status(const std::string& text);
  void WriteBacklog();
  void Finish(int status);
  std::string Summary() const;

  LoggerOptions options_;
  MonitorSettings settings_;
  Environment environment_;
  TTimer timer1_;
  TTimer timer2_;
  TTimer timer3_;
  // The endpoint and the read cycle in the logger's conduct, over the timers above.
  Poller poller_;
  StatusJournal journal_;
  std::unique_ptr<RowWriter> writer_;
  std::unique_ptr<RowPublisher> publisher_;
  QElapsedTimer stopping_since_;  // the stop's budget is shared by the backlog and publishing
  // Retries a backlog while nothing else writes (polling paused at the bound).
  QTimer backlogTimer_;
  HandlerGuard::Reporter previousReporter_;
  int64_t rowsWanted_ = 0;  // 0: no limit
  bool oneRow_ = false;     // Interval 0: one row
  bool stopping_ = false;
  bool finished_ = false;
};
