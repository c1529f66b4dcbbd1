#pragma once

#include <cstdint>
#include <string>

#include "monitor/read_cycle.h"

class CsvLog;

// The monitor's conduct of the read cycle: every reply of a 6n+1 size from the controller's
// address is taken for the request in flight and logged piece by piece (the header at the
// first reply after Run, the stamp at a row's first reply, CR LF at its end); a reply of
// another size stalls the cycle until the next Run, and so does a send that fails (its error
// leaves the handler).
class MonitorConduct final : public ReadCycle::Conduct {
 public:
  explicit MonitorConduct(CsvLog& log) : log_(log) {}

  void StartCycle(ReadCycle& cycle, uint8_t kind, int32_t first, int32_t count) override;
  void Received(ReadCycle& cycle, int32_t numberBytes, const std::string& fromIP,
                int32_t port) override;
  void Resend(ReadCycle& cycle) override;
  void Begin() override { HeaderPending = true; }

 private:
  void Take(ReadCycle& cycle, int32_t numberBytes);

  CsvLog& log_;
  bool HeaderPending = false;  // the header row is still to be written (set by Run)
  int32_t FullChunksLeft = 0;  // 8-device requests still owed, the one in flight included
  int32_t RemainderCount = 0;  // size of the final short request still owed, 0 when none
};
