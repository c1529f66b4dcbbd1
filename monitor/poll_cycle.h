#pragma once

#include <cstdint>

// The read cycle's flags and counters that both conducts share; one instance, all false or 0 at
// start. What only one conduct needs is that conduct's own.
struct PollCycle {
  bool CycleBusy = false;      // a cycle has started and its row is not complete
  bool AwaitingReply = false;  // a request is out and no reply has been taken for it
  bool StampPending = false;   // the row's date and time are still to be written
  uint8_t DeviceKind = 0;      // DeviceName as it was at the cycle's start
  int32_t ChunkStart = 0;      // first device number of the request in flight
  int32_t ChunkCount = 0;      // number of devices of the request in flight
};
