#include "bench/bench_monitor.h"

#include <utility>

#include "app/handler_guard.h"

BenchMonitor::BenchMonitor(const MonitorSettings& settings, std::string logFileName, Hooks hooks)
    : hooks_(std::move(hooks)),
      log_(std::move(logFileName)),
      cycle_(ReadCycle::Parts{settings, endpoint_, timer1_, timer2_, timer3_, &log_, clock_,
                              hooks_.Status ? hooks_.Status : [](const std::string&) {},
                              &HandlerGuard::DispatchPass}) {
  endpoint_.LoadStoredProperties();
  endpoint_.OnDataReceived = [this](TUDPEndpoint&, int32_t numberBytes, const std::string& fromIP,
                                    int32_t port) {
    cycle_.UDPEndpoint1DataReceived(numberBytes, fromIP, port);
    if (!cycle_.State().CycleBusy && hooks_.RowEnded) hooks_.RowEnded();
  };
  endpoint_.OnInvalidHost = [](bool&) {};
  endpoint_.OnStreamInvalid = [](bool&, std::iostream*) {};
  endpoint_.OnBufferInvalid = [](bool&, std::span<char>, int32_t&) {};
  endpoint_.BindLocal();

  timer1_.OnTimer = [this] {
    if (!cycle_.State().CycleBusy && hooks_.CycleStarting) hooks_.CycleStarting();
    cycle_.Timer1Timer();
  };
  timer2_.OnTimer = [this] { cycle_.Timer2Timer(); };
  timer3_.OnTimer = [this] { cycle_.Timer3Timer(); };
}
