#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Values the simulator answers with. With kind 0 for DM and 1 for TM and the device number
// as read from the command (so "-0012" is -12 and "-0000" is 0):
//   address:    value = (device * 4099 + kind * 1000) mod 65536, never negative
//               (DM 8 gives 32792, DM 100 gives 16684, TM 100 gives 17684, DM -5 gives 45041)
//   counter:    value = (address value + n) mod 65536, n = valid read commands received
//               before this one, so each answer differs from the previous one by 1
//   constant:N: value = N for every device (0..65535)
struct ValuePattern {
  enum class Kind { kAddress, kCounter, kConstant };
  Kind kind = Kind::kAddress;
  uint16_t constant = 0;
};

// What goes wrong with the answers. A fault applies to every answer, "E1" included.
//   none           answer once, at once
//   silent         answer nothing
//   delay:MS       answer after MS milliseconds; other datagrams are not held up meanwhile
//   twice          answer every command twice
//   badlength      answer one byte short (the final LF is missing: 6n bytes instead of 6n+1)
//   altaddress     answer from a second socket bound to the alternative address (port
//                  picked by the system, see AltPort())
//   unsolicited:MS answer normally and also send "00000\r\n" to the last requester every MS ms
//   drop:N         leave every Nth datagram unanswered (counting every datagram received)
//   late:MS        answer at once and send a copy of the answer MS milliseconds later, so
//                  that the copy can come after the answer to the next command
struct Fault {
  enum class Kind {
    kNone,
    kSilent,
    kDelay,
    kTwice,
    kBadLength,
    kAltAddress,
    kUnsolicited,
    kDrop,
    kLateCopy
  };
  Kind kind = Kind::kNone;
  int parameter = 0;  // milliseconds for delay, unsolicited and late, N for drop
};

struct SimulatorOptions {
  std::string bindAddress = "127.0.0.1";
  uint16_t port = 8501;  // 0: the system picks one, see Port()
  std::string altAddress = "127.0.0.2";
  bool allowNonLoopback = false;  // otherwise both addresses must lie in 127.0.0.0/8
  ValuePattern pattern;
  Fault fault;
  bool verbose = false;         // every datagram in and out on stderr, with a timestamp
  size_t recordLimit = 100000;  // datagrams kept for ReceivedCommands(); all are counted
};

// A controller that answers the 15-byte read command "RDS DM00100 8\r\n" over UDP with one
// datagram of n five-digit fields ("%05u"), blanks between them and CR LF after the last.
// Anything else gets the 4-byte answer "E1\r\n". Answers go only to the sender of the datagram
// being answered. Its own thread serves the socket, so it runs beside any event loop.
class ControllerSimulator {
 public:
  explicit ControllerSimulator(SimulatorOptions options);
  ~ControllerSimulator();
  ControllerSimulator(const ControllerSimulator&) = delete;
  ControllerSimulator& operator=(const ControllerSimulator&) = delete;

  // Binds the socket(s) and starts serving; on failure returns false with a reason in *error.
  bool Start(std::string* error);
  // Stops serving and closes the sockets; answers still waiting for a delay are dropped.
  void Stop();
  bool Running() const;
  // The bound port, also when the system picked it. 0 before Start.
  uint16_t Port() const;
  // The port of the alternative socket, 0 when it is not open.
  uint16_t AltPort() const;

  // Every datagram received so far (up to recordLimit), raw bytes in order of arrival.
  std::vector<std::string> ReceivedCommands() const;
  // How many datagrams were received, recorded or not.
  size_t CommandCount() const;
  // Answer datagrams sent (each of a doubled answer counts); unsolicited ones not included.
  size_t RepliesSent() const;
  size_t UnsolicitedSent() const;
  // Waits until at least n datagrams were received or the bound has passed.
  bool WaitForCommands(size_t n, std::chrono::milliseconds bound) const;

  // Takes effect from the next datagram. Switching to altaddress when the alternative address
  // could not be bound at Start leaves answers unsent (with a note on stderr).
  void SetFault(Fault fault);
  Fault CurrentFault() const;
  ValuePattern CurrentPattern() const;
  void SetPattern(ValuePattern pattern);
  // Shorthand for SetFault of a delay; 0 or less answers at once.
  void SetDelay(std::chrono::milliseconds delay);

  // Sends bytes from the simulator's port. Refuses (false) any address outside 127.0.0.0/8
  // and any call while not running.
  bool SendUnsolicited(const std::string& address, uint16_t port, const std::string& bytes,
                       std::string* error = nullptr);

  // kind: 0 DM, 1 TM. answerCount only matters for the counter pattern.
  static uint16_t ValueOf(const ValuePattern& pattern, int kind, int32_t device,
                          uint64_t answerCount);
  static std::string BuildReply(const std::vector<uint16_t>& values);
  // True for exactly 15 bytes "RDS " + "DM"|"TM" + 5 digits (or "-" and 4 digits) + " " +
  // count 1..8 + CR LF; then kind, first and count are set.
  static bool ParseCommand(const std::string& bytes, int& kind, int32_t& first, int& count);

  static bool ParsePattern(const std::string& text, ValuePattern* pattern);
  static bool ParseFault(const std::string& text, Fault* fault);
  static bool IsLoopbackAddress(const std::string& address);

  static constexpr const char* kErrorAnswer = "E1\r\n";
  static constexpr const char* kUnsolicitedBytes = "00000\r\n";

 private:
  struct Peer;
  struct Pending;

  void Serve();
  void Answer(const std::string& command, const Peer& from, uint64_t index, uint64_t* validCount,
              std::vector<Pending>* pending);
  void SendAnswer(int fd, const std::string& bytes, const Peer& to);
  bool SendCounted(int fd, const std::string& bytes, const Peer& to, size_t* counter);
  void Log(const char* what, const std::string& bytes, const Peer& peer) const;
  void Wake();
  void CloseAll();

  SimulatorOptions options_;
  int socket_ = -1;
  int altSocket_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  uint16_t port_ = 0;
  uint16_t altPort_ = 0;
  std::thread thread_;
  bool stopping_ = false;  // guarded by mutex_

  mutable std::mutex mutex_;
  mutable std::condition_variable received_;
  std::vector<std::string> commands_;
  size_t commandCount_ = 0;
  size_t repliesSent_ = 0;
  size_t unsolicitedSent_ = 0;
  Fault fault_;
  ValuePattern pattern_;
  bool running_ = false;
};
