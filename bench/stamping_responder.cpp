#include "bench/stamping_responder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/sim/controller_protocol.h"

namespace {

constexpr size_t kBufferSize = 65536;
constexpr size_t kControlSize = 512;
// A departure stamp is queued while the send runs; this only bounds a kernel that gives none.
constexpr int kStampWaitMs = 100;

int64_t StampOf(msghdr& message) {
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPING) {
      scm_timestamping stamps{};
      std::memcpy(&stamps, CMSG_DATA(header), sizeof stamps);
      return int64_t{stamps.ts[0].tv_sec} * 1000000000 + stamps.ts[0].tv_nsec;
    }
  }
  return 0;
}

}  // namespace

StampingResponder::~StampingResponder() { Stop(); }

bool StampingResponder::Start(std::string* error) {
  socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof local;
  if (::bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    *error = std::string("bind: ") + std::strerror(errno);
    return false;
  }
  port_ = ntohs(local.sin_port);
  // Software stamps both ways; the id numbers the departures, and the error queue carries the
  // stamp alone, not the datagram.
  const int flags = SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_TX_SOFTWARE |
                    SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_OPT_ID |
                    SOF_TIMESTAMPING_OPT_TSONLY;
  if (::setsockopt(socket_, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) != 0) {
    *error = std::string("SO_TIMESTAMPING: ") + std::strerror(errno);
    return false;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  exchanges_.reserve(4096);
  answered_.reserve(4096);
  thread_ = std::thread(&StampingResponder::Serve, this);
  return true;
}

void StampingResponder::Stop() {
  if (thread_.joinable()) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
    thread_.join();
  }
  for (int* fd : {&socket_, &wakeRead_, &wakeWrite_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void StampingResponder::Serve() {
  std::vector<char> buffer(kBufferSize);
  while (true) {
    // Sleeps until a request or Stop: nothing here wakes the machine between cycles.
    pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {socket_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    if ((fds[1].revents & POLLIN) != 0) AnswerOne(buffer);
    if ((fds[1].revents & POLLERR) != 0) CollectDepartureStamps(false);
  }
}

void StampingResponder::AnswerOne(std::vector<char>& buffer) {
  sockaddr_in from{};
  char control[kControlSize];
  iovec part{buffer.data(), buffer.size()};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t size = ::recvmsg(socket_, &message, 0);
  if (size < 0) return;

  Exchange exchange;
  exchange.fromPort = ntohs(from.sin_port);
  exchange.requestNs = StampOf(message);
  int kind = 0;
  int32_t first = 0;
  int count = 0;
  std::string answer = ControllerProtocol::kErrorAnswer;
  if (ControllerProtocol::ParseCommand(std::string(buffer.data(), static_cast<size_t>(size)), kind,
                                       first, count)) {
    exchange.first = first;
    std::vector<uint16_t> values;
    for (int i = 0; i < count; ++i) {
      values.push_back(ControllerProtocol::ValueOf(ValuePattern{}, kind, first + i, 0));
    }
    answer = ControllerProtocol::BuildReply(values);
  }
  exchanges_.push_back(exchange);
  if (::sendto(socket_, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&from),
               sizeof from) < 0) {
    return;
  }
  answered_.push_back(exchanges_.size() - 1);
  CollectDepartureStamps(true);
}

void StampingResponder::CollectDepartureStamps(bool waitForOne) {
  bool got = false;
  while (true) {
    char control[kControlSize];
    char data[64];
    iovec part{data, sizeof data};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(socket_, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
      if (got || !waitForOne) return;
      pollfd ready{socket_, 0, 0};
      if (::poll(&ready, 1, kStampWaitMs) != 1 || (ready.revents & POLLERR) == 0) return;
      continue;
    }
    got = true;
    uint32_t id = UINT32_MAX;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level == SOL_IP && header->cmsg_type == IP_RECVERR) {
        sock_extended_err error{};
        std::memcpy(&error, CMSG_DATA(header), sizeof error);
        if (error.ee_origin == SO_EE_ORIGIN_TIMESTAMPING) id = error.ee_data;
      }
    }
    if (id < answered_.size()) exchanges_[answered_[id]].replyNs = StampOf(message);
  }
}
