#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/sim/controller_protocol.h"

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

// A controller on UDP: answers each datagram as ControllerProtocol says, with the fault in
// force (see Fault; altaddress answers from the port AltPort() gives). Answers go only to the
// sender of the datagram being answered. Its own thread serves the socket, so it runs beside any
// event loop.
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

  static bool IsLoopbackAddress(const std::string& address);

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
