#pragma once

#include <functional>
#include <string>

#include "app/monitor_settings.h"
#include "monitor/csv_log.h"
#include "monitor/poller.h"
#include "monitor/read_cycle.h"
#include "monitor/timer.h"
#include "net/udp_endpoint.h"

// The monitor's core as the main window has it (the poller over the POSIX socket layer and the
// system clock, the three window timers, the CSV log, the monitor's conduct), without widgets,
// for the benchmarks. The hooks see each cycle start by the repeat timer and each row end.
class BenchMonitor {
 public:
  struct Hooks {
    std::function<void()> CycleStarting;  // Timer1 is about to start a cycle
    std::function<void()> RowEnded;       // a reply has just ended the cycle's row
    ReadCycle::StatusSink Status;         // every status-line text
  };

  BenchMonitor(const MonitorSettings& settings, std::string logFileName, Hooks hooks);
  BenchMonitor(const BenchMonitor&) = delete;
  BenchMonitor& operator=(const BenchMonitor&) = delete;

  ReadCycle& Cycle() { return poller_.Cycle(); }
  TUDPEndpoint& Endpoint() { return poller_.Endpoint(); }
  TTimer& Timer1() { return timer1_; }
  TTimer& Timer2() { return timer2_; }

 private:
  Hooks hooks_;
  TTimer timer1_;
  TTimer timer2_;
  TTimer timer3_;
  CsvLog log_;
  Poller poller_;
};
