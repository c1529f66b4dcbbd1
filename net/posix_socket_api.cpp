#include "net/posix_socket_api.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QEvent>
#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "net/notify_window.h"

// The read watch of one socket. Its activation is already an event of the loop, between other
// events, once per waiting datagram: it takes the datagram off the socket and hands the
// notification straight to the window. Taking it first is what tells a real datagram from an
// activation that a receive inside a nested dispatch has made stale; the datagram is held,
// announced once, until the next RecvFrom hands it out.
struct PosixSocketApi::Watch {
  // Hands its activation to the layer itself rather than through a signal: it comes once per
  // datagram and is the whole of the notification's route.
  class Notifier final : public QSocketNotifier {
   public:
    Notifier(PosixSocketApi& api, Watch& watch, SocketHandle handle)
        : QSocketNotifier(static_cast<qintptr>(handle), QSocketNotifier::Read),
          api_(api),
          watch_(watch),
          handle_(handle) {}

   protected:
    bool event(QEvent* event) override {
      if (event->type() != QEvent::SockAct) return QSocketNotifier::event(event);
      // The layer may delete this notifier meanwhile; nothing of it is touched afterwards.
      api_.Activated(handle_, watch_);
      return true;
    }

   private:
    PosixSocketApi& api_;
    Watch& watch_;
    SocketHandle handle_;
  };

  std::unique_ptr<Notifier> notifier;
  QPointer<NotifyWindow> window;  // null while notifications are stopped
  std::uint32_t message = 0;

  bool holding = false;           // a datagram was announced and RecvFrom has not taken it yet
  std::unique_ptr<char[]> bytes;  // kMaxDatagram bytes
  ssize_t size = 0;               // its whole length
  int error = 0;                  // errno of a failed receive; then size is -1
  sockaddr_in from{};
  socklen_t fromLength = 0;

  static constexpr std::size_t kMaxDatagram = 65536;  // every UDP payload fits
};

PosixSocketApi::PosixSocketApi() = default;

PosixSocketApi::~PosixSocketApi() { CloseAll(); }

int PosixSocketApi::ErrorNumberFromErrno(int error) {
  switch (error) {
    case EINTR:
      return kWsaEIntr;
    case EACCES:
    case EPERM:
      return kWsaEAcces;
    case EFAULT:
      return kWsaEFault;
    case EINVAL:
      return kWsaEInval;
    case EMFILE:
    case ENFILE:
      return kWsaEMFile;
    case EWOULDBLOCK:
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
      return kWsaEWouldBlock;
    case EINPROGRESS:
      return kWsaEInProgress;
    case EALREADY:
      return kWsaEAlready;
    case ENOTSOCK:
    case EBADF:
      return kWsaENotSock;
    case EDESTADDRREQ:
      return kWsaEDestAddrReq;
    case EMSGSIZE:
      return kWsaEMsgSize;
    case EPROTOTYPE:
      return kWsaEPrototype;
    case ENOPROTOOPT:
      return kWsaENoProtoOpt;
    case EPROTONOSUPPORT:
      return kWsaEProtoNoSupport;
    case ESOCKTNOSUPPORT:
      return kWsaESocktNoSupport;
    case EOPNOTSUPP:
      return kWsaEOpNotSupp;
    case EPFNOSUPPORT:
      return kWsaEPfNoSupport;
    case EAFNOSUPPORT:
      return kWsaEAfNoSupport;
    case EADDRINUSE:
      return kWsaEAddrInUse;
    case EADDRNOTAVAIL:
      return kWsaEAddrNotAvail;
    case ENETDOWN:
      return kWsaENetDown;
    case ENETUNREACH:
      return kWsaENetUnreach;
    case ENETRESET:
      return kWsaENetReset;
    case ECONNABORTED:
      return kWsaEConnAborted;
    case ECONNRESET:
      return kWsaEConnReset;
    case ENOBUFS:
    case ENOMEM:
      return kWsaENoBufs;
    case EISCONN:
      return kWsaEIsConn;
    case ENOTCONN:
      return kWsaENotConn;
    case ETIMEDOUT:
      return kWsaETimedOut;
    case ECONNREFUSED:
      return kWsaEConnRefused;
    case EHOSTDOWN:
      return kWsaEHostDown;
    case EHOSTUNREACH:
      return kWsaEHostUnreach;
    default:
      return kUnmappedErrnoBase + error;
  }
}

int PosixSocketApi::Fail(int error) {
  lastError_ = error;
  return kSocketError;
}

int PosixSocketApi::FailFromErrno() { return Fail(ErrorNumberFromErrno(errno)); }

bool PosixSocketApi::IsOpen(SocketHandle handle) const { return open_.count(handle) != 0; }

void PosixSocketApi::CloseAll() {
  // Notifiers go before their descriptors.
  watches_.clear();
  for (const SocketHandle handle : open_) ::close(static_cast<int>(handle));
  open_.clear();
}

int PosixSocketApi::Startup(std::uint16_t version) {
  if ((version & 0xFF) < 1) {
    lastError_ = kWsaVerNotSupported;
    return kWsaVerNotSupported;
  }
  ++startups_;
  return 0;
}

void PosixSocketApi::Cleanup() {
  if (startups_ == 0) {
    lastError_ = kWsaNotInitialised;
    return;
  }
  if (--startups_ == 0) CloseAll();
}

SocketHandle PosixSocketApi::Socket(int af, int type, int protocol) {
  if (startups_ == 0) return Fail(kWsaNotInitialised);
  if (af != kAfInet) return Fail(kWsaEAfNoSupport);
  if (type != kSockDgram) return Fail(kWsaESocktNoSupport);
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) return FailFromErrno();
  open_.insert(fd);
  return fd;
}

int PosixSocketApi::SetSockOpt(SocketHandle handle, int level, int name, const char* value,
                               int length) {
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  if (level != kSolSocket || name != kSoDontLinger) return Fail(kWsaENoProtoOpt);
  if (value == nullptr || length < static_cast<int>(sizeof(std::int32_t))) {
    return Fail(kWsaEFault);
  }
  std::int32_t dontLinger = 0;
  std::memcpy(&dontLinger, value, sizeof dontLinger);
  const linger option{dontLinger != 0 ? 0 : 1, 0};
  if (::setsockopt(static_cast<int>(handle), SOL_SOCKET, SO_LINGER, &option, sizeof option) != 0) {
    return FailFromErrno();
  }
  return 0;
}

int PosixSocketApi::Bind(SocketHandle handle, const SockAddrIn& address) {
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  if (address.family != kAfInet) return Fail(kWsaEAfNoSupport);
  sockaddr_in native{};
  native.sin_family = AF_INET;
  native.sin_port = address.port;
  native.sin_addr.s_addr = address.address;
  if (::bind(static_cast<int>(handle), reinterpret_cast<const sockaddr*>(&native), sizeof native) !=
      0) {
    return FailFromErrno();
  }
  return 0;
}

std::unique_ptr<char[]> PosixSocketApi::TakeBuffer() {
  if (spareBytes_) return std::move(spareBytes_);
  return std::make_unique_for_overwrite<char[]>(Watch::kMaxDatagram);
}

void PosixSocketApi::DropWatch(SocketHandle handle) {
  const auto found = watches_.find(handle);
  if (found == watches_.end()) return;
  if (found->second) spareBytes_ = std::move(found->second->bytes);
  watches_.erase(found);
}

int PosixSocketApi::CloseSocket(SocketHandle handle) {
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  DropWatch(handle);
  open_.erase(handle);
  if (::close(static_cast<int>(handle)) != 0) return FailFromErrno();
  return 0;
}

int PosixSocketApi::SendTo(SocketHandle handle, const char* data, int length, int flags,
                           const SockAddrIn& to) {
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  if (length < 0 || (data == nullptr && length > 0)) return Fail(kWsaEFault);
  if (flags != 0) return Fail(kWsaEOpNotSupp);
  if (to.family != kAfInet) return Fail(kWsaEAfNoSupport);
  sockaddr_in native{};
  native.sin_family = AF_INET;
  native.sin_port = to.port;
  native.sin_addr.s_addr = to.address;
  const ssize_t sent =
      ::sendto(static_cast<int>(handle), data, static_cast<std::size_t>(length), MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&native), sizeof native);
  if (sent < 0) return FailFromErrno();
  return static_cast<int>(sent);
}

namespace {
void CopySender(const sockaddr_in& native, socklen_t length, SockAddrIn& from) {
  if (length >= sizeof native && native.sin_family == AF_INET) {
    from.family = kAfInet;
    from.port = native.sin_port;
    from.address = native.sin_addr.s_addr;
  }
}
}  // namespace

int PosixSocketApi::RecvFrom(SocketHandle handle, char* buffer, int length, int flags,
                             SockAddrIn& from) {
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  if (length < 0 || (buffer == nullptr && length > 0)) return Fail(kWsaEFault);
  if (flags != 0) return Fail(kWsaEOpNotSupp);
  Watch* const watch = [&]() -> Watch* {
    const auto found = watches_.find(handle);
    return found != watches_.end() ? found->second.get() : nullptr;
  }();
  // Re-arm after every receive: a datagram still waiting then gives its own notification.
  if (watch != nullptr && watch->window != nullptr && !watch->notifier->isEnabled()) {
    watch->notifier->setEnabled(true);
  }

  if (watch != nullptr && watch->holding) {
    watch->holding = false;
    if (watch->error != 0) return Fail(ErrorNumberFromErrno(watch->error));
    CopySender(watch->from, watch->fromLength, from);
    const auto size = static_cast<std::size_t>(watch->size);
    std::memcpy(buffer, watch->bytes.get(), std::min(size, static_cast<std::size_t>(length)));
    // The datagram did not fit: it is gone, and the call fails like the classic one does.
    if (size > static_cast<std::size_t>(length)) return Fail(kWsaEMsgSize);
    return static_cast<int>(size);
  }

  sockaddr_in native{};
  iovec part{buffer, static_cast<std::size_t>(length)};
  msghdr message{};
  message.msg_name = &native;
  message.msg_namelen = sizeof native;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  const ssize_t received = ::recvmsg(static_cast<int>(handle), &message, 0);
  if (received < 0) return FailFromErrno();
  CopySender(native, message.msg_namelen, from);
  if ((message.msg_flags & MSG_TRUNC) != 0) return Fail(kWsaEMsgSize);
  return static_cast<int>(received);
}

bool PosixSocketApi::TakeWaitingDatagram(SocketHandle handle, Watch& watch) {
  iovec part{watch.bytes.get(), Watch::kMaxDatagram};
  msghdr message{};
  message.msg_name = &watch.from;
  message.msg_namelen = sizeof watch.from;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  watch.size = ::recvmsg(static_cast<int>(handle), &message, 0);
  watch.fromLength = message.msg_namelen;
  watch.error = watch.size < 0 ? errno : 0;
  return !(watch.size < 0 && (watch.error == EAGAIN || watch.error == EWOULDBLOCK));
}

void PosixSocketApi::Activated(SocketHandle handle, Watch& watch) {
  // Nobody to tell, or the last datagram not taken yet: quiet until the next receive, so a
  // datagram left unread never makes the loop spin.
  if (watch.holding || watch.window == nullptr) {
    watch.notifier->setEnabled(false);
    return;
  }
  if (!TakeWaitingDatagram(handle, watch)) return;
  watch.holding = true;
  const QPointer<QSocketNotifier> alive(watch.notifier.get());
  watch.window->Send(watch.message, static_cast<std::uintptr_t>(handle),
                     static_cast<std::intptr_t>(kFdRead));
  // The handler may have closed the socket, stopped the notifications or ended the layer.
  if (alive != nullptr && watch.holding) watch.notifier->setEnabled(false);
}

int PosixSocketApi::AsyncSelect(SocketHandle handle, NotifyWindow& window, std::uint32_t message,
                                long events) {
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  auto& watch = watches_[handle];
  if ((events & kFdRead) == 0) {
    // A held datagram stays for the next RecvFrom, as it would on the socket.
    if (watch) {
      watch->window = nullptr;
      watch->notifier->setEnabled(false);
    } else {
      watches_.erase(handle);
    }
    return 0;
  }
  if (!watch) {
    watch = std::make_unique<Watch>();
    watch->bytes = TakeBuffer();
    watch->notifier = std::make_unique<Watch::Notifier>(*this, *watch, handle);
  }
  watch->window = &window;
  watch->message = message;
  // Asking again while a datagram is announced and not taken must not announce it twice.
  watch->notifier->setEnabled(!watch->holding);
  return 0;
}

void PosixSocketApi::AsyncGetHostByName(NotifyWindow& window, std::uint32_t message,
                                        const char* name, char* hostEntry, int bufferLength) {
  const auto refuse = [&](int error) { window.Post(message, 0, LookupCompletionParam(error)); };
  if (startups_ == 0) return refuse(kWsaNotInitialised);
  if (name == nullptr || *name == '\0') return refuse(kWsaHostNotFound);
  if (hostEntry == nullptr || bufferLength < kHostEntryAddressOffset + 4) {
    return refuse(kWsaENoBufs);
  }

  NotifyWindow* const target = &window;
  // The window is the context: when it dies, a lookup still running reports to nobody and
  // never touches the entry buffer, which its owner frees with the window.
  QHostInfo::lookupHost(
      QString::fromUtf8(name), target,
      [target, message, hostEntry, bufferLength](const QHostInfo& info) {
        const std::uint32_t capacity =
            static_cast<std::uint32_t>(bufferLength - kHostEntryAddressOffset) / 4;
        std::uint32_t count = 0;
        if (info.error() == QHostInfo::NoError) {
          for (const QHostAddress& address : info.addresses()) {
            if (count == capacity) break;
            if (address.protocol() != QHostAddress::IPv4Protocol) continue;
            const std::uint32_t networkOrder = qToBigEndian(address.toIPv4Address());
            std::memcpy(hostEntry + kHostEntryAddressOffset + 4 * count, &networkOrder, 4);
            ++count;
          }
        }
        const HostEntryHeader header{count};
        std::memcpy(hostEntry, &header, sizeof header);
        int error = 0;
        if (count == 0) {
          error = info.error() == QHostInfo::UnknownError ? kWsaTryAgain : kWsaHostNotFound;
        }
        target->Post(message, 0, LookupCompletionParam(error));
      });
}

std::uint32_t PosixSocketApi::InetAddr(const char* text) {
  if (text == nullptr) return kInaddrNone;
  // Every send converts the controller's address again; the result depends on the text alone.
  if (lastInetText_ != text) {
    lastInetText_ = text;
    lastInetAddress_ = ::inet_addr(text);
  }
  return lastInetAddress_;
}

int PosixSocketApi::GetLastError() { return lastError_; }

std::uint16_t PosixSocketApi::LocalPortOf(SocketHandle handle) {
  if (!IsOpen(handle)) {
    Fail(kWsaENotSock);
    return 0;
  }
  sockaddr_in native{};
  socklen_t size = sizeof native;
  if (::getsockname(static_cast<int>(handle), reinterpret_cast<sockaddr*>(&native), &size) != 0) {
    FailFromErrno();
    return 0;
  }
  return qFromBigEndian(native.sin_port);
}

int PosixSocketApi::EphemeralPortCount() {
  // Linux's default range when the setting cannot be read.
  int low = 32768;
  int high = 60999;
  std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
  int readLow = 0;
  int readHigh = 0;
  if (range >> readLow >> readHigh && readLow >= 1 && readHigh <= 65535 && readLow <= readHigh) {
    low = readLow;
    high = readHigh;
  }
  return high - low + 1;
}
