#include "net/posix_socket_api.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QtEndian>
#include <cerrno>
#include <cstring>

#include "net/notify_window.h"

struct PosixSocketApi::Watch {
  std::unique_ptr<QSocketNotifier> notifier;
  QPointer<NotifyWindow> window;
  std::uint32_t message = 0;
  // A read notification is queued or being handled and no receive has followed yet.
  bool outstanding = false;
};

namespace {
bool DatagramWaiting(SocketHandle handle) {
  pollfd ready{static_cast<int>(handle), POLLIN, 0};
  return ::poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0;
}
}  // namespace

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

int PosixSocketApi::CloseSocket(SocketHandle handle) {
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  watches_.erase(handle);
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

int PosixSocketApi::RecvFrom(SocketHandle handle, char* buffer, int length, int flags,
                             SockAddrIn& from) {
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  if (length < 0 || (buffer == nullptr && length > 0)) return Fail(kWsaEFault);
  if (flags != 0) return Fail(kWsaEOpNotSupp);
  sockaddr_in native{};
  iovec part{buffer, static_cast<std::size_t>(length)};
  msghdr message{};
  message.msg_name = &native;
  message.msg_namelen = sizeof native;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  const ssize_t received = ::recvmsg(static_cast<int>(handle), &message, 0);
  const int savedErrno = errno;

  // Re-arm after every receive: a datagram still waiting then gives its own notification.
  if (const auto found = watches_.find(handle); found != watches_.end()) {
    found->second->outstanding = false;
    if (!found->second->notifier->isEnabled()) found->second->notifier->setEnabled(true);
  }

  if (received < 0) return Fail(ErrorNumberFromErrno(savedErrno));
  if (message.msg_namelen >= sizeof native && native.sin_family == AF_INET) {
    from.family = kAfInet;
    from.port = native.sin_port;
    from.address = native.sin_addr.s_addr;
  }
  // The datagram did not fit: it is gone, and the call fails like the classic one does.
  if ((message.msg_flags & MSG_TRUNC) != 0) return Fail(kWsaEMsgSize);
  return static_cast<int>(received);
}

int PosixSocketApi::AsyncSelect(SocketHandle handle, NotifyWindow& window, std::uint32_t message,
                                long events) {
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  if ((events & kFdRead) == 0) {
    watches_.erase(handle);
    return 0;
  }
  auto& watch = watches_[handle];
  if (!watch) {
    watch = std::make_unique<Watch>();
    watch->notifier =
        std::make_unique<QSocketNotifier>(static_cast<qintptr>(handle), QSocketNotifier::Read);
    Watch* const target = watch.get();
    QObject::connect(target->notifier.get(), &QSocketNotifier::activated, target->notifier.get(),
                     [target, handle] {
                       // The notifier stays armed while the posted notification is handled
                       // (switching it costs a loop wake-up per datagram); only a datagram
                       // that is still unread on a second activation, or nobody to tell,
                       // switches it off until the next receive, so the loop never spins.
                       if (target->outstanding || target->window == nullptr) {
                         target->notifier->setEnabled(false);
                         return;
                       }
                       // An activation computed before the last receive can be stale.
                       if (!DatagramWaiting(handle)) return;
                       target->outstanding = true;
                       target->window->Post(target->message, static_cast<std::uintptr_t>(handle),
                                            static_cast<std::intptr_t>(kFdRead));
                     });
  }
  watch->window = &window;
  watch->message = message;
  // Asking again while a notification is outstanding must not announce the same datagram twice.
  watch->notifier->setEnabled(!watch->outstanding);
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
  return ::inet_addr(text);
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
