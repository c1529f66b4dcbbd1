#pragma once

#include <functional>
#include <memory>

#include "monitor/read_cycle.h"

class Clock;
class CycleTimer;
class SocketApi;
class TUDPEndpoint;

// The poller: the UDP endpoint and the read cycle over one socket layer and one clock, put
// together here once for every program, benchmark, test fixture and fuzzer. The endpoint is
// made, loaded with its stored properties, wired to the cycle and bound at construction; the
// three timers are wired to the cycle too. The cycle itself is assembled once its settings and
// its conduct are there (the monitor loads its settings after it made its endpoint).
class Poller {
 public:
  // What it runs on; the defaults are the real ones. Tests inject a socket layer or a clock.
  struct Environment {
    SocketApi* Sockets = nullptr;      // null: POSIX sockets
    const Clock* LocalTime = nullptr;  // null: the system clock
  };
  // For benchmarks that time cycles: called before a tick of Timer1 and after each datagram.
  struct Observers {
    std::function<void()> BeforeTick;
    std::function<void()> AfterDatagram;
  };

  Poller(Environment environment, CycleTimer& timer1, CycleTimer& timer2, CycleTimer& timer3,
         Observers observers = {});
  ~Poller();
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  // The read cycle over `settings` (which must outlive it) in `conduct`; replaces one assembled
  // before.
  ReadCycle& Assemble(const MonitorSettings& settings, std::unique_ptr<ReadCycle::Conduct> conduct,
                      ReadCycle::StatusSink status, ReadCycle::DispatchPass dispatch = nullptr);

  TUDPEndpoint& Endpoint() { return *endpoint_; }
  ReadCycle& Cycle() { return *cycle_; }
  const ReadCycle& Cycle() const { return *cycle_; }
  bool Assembled() const { return cycle_ != nullptr; }
  const Clock& LocalTime() const { return clock_; }
  SocketApi& Sockets() { return sockets_; }

 private:
  std::unique_ptr<SocketApi> ownSockets_;
  std::unique_ptr<Clock> ownClock_;
  SocketApi& sockets_;
  const Clock& clock_;
  CycleTimer& timer1_;
  CycleTimer& timer2_;
  CycleTimer& timer3_;
  Observers observers_;
  std::unique_ptr<ReadCycle> cycle_;
  // Last member: destroyed first, so no datagram reaches a cycle that is gone.
  std::unique_ptr<TUDPEndpoint> endpoint_;
};
