#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// The controller of the cadence benchmark: answers read commands on 127.0.0.1 as the bundled
// simulator does (its address pattern), from its own thread, and records the kernel's software
// time stamps of every exchange: when the request entered the receiving stack, and when the
// reply left through the loopback device (read back from the socket's error queue). So the
// time between a reply and the client's next request is measured outside the client, with
// nothing of the client's own clocks in it.
class StampingResponder {
 public:
  struct Exchange {
    uint16_t fromPort = 0;  // the client's port, host order
    int32_t first = -1;     // first device of the read command; -1 for anything else
    int64_t requestNs = 0;  // arrival stamp (CLOCK_REALTIME, ns); 0 when the kernel gave none
    int64_t replyNs = 0;    // departure stamp of the answer; 0 when none
  };

  StampingResponder() = default;
  ~StampingResponder();
  StampingResponder(const StampingResponder&) = delete;
  StampingResponder& operator=(const StampingResponder&) = delete;

  // Binds 127.0.0.1 with a port the system picks and starts answering; false with a reason in
  // *error when the socket or the stamps cannot be had.
  bool Start(std::string* error);
  void Stop();
  uint16_t Port() const { return port_; }
  // Everything answered, in order of arrival; read it after Stop().
  const std::vector<Exchange>& Exchanges() const { return exchanges_; }

 private:
  void Serve();
  void AnswerOne(std::vector<char>& buffer);
  void CollectDepartureStamps(bool waitForOne);

  int socket_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::vector<Exchange> exchanges_;
  // exchanges_ index of each answer sent, in sending order: the stamp's id is that order.
  std::vector<size_t> answered_;
};
