#pragma once

#include <functional>
#include <string>

#include "app/monitor_settings.h"
#include "monitor/clock.h"
#include "monitor/csv_log.h"
#include "monitor/read_cycle.h"
#include "monitor/timer.h"
#include "net/posix_socket_api.h"
#include "net/udp_endpoint.h"

// The monitor's core put together as the main window puts it together (the endpoint over the
// POSIX socket layer, loaded with the window's stored properties, the three window timers, the
// CSV log, the system clock and the read cycle), without widgets, for the benchmarks. The
// hooks see each cycle start by the repeat timer and each row end.
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

  ReadCycle& Cycle() { return cycle_; }
  TUDPEndpoint& Endpoint() { return endpoint_; }
  TTimer& Timer1() { return timer1_; }
  TTimer& Timer2() { return timer2_; }

 private:
  Hooks hooks_;
  PosixSocketApi sockets_;
  TUDPEndpoint endpoint_{sockets_};
  TTimer timer1_;
  TTimer timer2_;
  TTimer timer3_;
  CsvLog log_;
  SystemClock clock_;
  ReadCycle cycle_;
};
