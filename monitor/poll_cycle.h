#pragma once

#include <cstdint>

// The read cycle's flags and counters; one instance, all false or 0 at start.
struct PollCycle {
  bool CycleBusy = false;      // a cycle has started and not yet written its row end
  bool AwaitingReply = false;  // a request is out and no reply has been taken for it
  bool HeaderPending = false;  // the header row is still to be written (set by Run)
  bool StampPending = false;   // the row's date and time are still to be written
  uint8_t DeviceKind = 0;      // DeviceName as it was at the cycle's start
  int32_t FullChunksLeft = 0;  // 8-device requests still owed, the one in flight included
  int32_t RemainderCount = 0;  // size of the final short request still owed, 0 when none
  int32_t ChunkStart = 0;      // first device number of the request in flight
  int32_t ChunkCount = 0;      // number of devices of the request in flight
};
