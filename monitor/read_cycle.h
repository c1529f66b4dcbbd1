#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/monitor_settings.h"
#include "monitor/clock.h"
#include "monitor/poll_cycle.h"
#include "net/recent_ports.h"

class CsvLog;
class CycleTimer;
class TUDPEndpoint;

// The read cycle: reads DeviceNum devices in requests of at most 8, one in flight at a time,
// and turns the replies into one log row. Timer1 repeats cycles, Timer2 resends an unanswered
// request, Timer3 bounds the Stop/close wait. It knows no widgets: its owner hands it the
// endpoint, the timers, the log, the clock and a status-line sink.
//
// Its owner chooses how it meets replies and failures:
// - kAsSpecified, the monitor's cycle: every reply of a 6n+1 size from the controller's address
//   is taken for the request in flight and logged piece by piece; a reply of another size or a
//   failed send stalls the cycle until the next Run.
// - kUnattended, the headless logger's: each new request is sent from a local port of its own
//   (its resends from the same port), and the port is closed once its answer is taken, so the
//   system discards every later copy, late answer or stray for it. On that port, the first
//   datagram from the controller's address and port in the controller's layout with the count
//   asked for is the answer; anything else is dropped and the request stays awaited. The
//   values of a cycle are handed on as one row once it is complete. A failed send gives the
//   cycle up; the next tick starts it afresh.
class ReadCycle {
 public:
  enum class Conduct { kAsSpecified, kUnattended };

  using StatusSink = std::function<void(const std::string& text)>;
  using DispatchPass = std::function<void()>;
  using RowSink =
      std::function<void(const LocalDateTime& stamp, const std::vector<uint16_t>& values)>;
  using FailureSink = std::function<void(const std::string& message)>;
  // Why a datagram was not taken as the answer to the request in flight (kUnattended).
  enum class Drop {
    kWrongSender,  // not from the controller's address and port
    kNotAwaited,   // no request in flight
    kWrongSize,    // not the size of the answer to the request in flight
    kMalformed,    // the right size, but not in the controller's reply layout
  };
  using DropSink =
      std::function<void(Drop why, int32_t numberBytes, const std::string& fromIP, int32_t port)>;

  struct Parts {
    const MonitorSettings& Settings;
    TUDPEndpoint& Endpoint;
    CycleTimer& Timer1;
    CycleTimer& Timer2;
    CycleTimer& Timer3;
    CsvLog* Log;  // kAsSpecified: header rows, values and row ends
    const Clock& LocalTime;
    StatusSink Status;
    // One waiting dispatch pass of the Stop/close wait; tests replace it.
    DispatchPass Dispatch;
    Conduct Mode = Conduct::kAsSpecified;
    RowSink CompleteRow = nullptr;  // kUnattended: each complete row, stamped at its first reply
    FailureSink Failure = nullptr;  // kUnattended: the error that gave a cycle up
    DropSink Dropped = nullptr;     // kUnattended: each datagram not taken
  };

  // What happened so far.
  struct Counters {
    uint64_t Requests = 0;  // requests sent, resends included
    uint64_t Resends = 0;
    uint64_t Dropped = 0;   // datagrams not taken as the reply to the request in flight
    uint64_t Failures = 0;  // cycles given up
    uint64_t Rows = 0;      // rows completed
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
  // While paused, the repeat timer starts no cycle; the one in flight goes on.
  void SetPaused(bool paused) { paused_ = paused; }
  bool Paused() const { return paused_; }

  const PollCycle& State() const { return state_; }
  const Counters& Stats() const { return counters_; }
  // What the last request went to; only replies from there are taken.
  const std::string& ControllerAddress() const { return controllerAddress_; }

  static constexpr int kReceiveBufferSize = 8192;
  static constexpr int kSendBufferSize = 8192;
  static constexpr int kMaxChunk = 8;

 private:
  bool Unattended() const { return parts_.Mode == Conduct::kUnattended; }
  void SetStatus(const std::string& text) { parts_.Status(text); }
  void DropSpecified(const char* what, int32_t numberBytes);
  void DropUnattended(Drop why, int32_t numberBytes, const std::string& fromIP, int32_t port);
  void TakeSpecified(int32_t NumberBytes);
  void TakeUnattended(int32_t NumberBytes, const std::string& FromIP, int32_t Port);
  void RequestNext();
  void GiveUp(const std::string& message);
  std::string_view ReceivedText(int32_t length) const;

  Parts parts_;
  PollCycle state_;
  Counters counters_;
  // kUnattended: the ports of the latest requests, none used again while remembered.
  RecentPorts recentPorts_;
  std::string controllerAddress_;
  int32_t controllerPort_ = -1;
  // kUnattended: the row being gathered and its stamp.
  std::vector<uint16_t> row_;
  LocalDateTime rowStamp_;
  bool sending_ = false;
  bool paused_ = false;
  std::array<char, kReceiveBufferSize> ReceiveBuffer{};
  std::array<char, kSendBufferSize> SendBuffer{};
};
