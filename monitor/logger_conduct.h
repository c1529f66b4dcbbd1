#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "monitor/clock.h"
#include "monitor/read_cycle.h"
#include "net/recent_ports.h"

// The headless logger's conduct of the read cycle. Each new request is sent from a local port
// of its own (its resends from the same port), and the port is closed once its answer is taken,
// so the system discards every later copy, late answer or stray for it. On that port the first
// datagram from the controller's address and port, in the controller's layout and with the
// count asked for, is the answer; anything else is dropped and the request stays awaited. The
// values of a cycle are handed on as one row, stamped at its first answer, once it is complete.
// A send that fails gives the cycle up; the next tick starts it afresh.
class LoggerConduct final : public ReadCycle::Conduct {
 public:
  // Why a datagram was not taken as the answer to the request in flight.
  enum class Drop {
    kWrongSender,  // not from the controller's address and port
    kNotAwaited,   // no request in flight
    kWrongSize,    // not the size of the answer to the request in flight
    kMalformed,    // the right size, but not in the controller's reply layout
  };

  struct Sinks {
    std::function<void(const LocalDateTime& stamp, const std::vector<uint16_t>& values)> Row;
    std::function<void(const std::string& message)> Failure;  // the error that gave a cycle up
    std::function<void(Drop why, int32_t numberBytes, const std::string& fromIP, int32_t port)>
        Dropped;
  };

  // ephemeralPorts: how many ports the system hands out; the last half of them is never bound
  // again, far more than the 12,500 requests of the largest cycle, while the system still has
  // the other half to choose from, so a fresh port seldom takes more than a bind or two.
  LoggerConduct(int ephemeralPorts, Sinks sinks);

  void StartCycle(ReadCycle& cycle, uint8_t kind, int32_t first, int32_t count) override;
  void Received(ReadCycle& cycle, int32_t numberBytes, const std::string& fromIP,
                int32_t port) override;
  void Resend(ReadCycle& cycle) override;
  bool Idle() const override { return !sending_; }

 private:
  // A new request, from a port of its own.
  void RequestNext(ReadCycle& cycle);
  void Send(ReadCycle& cycle);
  // Runs a step that sends or binds; an error it throws gives the cycle up.
  template <typename Step>
  bool Attempt(ReadCycle& cycle, Step&& step);
  void GiveUp(ReadCycle& cycle, const std::string& message);
  void DropDatagram(ReadCycle& cycle, Drop why, int32_t numberBytes, const std::string& fromIP,
                    int32_t port);

  Sinks sinks_;
  RecentPorts recentPorts_;
  int32_t devicesLeft_ = 0;  // the request in flight's included
  std::vector<uint16_t> row_;
  LocalDateTime rowStamp_;
  // A host lookup dispatches events while it waits; whatever comes meanwhile must not start,
  // resend or complete requests under this one.
  bool sending_ = false;
};
