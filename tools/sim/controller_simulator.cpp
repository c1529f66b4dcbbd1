#include "tools/sim/controller_simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <utility>

namespace {

using SteadyClock = std::chrono::steady_clock;

// Large enough for any UDP payload, so a long datagram is recorded whole.
constexpr size_t kReceiveBufferSize = 65536;
// Upper bound of one poll() when nothing is scheduled; the wake pipe ends it earlier.
constexpr int kIdlePollMs = 1000;
constexpr int kBurstLimit = 64;

bool ParseIPv4(const std::string& text, in_addr* address) {
  return inet_pton(AF_INET, text.c_str(), address) == 1;
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Opens a non-blocking UDP socket bound to address:port; returns -1 with *error set.
int OpenBoundSocket(const std::string& address, uint16_t port, uint16_t* boundPort,
                    std::string* error) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (!ParseIPv4(address, &local.sin_addr)) {
    *error = "not an IPv4 address: " + address;
    return -1;
  }
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = ErrnoText("socket");
    return -1;
  }
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    *error = ErrnoText(("cannot bind " + address + ":" + std::to_string(port)).c_str());
    close(fd);
    return -1;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    *error = ErrnoText("getsockname");
    close(fd);
    return -1;
  }
  *boundPort = ntohs(bound.sin_port);
  return fd;
}

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string TimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis));
  return text;
}

// Whole milliseconds until `due`, rounded up so that poll() never returns before it.
int MillisecondsUntil(SteadyClock::time_point due, SteadyClock::time_point now) {
  if (due <= now) return 0;
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(due - now).count();
  const auto millis = (micros + 999) / 1000;
  return static_cast<int>(std::min<long long>(millis, kIdlePollMs));
}

// When the unsolicited fault sends next. The period is zero while another fault is active; a
// new period, also after another fault, starts the schedule afresh one period from now.
struct UnsolicitedSchedule {
  std::chrono::milliseconds period{0};
  SteadyClock::time_point next{};

  bool Active() const { return period.count() > 0; }

  // Follows the fault in force; true when a datagram is due now.
  bool Due(const Fault& fault, SteadyClock::time_point now) {
    const std::chrono::milliseconds wanted(
        fault.kind == Fault::Kind::kUnsolicited ? std::max(fault.parameter, 0) : 0);
    if (wanted != period) {
      period = wanted;
      next = now + period;
      return false;
    }
    if (!Active() || next > now) return false;
    // After a long stall the schedule restarts instead of sending a burst to catch up.
    next += period;
    if (next <= now) next = now + period;
    return true;
  }
};

}  // namespace

struct ControllerSimulator::Peer {
  sockaddr_in address{};
};

struct ControllerSimulator::Pending {
  SteadyClock::time_point due;
  int fd = -1;
  std::string bytes;
  Peer to;
};

ControllerSimulator::ControllerSimulator(SimulatorOptions options)
    : options_(std::move(options)), fault_(options_.fault), pattern_(options_.pattern) {}

ControllerSimulator::~ControllerSimulator() { Stop(); }

bool ControllerSimulator::Start(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (thread_.joinable()) {
    *error = "already running";
    return false;
  }
  if (!options_.allowNonLoopback && !IsLoopbackAddress(options_.bindAddress)) {
    *error = "bind address outside 127.0.0.0/8: " + options_.bindAddress;
    return false;
  }
  socket_ = OpenBoundSocket(options_.bindAddress, options_.port, &port_, error);
  if (socket_ < 0) return false;

  // The second socket is only needed for the altaddress fault; a system without the
  // alternative address can still run every other fault.
  if (!options_.altAddress.empty() &&
      (options_.allowNonLoopback || IsLoopbackAddress(options_.altAddress))) {
    std::string altError;
    altSocket_ = OpenBoundSocket(options_.altAddress, 0, &altPort_, &altError);
    if (altSocket_ < 0 && fault_.kind == Fault::Kind::kAltAddress) {
      *error = altError;
      CloseAll();
      return false;
    }
  } else if (fault_.kind == Fault::Kind::kAltAddress) {
    *error = "alternative address unusable: " + options_.altAddress;
    CloseAll();
    return false;
  }

  int pipeFds[2];
  if (pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
    *error = ErrnoText("pipe");
    CloseAll();
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  {
    std::lock_guard lock(mutex_);
    stopping_ = false;
    running_ = true;
  }
  thread_ = std::thread(&ControllerSimulator::Serve, this);
  return true;
}

void ControllerSimulator::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  Wake();
  thread_.join();
  CloseAll();
}

bool ControllerSimulator::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void ControllerSimulator::CloseAll() {
  std::lock_guard lock(mutex_);
  running_ = false;
  for (int* fd : {&socket_, &altSocket_, &wakeRead_, &wakeWrite_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  altPort_ = 0;
}

uint16_t ControllerSimulator::Port() const { return port_; }

uint16_t ControllerSimulator::AltPort() const {
  std::lock_guard lock(mutex_);
  return altPort_;
}

std::vector<std::string> ControllerSimulator::ReceivedCommands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

size_t ControllerSimulator::CommandCount() const {
  std::lock_guard lock(mutex_);
  return commandCount_;
}

size_t ControllerSimulator::RepliesSent() const {
  std::lock_guard lock(mutex_);
  return repliesSent_;
}

size_t ControllerSimulator::UnsolicitedSent() const {
  std::lock_guard lock(mutex_);
  return unsolicitedSent_;
}

bool ControllerSimulator::WaitForCommands(size_t n, std::chrono::milliseconds bound) const {
  std::unique_lock lock(mutex_);
  return received_.wait_for(lock, bound, [&] { return commandCount_ >= n; });
}

void ControllerSimulator::SetFault(Fault fault) {
  {
    std::lock_guard lock(mutex_);
    fault_ = fault;
  }
  Wake();
}

Fault ControllerSimulator::CurrentFault() const {
  std::lock_guard lock(mutex_);
  return fault_;
}

ValuePattern ControllerSimulator::CurrentPattern() const {
  std::lock_guard lock(mutex_);
  return pattern_;
}

void ControllerSimulator::SetPattern(ValuePattern pattern) {
  std::lock_guard lock(mutex_);
  pattern_ = pattern;
}

void ControllerSimulator::SetDelay(std::chrono::milliseconds delay) {
  if (delay.count() <= 0) {
    SetFault(Fault{});
  } else {
    SetFault(Fault{Fault::Kind::kDelay, static_cast<int>(std::min<long long>(
                                            delay.count(), std::numeric_limits<int>::max()))});
  }
}

bool ControllerSimulator::SendUnsolicited(const std::string& address, uint16_t port,
                                          const std::string& bytes, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  Peer to;
  to.address.sin_family = AF_INET;
  to.address.sin_port = htons(port);
  if (!IsLoopbackAddress(address) || !ParseIPv4(address, &to.address.sin_addr)) {
    *error = "refused: destination outside 127.0.0.0/8: " + address;
    return false;
  }
  std::lock_guard lock(mutex_);
  if (!running_ || socket_ < 0) {
    *error = "not running";
    return false;
  }
  const ssize_t sent = sendto(socket_, bytes.data(), bytes.size(), 0,
                              reinterpret_cast<const sockaddr*>(&to.address), sizeof to.address);
  if (sent < 0) {
    *error = ErrnoText("sendto");
    return false;
  }
  ++unsolicitedSent_;
  return true;
}

void ControllerSimulator::Wake() {
  if (wakeWrite_ < 0) return;
  const char byte = 1;
  // A full pipe already guarantees a wake-up, so a failed write needs no handling.
  [[maybe_unused]] const ssize_t written = write(wakeWrite_, &byte, 1);
}

void ControllerSimulator::Serve() {
  std::vector<Pending> pending;  // delayed answers, in order of their due time
  std::optional<Peer> lastRequester;
  UnsolicitedSchedule schedule;
  uint64_t validCount = 0;
  uint64_t index = 0;
  std::vector<char> buffer(kReceiveBufferSize);

  while (true) {
    Fault fault;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      fault = fault_;
    }
    const auto now = SteadyClock::now();

    while (!pending.empty() && pending.front().due <= now) {
      SendAnswer(pending.front().fd, pending.front().bytes, pending.front().to);
      pending.erase(pending.begin());
    }

    if (schedule.Due(fault, now) && lastRequester) {
      SendCounted(socket_, ControllerProtocol::kUnsolicitedBytes, *lastRequester,
                  &unsolicitedSent_);
      Log("send unsolicited to", ControllerProtocol::kUnsolicitedBytes, *lastRequester);
    }

    int timeout = kIdlePollMs;
    if (!pending.empty()) timeout = std::min(timeout, MillisecondsUntil(pending.front().due, now));
    if (schedule.Active()) timeout = std::min(timeout, MillisecondsUntil(schedule.next, now));

    pollfd fds[3] = {{wakeRead_, POLLIN, 0}, {socket_, POLLIN, 0}, {altSocket_, POLLIN, 0}};
    const nfds_t count = altSocket_ >= 0 ? 3 : 2;
    const int ready = poll(fds, count, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "varnel-sim: %s\n", ErrnoText("poll").c_str());
      break;
    }
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (read(wakeRead_, drain, sizeof drain) > 0) {
      }
    }
    if (fds[1].revents & (POLLIN | POLLERR)) {
      // Serve a burst per poll(), but a bounded one, so that a flood cannot hold off Stop()
      // and the delayed answers.
      for (int served = 0; served < kBurstLimit; ++served) {
        Peer from;
        socklen_t length = sizeof from.address;
        const ssize_t size = recvfrom(socket_, buffer.data(), buffer.size(), 0,
                                      reinterpret_cast<sockaddr*>(&from.address), &length);
        // EAGAIN ends the burst; any other error was consumed by this call and is not fatal.
        if (size < 0) break;
        const std::string command(buffer.data(), static_cast<size_t>(size));
        lastRequester = from;
        Answer(command, from, index++, &validCount, &pending);
      }
    }
    if (count == 3 && (fds[2].revents & (POLLIN | POLLERR))) {
      // Nothing is expected on the alternative socket; discard so it cannot fill up.
      for (int served = 0; served < kBurstLimit; ++served) {
        Peer from;
        socklen_t length = sizeof from.address;
        const ssize_t size = recvfrom(altSocket_, buffer.data(), buffer.size(), 0,
                                      reinterpret_cast<sockaddr*>(&from.address), &length);
        if (size < 0) break;
        Log("discarded on alternative socket",
            std::string(buffer.data(), static_cast<size_t>(size)), from);
      }
    }
  }
}

void ControllerSimulator::Answer(const std::string& command, const Peer& from, uint64_t index,
                                 uint64_t* validCount, std::vector<Pending>* pending) {
  Fault fault;
  ValuePattern pattern;
  {
    std::lock_guard lock(mutex_);
    fault = fault_;
    pattern = pattern_;
  }
  Log("recv from", command, from);

  bool valid = false;
  std::string reply = ControllerProtocol::AnswerTo(command, pattern, *validCount, &valid);
  if (valid) ++*validCount;

  switch (fault.kind) {
    case Fault::Kind::kNone:
    case Fault::Kind::kUnsolicited:
      SendAnswer(socket_, reply, from);
      break;
    case Fault::Kind::kSilent:
      Log("silent, no answer to", reply, from);
      break;
    case Fault::Kind::kDelay:
    case Fault::Kind::kLateCopy:
      if (fault.kind == Fault::Kind::kLateCopy || fault.parameter <= 0) {
        SendAnswer(socket_, reply, from);
      }
      if (fault.parameter > 0) {
        Pending later{SteadyClock::now() + std::chrono::milliseconds(fault.parameter), socket_,
                      reply, from};
        // Keep the queue ordered by due time even when the delay changed meanwhile.
        const auto at = std::upper_bound(
            pending->begin(), pending->end(), later.due,
            [](SteadyClock::time_point due, const Pending& item) { return due < item.due; });
        pending->insert(at, std::move(later));
      }
      break;
    case Fault::Kind::kTwice:
      SendAnswer(socket_, reply, from);
      SendAnswer(socket_, reply, from);
      break;
    case Fault::Kind::kBadLength:
      reply.pop_back();
      SendAnswer(socket_, reply, from);
      break;
    case Fault::Kind::kAltAddress:
      if (altSocket_ >= 0) {
        SendAnswer(altSocket_, reply, from);
      } else {
        std::fprintf(stderr, "varnel-sim: no socket on %s, answer dropped\n",
                     options_.altAddress.c_str());
      }
      break;
    case Fault::Kind::kDrop:
      if (fault.parameter > 0 && (index + 1) % static_cast<uint64_t>(fault.parameter) == 0) {
        Log("dropped answer to", reply, from);
      } else {
        SendAnswer(socket_, reply, from);
      }
      break;
  }

  // Counted only once answered, so that a waiter sees the answer's effects too.
  {
    std::lock_guard lock(mutex_);
    if (commands_.size() < options_.recordLimit) commands_.push_back(command);
    ++commandCount_;
  }
  received_.notify_all();
}

void ControllerSimulator::SendAnswer(int fd, const std::string& bytes, const Peer& to) {
  if (!SendCounted(fd, bytes, to, &repliesSent_)) return;
  Log(fd == altSocket_ ? "send (alternative address) to" : "send to", bytes, to);
}

bool ControllerSimulator::SendCounted(int fd, const std::string& bytes, const Peer& to,
                                      size_t* counter) {
  // Counted before sending, so that whoever receives the datagram already sees the count.
  {
    std::lock_guard lock(mutex_);
    ++*counter;
  }
  const ssize_t sent = sendto(fd, bytes.data(), bytes.size(), 0,
                              reinterpret_cast<const sockaddr*>(&to.address), sizeof to.address);
  if (sent >= 0) return true;
  const std::string error = ErrnoText("sendto");
  {
    std::lock_guard lock(mutex_);
    --*counter;
  }
  std::fprintf(stderr, "varnel-sim: %s\n", error.c_str());
  return false;
}

void ControllerSimulator::Log(const char* what, const std::string& bytes, const Peer& peer) const {
  if (!options_.verbose) return;
  char address[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &peer.address.sin_addr, address, sizeof address);
  const std::string line = TimeStamp() + " " + what + " " + address + ":" +
                           std::to_string(ntohs(peer.address.sin_port)) + " " +
                           std::to_string(bytes.size()) + " bytes: " + Escaped(bytes) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

bool ControllerSimulator::IsLoopbackAddress(const std::string& address) {
  in_addr parsed{};
  if (!ParseIPv4(address, &parsed)) return false;
  return (ntohl(parsed.s_addr) >> 24) == 127;
}
