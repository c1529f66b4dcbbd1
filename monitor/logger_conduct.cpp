#include "monitor/logger_conduct.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "monitor/cycle_timer.h"
#include "monitor/read_command.h"
#include "net/udp_endpoint.h"

LoggerConduct::LoggerConduct(int ephemeralPorts, Sinks sinks)
    : sinks_(std::move(sinks)),
      recentPorts_(static_cast<std::size_t>(std::max(ephemeralPorts, 2)) / 2) {}

void LoggerConduct::StartCycle(ReadCycle& cycle, uint8_t /*kind*/, int32_t /*first*/,
                               int32_t count) {
  row_.clear();
  devicesLeft_ = count;
  if (count < 1) {
    cycle.MutableState().CycleBusy = false;
    return;
  }
  RequestNext(cycle);
}

template <typename Step>
bool LoggerConduct::Attempt(ReadCycle& cycle, Step&& step) {
  sending_ = true;
  try {
    step();
  } catch (const std::exception& error) {
    sending_ = false;
    GiveUp(cycle, error.what());
    return false;
  }
  sending_ = false;
  return true;
}

void LoggerConduct::RequestNext(ReadCycle& cycle) {
  cycle.MutableState().ChunkCount = std::min(devicesLeft_, ReadCycle::kMaxChunk);
  // A new request gets a port of its own; its resends keep it.
  if (Attempt(cycle, [&] { cycle.Part().Endpoint.BindFreshPort(recentPorts_); })) Send(cycle);
}

void LoggerConduct::Resend(ReadCycle& cycle) { Send(cycle); }

void LoggerConduct::Send(ReadCycle& cycle) {
  const PollCycle& state = cycle.State();
  Attempt(cycle,
          [&] { cycle.SendReadRequest(state.DeviceKind, state.ChunkStart, state.ChunkCount); });
}

void LoggerConduct::GiveUp(ReadCycle& cycle, const std::string& message) {
  // Whatever still comes for the cycle's request is discarded by the system.
  cycle.Part().Endpoint.CloseLocal();
  PollCycle& state = cycle.MutableState();
  state.AwaitingReply = false;
  state.CycleBusy = false;
  row_.clear();
  cycle.Part().Timer2.SetEnabled(false);
  ++cycle.MutableStats().Failures;
  if (sinks_.Failure) sinks_.Failure(message);
}

void LoggerConduct::DropDatagram(ReadCycle& cycle, Drop why, int32_t numberBytes,
                                 const std::string& fromIP, int32_t port) {
  ++cycle.MutableStats().Dropped;
  if (sinks_.Dropped) sinks_.Dropped(why, numberBytes, fromIP, port);
}

void LoggerConduct::Received(ReadCycle& cycle, int32_t numberBytes, const std::string& fromIP,
                             int32_t port) {
  PollCycle& state = cycle.MutableState();
  // The port is the request's own, so only the controller's address and port remain to check.
  if (fromIP != cycle.ControllerAddress() || port != cycle.ControllerPort()) {
    DropDatagram(cycle, Drop::kWrongSender, numberBytes, fromIP, port);
    return;
  }
  // A datagram that comes while a send waits for its host lookup was sent to no request.
  if (sending_ || !state.AwaitingReply) {
    DropDatagram(cycle, Drop::kNotAwaited, numberBytes, fromIP, port);
    return;
  }
  if (numberBytes != 6 * state.ChunkCount + 1) {
    DropDatagram(cycle, Drop::kWrongSize, numberBytes, fromIP, port);
    return;
  }
  // Only what a controller writes is an answer: a NUL, a letter or a wrong separator would
  // give values that nobody read.
  const std::string_view datagram = cycle.ReceivedBytes(cycle.ReadReply());
  if (!ReplyWellFormed(datagram)) {
    DropDatagram(cycle, Drop::kMalformed, numberBytes, fromIP, port);
    return;
  }

  const ReadCycle::Parts& parts = cycle.Part();
  state.AwaitingReply = false;
  cycle.SetStatus("");
  parts.Timer2.SetEnabled(false);
  if (state.StampPending) {
    state.StampPending = false;
    rowStamp_ = parts.LocalTime.Now();
  }
  const std::vector<uint16_t> values = ParseReplyValues(datagram);
  row_.insert(row_.end(), values.begin(), values.end());

  devicesLeft_ -= state.ChunkCount;
  state.ChunkStart = ReadCycle::Wrapped(state.ChunkStart, state.ChunkCount);
  if (devicesLeft_ > 0) {
    RequestNext(cycle);
    return;
  }
  // Copies of the last answer go nowhere.
  parts.Endpoint.CloseLocal();
  state.CycleBusy = false;
  ++cycle.MutableStats().Rows;
  if (sinks_.Row) sinks_.Row(rowStamp_, row_);
  row_.clear();
}
