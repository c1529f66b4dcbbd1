#include "monitor/read_cycle.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "monitor/cycle_timer.h"
#include "monitor/read_command.h"
#include "net/udp_endpoint.h"

ReadCycle::ReadCycle(Parts parts, std::unique_ptr<Conduct> conduct)
    : parts_(std::move(parts)), conduct_(std::move(conduct)) {}

ReadCycle::~ReadCycle() = default;

int32_t ReadCycle::RepeatMilliseconds(int32_t seconds) {
  const int64_t ms = static_cast<int64_t>(seconds) * 1000;
  return static_cast<int32_t>(std::clamp<int64_t>(ms, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int32_t ReadCycle::Wrapped(int32_t value, int32_t step) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(step));
}

void ReadCycle::StartCycle(uint8_t kind, int32_t first, int32_t count) {
  state_.CycleBusy = true;
  state_.StampPending = true;
  state_.DeviceKind = kind;
  state_.ChunkStart = first;
  conduct_->StartCycle(*this, kind, first, count);
}

void ReadCycle::SendReadRequest(uint8_t kind, int32_t first, int32_t count) {
  const MonitorSettings& settings = parts_.Settings;
  parts_.Endpoint.SetRemoteHost(settings.IPAddress);
  parts_.Endpoint.SetRemotePort(settings.PortNo);
  const ReadCommand command = BuildReadCommand(kind, first, count);
  std::copy(command.begin(), command.end(), SendBuffer.begin());
  parts_.Endpoint.SendDatagram(SendBuffer, static_cast<int32_t>(command.size()));
  ++counters_.Requests;
  controllerAddress_ = parts_.Endpoint.RemoteAddressText();
  controllerPort_ = settings.PortNo & 0xFFFF;
  parts_.Timer1.SetInterval(RepeatMilliseconds(settings.Interval));
  parts_.Timer1.SetEnabled(true);
  parts_.Timer2.SetInterval(settings.TimeOut);
  parts_.Timer2.SetEnabled(true);
  state_.AwaitingReply = true;
}

int32_t ReadCycle::ReadReply() {
  int32_t length = 0;
  parts_.Endpoint.ReadDatagram(ReceiveBuffer, length);
  return length;
}

std::string_view ReadCycle::ReceivedBytes(int32_t length) const {
  return {ReceiveBuffer.data(), static_cast<size_t>(std::clamp(length, 0, kReceiveBufferSize))};
}

std::string_view ReadCycle::ReceivedText(int32_t length) const {
  // The reply text ends at its first NUL, as if one were stored after the received bytes.
  const std::string_view bytes = ReceivedBytes(length);
  return bytes.substr(0, bytes.find('\0'));
}

void ReadCycle::UDPEndpoint1DataReceived(int32_t NumberBytes, const std::string& FromIP,
                                         int32_t Port) {
  conduct_->Received(*this, NumberBytes, FromIP, Port);
}

void ReadCycle::Timer1Timer() {
  if (state_.CycleBusy || paused_ || !conduct_->Idle()) return;
  const MonitorSettings& settings = parts_.Settings;
  StartCycle(settings.DeviceName, settings.DeviceStart, settings.DeviceNum);
}

void ReadCycle::Timer2Timer() {
  parts_.Timer2.SetEnabled(false);
  if (!state_.AwaitingReply || !conduct_->Idle()) return;
  SetStatus("UDP-Unresponced. Retrying.");
  ++counters_.Resends;
  conduct_->Resend(*this);
}

void ReadCycle::Timer3Timer() { parts_.Timer3.SetEnabled(false); }

void ReadCycle::BeginMonitoring(const std::function<void()>& showRunning) {
  conduct_->Begin();
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
