#include "bench/bench_monitor.h"

#include <memory>
#include <utility>

#include "monitor/monitor_conduct.h"
#include "net/udp_endpoint.h"

BenchMonitor::BenchMonitor(const MonitorSettings& settings, std::string logFileName, Hooks hooks)
    : hooks_(std::move(hooks)),
      log_(std::move(logFileName)),
      poller_({}, timer1_, timer2_, timer3_,
              {[this] {
                 if (!poller_.Cycle().State().CycleBusy && hooks_.CycleStarting) {
                   hooks_.CycleStarting();
                 }
               },
               [this] {
                 if (!poller_.Cycle().State().CycleBusy && hooks_.RowEnded) hooks_.RowEnded();
               }}) {
  TUDPEndpoint& endpoint = poller_.Endpoint();
  endpoint.OnInvalidHost = [](bool&) {};
  endpoint.OnStreamInvalid = [](bool&, std::iostream*) {};
  endpoint.OnBufferInvalid = [](bool&, std::span<char>, int32_t&) {};
  poller_.Assemble(settings, std::make_unique<MonitorConduct>(log_), hooks_.Status);
}
