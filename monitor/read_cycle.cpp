#include "monitor/read_cycle.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <limits>
#include <string_view>

#include "monitor/csv_log.h"
#include "monitor/cycle_timer.h"
#include "monitor/read_command.h"
#include "net/udp_endpoint.h"

namespace {

// Interval is in seconds; the timer takes milliseconds. A setting beyond the 32-bit range of
// the product is clamped instead of wrapping to a short or negative period.
int32_t RepeatMilliseconds(int32_t seconds) {
  const int64_t ms = static_cast<int64_t>(seconds) * 1000;
  return static_cast<int32_t>(std::clamp<int64_t>(ms, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Device numbers and counts from the INI file are used unchecked; stepping past the 32-bit
// range wraps, as the command's number field has always followed it.
int32_t Wrapped(int32_t value, int32_t step) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(step));
}

// The ports of the last half of the ephemeral range are never bound again: far more than the
// 12,500 requests of the largest cycle, while the system still has the other half to choose
// from, so a fresh port seldom takes more than a bind or two.
std::size_t RememberedPorts(const ReadCycle::Parts& parts) {
  if (parts.Mode != ReadCycle::Conduct::kUnattended) return 1;
  return static_cast<std::size_t>(std::max(parts.Endpoint.EphemeralPortCount(), 2)) / 2;
}

std::string SizeText(const char* what, int32_t numberBytes) {
  return std::string(what) + std::to_string(numberBytes) + "Bytes. Abandond.";
}

constexpr const char* kNotAwaited = "Unexpected-UDP-DataReceived ";
constexpr const char* kWrongSize = "Unexpected-UDP-NumberBytes ";

}  // namespace

ReadCycle::ReadCycle(Parts parts)
    : parts_(std::move(parts)), recentPorts_(RememberedPorts(parts_)) {}

void ReadCycle::StartCycle(uint8_t kind, int32_t first, int32_t count) {
  state_.CycleBusy = true;
  state_.StampPending = true;
  state_.DeviceKind = kind;
  state_.ChunkStart = first;
  if (Unattended()) {
    row_.clear();
    state_.DevicesLeft = count;
    if (count < 1) {
      state_.CycleBusy = false;
      return;
    }
    RequestNext();
    return;
  }
  state_.FullChunksLeft = count / kMaxChunk;
  state_.RemainderCount = count % kMaxChunk;
  if (state_.FullChunksLeft > 0) {
    state_.ChunkCount = kMaxChunk;
  } else {
    state_.ChunkCount = state_.RemainderCount;
    state_.RemainderCount = 0;
  }
  SendReadRequest(state_.DeviceKind, state_.ChunkStart, state_.ChunkCount);
}

void ReadCycle::RequestNext() {
  state_.ChunkCount = std::min(state_.DevicesLeft, kMaxChunk);
  // A new request gets a port of its own; its resends keep it.
  sending_ = true;
  try {
    parts_.Endpoint.BindFreshPort(recentPorts_);
  } catch (const std::exception& error) {
    sending_ = false;
    GiveUp(error.what());
    return;
  }
  sending_ = false;
  SendReadRequest(state_.DeviceKind, state_.ChunkStart, state_.ChunkCount);
}

void ReadCycle::SendReadRequest(uint8_t kind, int32_t first, int32_t count) {
  const MonitorSettings& settings = parts_.Settings;
  parts_.Endpoint.SetRemoteHost(settings.IPAddress);
  parts_.Endpoint.SetRemotePort(settings.PortNo);
  const ReadCommand command = BuildReadCommand(kind, first, count);
  std::copy(command.begin(), command.end(), SendBuffer.begin());
  if (Unattended()) {
    // A host lookup dispatches events while it waits; whatever comes meanwhile must not
    // start, resend or complete requests under this one.
    sending_ = true;
    try {
      parts_.Endpoint.SendDatagram(SendBuffer, static_cast<int32_t>(command.size()));
    } catch (const std::exception& error) {
      sending_ = false;
      GiveUp(error.what());
      return;
    }
    sending_ = false;
  } else {
    parts_.Endpoint.SendDatagram(SendBuffer, static_cast<int32_t>(command.size()));
  }
  ++counters_.Requests;
  controllerAddress_ = parts_.Endpoint.RemoteAddressText();
  controllerPort_ = settings.PortNo & 0xFFFF;
  parts_.Timer1.SetInterval(RepeatMilliseconds(settings.Interval));
  parts_.Timer1.SetEnabled(true);
  parts_.Timer2.SetInterval(settings.TimeOut);
  parts_.Timer2.SetEnabled(true);
  state_.AwaitingReply = true;
}

void ReadCycle::GiveUp(const std::string& message) {
  // Whatever still comes for the cycle's request is discarded by the system.
  parts_.Endpoint.CloseLocal();
  state_.AwaitingReply = false;
  state_.CycleBusy = false;
  row_.clear();
  parts_.Timer2.SetEnabled(false);
  ++counters_.Failures;
  if (parts_.Failure) parts_.Failure(message);
}

void ReadCycle::DropSpecified(const char* what, int32_t numberBytes) {
  ++counters_.Dropped;
  SetStatus(SizeText(what, numberBytes));
}

void ReadCycle::DropUnattended(Drop why, int32_t numberBytes, const std::string& fromIP,
                               int32_t port) {
  ++counters_.Dropped;
  if (parts_.Dropped) parts_.Dropped(why, numberBytes, fromIP, port);
}

std::string_view ReadCycle::ReceivedText(int32_t length) const {
  // The reply text ends at its first NUL, as if one were stored after the received bytes.
  const auto received = static_cast<size_t>(std::clamp(length, 0, kReceiveBufferSize));
  const auto end = std::find(ReceiveBuffer.begin(), ReceiveBuffer.begin() + received, '\0');
  return {ReceiveBuffer.data(), static_cast<size_t>(end - ReceiveBuffer.begin())};
}

void ReadCycle::UDPEndpoint1DataReceived(int32_t NumberBytes, const std::string& FromIP,
                                         int32_t Port) {
  if (Unattended()) {
    TakeUnattended(NumberBytes, FromIP, Port);
    return;
  }
  // A datagram from anyone but the controller is not a reply, whatever it holds.
  if (!state_.AwaitingReply || FromIP != controllerAddress_) {
    DropSpecified(kNotAwaited, NumberBytes);
    return;
  }
  TakeSpecified(NumberBytes);
}

void ReadCycle::TakeSpecified(int32_t NumberBytes) {
  state_.AwaitingReply = false;
  SetStatus("");
  parts_.Timer2.SetEnabled(false);

  int32_t length = 0;
  if (NumberBytes <= kReceiveBufferSize) parts_.Endpoint.ReadDatagram(ReceiveBuffer, length);
  if (!ReplyLengthValid(NumberBytes)) {
    SetStatus(SizeText(kWrongSize, NumberBytes));
    return;
  }
  const std::string_view text = ReceivedText(length);

  const MonitorSettings& settings = parts_.Settings;
  if (state_.HeaderPending) {
    state_.HeaderPending = false;
    parts_.Log->WriteHeaderRow(settings.DeviceName, settings.DeviceStart, settings.DeviceNum);
  }
  std::string stamp;
  if (state_.StampPending) {
    state_.StampPending = false;
    stamp = CsvLog::MakeRowStamp(parts_.LocalTime.Now());
  }
  const std::vector<uint16_t> values = ParseReplyValues(text);
  parts_.Log->AppendValues(stamp, values, settings.Unsigned == 1);

  state_.FullChunksLeft = Wrapped(state_.FullChunksLeft, -1);
  if (state_.FullChunksLeft > 0) {
    state_.ChunkStart = Wrapped(state_.ChunkStart, kMaxChunk);
    state_.ChunkCount = kMaxChunk;
    SendReadRequest(state_.DeviceKind, state_.ChunkStart, kMaxChunk);
  } else if (state_.RemainderCount > 0) {
    state_.ChunkStart = Wrapped(state_.ChunkStart, kMaxChunk);
    state_.ChunkCount = state_.RemainderCount;
    SendReadRequest(state_.DeviceKind, state_.ChunkStart, state_.RemainderCount);
    state_.RemainderCount = 0;
  } else {
    parts_.Log->EndRow();
    ++counters_.Rows;
    state_.CycleBusy = false;
  }
}

void ReadCycle::TakeUnattended(int32_t NumberBytes, const std::string& FromIP, int32_t Port) {
  // The port is the request's own, so only the controller's address and port remain to check.
  if (FromIP != controllerAddress_ || Port != controllerPort_) {
    DropUnattended(Drop::kWrongSender, NumberBytes, FromIP, Port);
    return;
  }
  // A datagram that comes while a send waits for its host lookup was sent to no request.
  if (sending_ || !state_.AwaitingReply) {
    DropUnattended(Drop::kNotAwaited, NumberBytes, FromIP, Port);
    return;
  }
  if (NumberBytes != 6 * state_.ChunkCount + 1) {
    DropUnattended(Drop::kWrongSize, NumberBytes, FromIP, Port);
    return;
  }
  int32_t length = 0;
  parts_.Endpoint.ReadDatagram(ReceiveBuffer, length);
  const std::string_view datagram(ReceiveBuffer.data(),
                                  static_cast<size_t>(std::clamp(length, 0, kReceiveBufferSize)));
  // Only what a controller writes is an answer: a NUL, a letter or a wrong separator would
  // give values that nobody read.
  if (!ReplyWellFormed(datagram)) {
    DropUnattended(Drop::kMalformed, NumberBytes, FromIP, Port);
    return;
  }

  state_.AwaitingReply = false;
  SetStatus("");
  parts_.Timer2.SetEnabled(false);
  if (state_.StampPending) {
    state_.StampPending = false;
    rowStamp_ = parts_.LocalTime.Now();
  }
  const std::vector<uint16_t> values = ParseReplyValues(datagram);
  row_.insert(row_.end(), values.begin(), values.end());

  state_.DevicesLeft -= state_.ChunkCount;
  state_.ChunkStart = Wrapped(state_.ChunkStart, state_.ChunkCount);
  if (state_.DevicesLeft > 0) {
    RequestNext();
    return;
  }
  // Copies of the last answer go nowhere.
  parts_.Endpoint.CloseLocal();
  state_.CycleBusy = false;
  ++counters_.Rows;
  if (parts_.CompleteRow) parts_.CompleteRow(rowStamp_, row_);
  row_.clear();
}

void ReadCycle::Timer1Timer() {
  if (state_.CycleBusy || paused_ || sending_) return;
  const MonitorSettings& settings = parts_.Settings;
  StartCycle(settings.DeviceName, settings.DeviceStart, settings.DeviceNum);
}

void ReadCycle::Timer2Timer() {
  parts_.Timer2.SetEnabled(false);
  if (!state_.AwaitingReply || sending_) return;
  SetStatus("UDP-Unresponced. Retrying.");
  ++counters_.Resends;
  SendReadRequest(state_.DeviceKind, state_.ChunkStart, state_.ChunkCount);
}

void ReadCycle::Timer3Timer() { parts_.Timer3.SetEnabled(false); }

void ReadCycle::BeginMonitoring(const std::function<void()>& showRunning) {
  state_.HeaderPending = true;
  SetStatus("");
  const MonitorSettings& settings = parts_.Settings;
  StartCycle(settings.DeviceName, settings.DeviceStart, settings.DeviceNum);
  if (showRunning) showRunning();
  parts_.Timer1.SetEnabled(true);
}

void ReadCycle::StopWait() {
  parts_.Timer3.SetEnabled(true);
  while (state_.CycleBusy && parts_.Timer3.Enabled()) parts_.Dispatch();
}
