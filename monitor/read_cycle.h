#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/monitor_settings.h"
#include "monitor/clock.h"
#include "monitor/poll_cycle.h"

class CycleTimer;
class TUDPEndpoint;

// The read cycle: reads DeviceNum devices in requests of at most 8, one in flight at a time.
// Timer1 repeats cycles, Timer2 resends an unanswered request, Timer3 bounds the Stop/close
// wait. It knows no widgets: its owner hands it the endpoint, the timers, the clock and a
// status-line sink.
//
// What a cycle does with what arrives, and with a send that fails, is its conduct's: the
// monitor's (MonitorConduct) or the headless logger's (LoggerConduct). This class holds what
// both share: sending a request, resending it, repeating cycles, the Stop/close wait and the
// counters.
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
    const Clock& LocalTime;
    StatusSink Status;
    // One waiting dispatch pass of the Stop/close wait; tests replace it.
    DispatchPass Dispatch;
  };

  // What happened so far.
  struct Counters {
    uint64_t Requests = 0;  // requests sent, resends included
    uint64_t Resends = 0;
    uint64_t Dropped = 0;   // datagrams not taken as the reply to the request in flight
    uint64_t Failures = 0;  // cycles given up
    uint64_t Rows = 0;      // rows completed
  };

  // How a cycle meets what arrives and what fails.
  class Conduct {
   public:
    virtual ~Conduct() = default;
    // Starts a cycle of `count` devices from `first`.
    virtual void StartCycle(ReadCycle& cycle, uint8_t kind, int32_t first, int32_t count) = 0;
    virtual void Received(ReadCycle& cycle, int32_t numberBytes, const std::string& fromIP,
                          int32_t port) = 0;
    // Sends the request in flight again after its time-out.
    virtual void Resend(ReadCycle& cycle) = 0;
    // False while a send waits for its host lookup: ticks and time-outs then start nothing.
    virtual bool Idle() const { return true; }
    // Run was pressed: called before its first cycle starts.
    virtual void Begin() {}
  };

  ReadCycle(Parts parts, std::unique_ptr<Conduct> conduct);
  ~ReadCycle();

  void StartCycle(uint8_t kind, int32_t first, int32_t count);
  // Sends one read request and arms the time-out and repeat timers. Throws what the endpoint
  // throws.
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
  // While paused, the repeat timer starts no cycle; the one in flight goes on.
  void SetPaused(bool paused) { paused_ = paused; }
  bool Paused() const { return paused_; }

  const PollCycle& State() const { return state_; }
  const Counters& Stats() const { return counters_; }
  // What the last request went to; only replies from there are taken.
  const std::string& ControllerAddress() const { return controllerAddress_; }
  int32_t ControllerPort() const { return controllerPort_; }

  // For its conduct.
  const Parts& Part() const { return parts_; }
  PollCycle& MutableState() { return state_; }
  Counters& MutableStats() { return counters_; }
  void SetStatus(const std::string& text) { parts_.Status(text); }
  // Copies the datagram just received into the receive buffer; its length, -1 after a failed
  // receive.
  int32_t ReadReply();
  // The received bytes as a controller's reply is read: up to the first NUL.
  std::string_view ReceivedText(int32_t length) const;
  std::string_view ReceivedBytes(int32_t length) const;

  // Interval is in seconds, the timer takes milliseconds: clamped to the 32-bit range instead
  // of wrapping to a short or negative period.
  static int32_t RepeatMilliseconds(int32_t seconds);
  // Device numbers and counts from the INI file are used unchecked; stepping past the 32-bit
  // range wraps, as the command's number field has always followed it.
  static int32_t Wrapped(int32_t value, int32_t step);

  static constexpr int kReceiveBufferSize = 8192;
  static constexpr int kSendBufferSize = 8192;
  static constexpr int kMaxChunk = 8;

 private:
  Parts parts_;
  std::unique_ptr<Conduct> conduct_;
  PollCycle state_;
  Counters counters_;
  std::string controllerAddress_;
  int32_t controllerPort_ = -1;
  bool paused_ = false;
  std::array<char, kReceiveBufferSize> ReceiveBuffer{};
  std::array<char, kSendBufferSize> SendBuffer{};
};
