#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "app/monitor_settings.h"
#include "monitor/poll_cycle.h"

class Clock;
class CsvLog;
class CycleTimer;
class TUDPEndpoint;

// The read cycle: reads DeviceNum devices in requests of at most 8, one in flight at a time,
// and turns the replies into one log row. Timer1 repeats cycles, Timer2 resends an unanswered
// request, Timer3 bounds the Stop/close wait. It knows no widgets: the main window hands it
// the endpoint, the timers, the log, the clock and a status-line sink.
class ReadCycle {
 public:
  using StatusSink = std::function<void(const std::string& text)>;
  using DispatchPass = std::function<void()>;

  struct Parts {
    const MonitorSettings& Settings;
    TUDPEndpoint& Endpoint;
    CycleTimer& Timer1;
    CycleTimer& Timer2;
    CycleTimer& Timer3;
    CsvLog& Log;
    const Clock& LocalTime;
    StatusSink Status;
    // One waiting dispatch pass of the Stop/close wait; tests replace it.
    DispatchPass Dispatch;
  };

  explicit ReadCycle(Parts parts);

  void StartCycle(uint8_t kind, int32_t first, int32_t count);
  void SendReadRequest(uint8_t kind, int32_t first, int32_t count);

  void UDPEndpoint1DataReceived(int32_t NumberBytes, const std::string& FromIP, int32_t Port);
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();

  // Run: header pending, status cleared, first cycle sent at once; then showRunning, then the
  // repeat timer.
  void BeginMonitoring(const std::function<void()>& showRunning);
  // Waits, dispatching events, until the cycle's row is complete or Timer3 has fired.
  void StopWait();

  const PollCycle& State() const { return state_; }
  // What the last request went to; only replies from there are taken.
  const std::string& ControllerAddress() const { return controllerAddress_; }

  static constexpr int kReceiveBufferSize = 8192;
  static constexpr int kSendBufferSize = 8192;
  static constexpr int kMaxChunk = 8;

 private:
  void SetStatus(const std::string& text) { parts_.Status(text); }

  Parts parts_;
  PollCycle state_;
  std::string controllerAddress_;
  std::array<char, kReceiveBufferSize> ReceiveBuffer{};
  std::array<char, kSendBufferSize> SendBuffer{};
};
