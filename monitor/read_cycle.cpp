#include "monitor/read_cycle.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "monitor/clock.h"
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
}  // namespace

ReadCycle::ReadCycle(Parts parts) : parts_(std::move(parts)) {}

void ReadCycle::StartCycle(uint8_t kind, int32_t first, int32_t count) {
  state_.CycleBusy = true;
  state_.StampPending = true;
  state_.DeviceKind = kind;
  state_.FullChunksLeft = count / kMaxChunk;
  state_.RemainderCount = count % kMaxChunk;
  state_.ChunkStart = first;
  if (state_.FullChunksLeft > 0) {
    state_.ChunkCount = kMaxChunk;
  } else {
    state_.ChunkCount = state_.RemainderCount;
    state_.RemainderCount = 0;
  }
  SendReadRequest(state_.DeviceKind, state_.ChunkStart, state_.ChunkCount);
}

void ReadCycle::SendReadRequest(uint8_t kind, int32_t first, int32_t count) {
  const MonitorSettings& settings = parts_.Settings;
  parts_.Endpoint.SetRemoteHost(settings.IPAddress);
  parts_.Endpoint.SetRemotePort(settings.PortNo);
  const ReadCommand command = BuildReadCommand(kind, first, count);
  std::copy(command.begin(), command.end(), SendBuffer.begin());
  parts_.Endpoint.SendDatagram(SendBuffer, static_cast<int32_t>(command.size()));
  controllerAddress_ = parts_.Endpoint.RemoteAddressText();
  parts_.Timer1.SetInterval(RepeatMilliseconds(settings.Interval));
  parts_.Timer1.SetEnabled(true);
  parts_.Timer2.SetInterval(settings.TimeOut);
  parts_.Timer2.SetEnabled(true);
  state_.AwaitingReply = true;
}

void ReadCycle::UDPEndpoint1DataReceived(int32_t NumberBytes, const std::string& FromIP,
                                         int32_t /*Port*/) {
  // A datagram from anyone but the controller is not a reply, whatever it holds.
  if (!state_.AwaitingReply || FromIP != controllerAddress_) {
    SetStatus("Unexpected-UDP-DataReceived " + std::to_string(NumberBytes) + "Bytes. Abandond.");
    return;
  }
  state_.AwaitingReply = false;
  SetStatus("");
  parts_.Timer2.SetEnabled(false);

  int32_t length = 0;
  if (NumberBytes <= kReceiveBufferSize) parts_.Endpoint.ReadDatagram(ReceiveBuffer, length);
  if (!ReplyLengthValid(NumberBytes)) {
    SetStatus("Unexpected-UDP-NumberBytes " + std::to_string(NumberBytes) + "Bytes. Abandond.");
    return;
  }
  // The reply text ends at its first NUL, as if one were stored after the received bytes.
  const size_t received = static_cast<size_t>(std::clamp(length, 0, kReceiveBufferSize));
  const size_t textLength =
      static_cast<size_t>(std::find(ReceiveBuffer.begin(), ReceiveBuffer.begin() + received, '\0') -
                          ReceiveBuffer.begin());

  const MonitorSettings& settings = parts_.Settings;
  if (state_.HeaderPending) {
    state_.HeaderPending = false;
    parts_.Log.WriteHeaderRow(settings.DeviceName, settings.DeviceStart, settings.DeviceNum);
  }
  std::string stamp;
  if (state_.StampPending) {
    state_.StampPending = false;
    stamp = CsvLog::MakeRowStamp(parts_.LocalTime.Now());
  }
  const std::vector<uint16_t> values =
      ParseReplyValues(std::string_view(ReceiveBuffer.data(), textLength));
  parts_.Log.AppendValues(stamp, values, settings.Unsigned == 1);

  state_.FullChunksLeft -= 1;
  if (state_.FullChunksLeft > 0) {
    state_.ChunkStart += kMaxChunk;
    state_.ChunkCount = kMaxChunk;
    SendReadRequest(state_.DeviceKind, state_.ChunkStart, kMaxChunk);
  } else if (state_.RemainderCount > 0) {
    state_.ChunkStart += kMaxChunk;
    state_.ChunkCount = state_.RemainderCount;
    SendReadRequest(state_.DeviceKind, state_.ChunkStart, state_.RemainderCount);
    state_.RemainderCount = 0;
  } else {
    parts_.Log.EndRow();
    state_.CycleBusy = false;
  }
}

void ReadCycle::Timer1Timer() {
  if (state_.CycleBusy) return;
  const MonitorSettings& settings = parts_.Settings;
  StartCycle(settings.DeviceName, settings.DeviceStart, settings.DeviceNum);
}

void ReadCycle::Timer2Timer() {
  parts_.Timer2.SetEnabled(false);
  if (!state_.AwaitingReply) return;
  SetStatus("UDP-Unresponced. Retrying.");
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
