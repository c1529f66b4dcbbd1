#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/stamping_responder.h"

// The stamping responder in a process of its own, as a controller is never inside the program
// it answers: both clients then wake it, and are woken by it, across processes alike.
// Start() forks before the caller starts any thread of its own; Finish() stops the child and
// takes its records.
class ResponderProcess {
 public:
  ResponderProcess() = default;
  ~ResponderProcess();
  ResponderProcess(const ResponderProcess&) = delete;
  ResponderProcess& operator=(const ResponderProcess&) = delete;

  bool Start(std::string* error);
  uint16_t Port() const { return port_; }
  // Stops the responder and returns what it recorded; false when the child failed.
  bool Finish(std::vector<StampingResponder::Exchange>* exchanges, std::string* error);

 private:
  pid_t pid_ = -1;
  int control_ = -1;  // closing it stops the child
  int results_ = -1;  // the port, then the records
  uint16_t port_ = 0;
};
