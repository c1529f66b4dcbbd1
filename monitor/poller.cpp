#include "monitor/poller.h"

#include <utility>

#include "base/handler_guard.h"
#include "monitor/clock.h"
#include "monitor/cycle_timer.h"
#include "net/posix_socket_api.h"
#include "net/udp_endpoint.h"

namespace {

// The given part, or a real one owned here.
template <typename Real, typename T, typename Base>
T& OwnedOrGiven(T* given, std::unique_ptr<Base>& own) {
  if (given != nullptr) return *given;
  own = std::make_unique<Real>();
  return *own;
}

}  // namespace

Poller::Poller(Environment environment, CycleTimer& timer1, CycleTimer& timer2, CycleTimer& timer3,
               Observers observers)
    : sockets_(OwnedOrGiven<PosixSocketApi>(environment.Sockets, ownSockets_)),
      clock_(OwnedOrGiven<SystemClock>(environment.LocalTime, ownClock_)),
      timer1_(timer1),
      timer2_(timer2),
      timer3_(timer3),
      observers_(std::move(observers)) {
  endpoint_ = std::make_unique<TUDPEndpoint>(sockets_);
  endpoint_->LoadStoredProperties();
  endpoint_->OnDataReceived = [this](TUDPEndpoint&, int32_t numberBytes, const std::string& fromIP,
                                     int32_t port) {
    if (!cycle_) return;
    cycle_->UDPEndpoint1DataReceived(numberBytes, fromIP, port);
    if (observers_.AfterDatagram) observers_.AfterDatagram();
  };
  endpoint_->BindLocal();
  timer1_.SetHandler([this] {
    if (!cycle_) return;
    if (observers_.BeforeTick) observers_.BeforeTick();
    cycle_->Timer1Timer();
  });
  timer2_.SetHandler([this] {
    if (cycle_) cycle_->Timer2Timer();
  });
  timer3_.SetHandler([this] {
    if (cycle_) cycle_->Timer3Timer();
  });
}

Poller::~Poller() {
  // The endpoint may still announce a datagram while the cycle goes; it must not reach it.
  if (endpoint_) endpoint_->OnDataReceived = nullptr;
  timer1_.SetHandler(nullptr);
  timer2_.SetHandler(nullptr);
  timer3_.SetHandler(nullptr);
}

ReadCycle& Poller::Assemble(const MonitorSettings& settings,
                            std::unique_ptr<ReadCycle::Conduct> conduct,
                            ReadCycle::StatusSink status, ReadCycle::DispatchPass dispatch) {
  ReadCycle::Parts parts{settings,
                         *endpoint_,
                         timer1_,
                         timer2_,
                         timer3_,
                         clock_,
                         status ? std::move(status) : [](const std::string&) {},
                         dispatch ? std::move(dispatch) : &HandlerGuard::DispatchPass};
  cycle_ = std::make_unique<ReadCycle>(std::move(parts), std::move(conduct));
  return *cycle_;
}
