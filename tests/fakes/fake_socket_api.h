#pragma once

#include <arpa/inet.h>

#include <QPointer>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "net/notify_window.h"
#include "net/socket_api.h"

// A socket layer for tests: records every call by operation name ("startup", "socket",
// "setsockopt", "bind", "asyncgethostbyname", ...), fails the next call of an operation with a
// chosen error number, injects received datagrams and answers host lookups from a table.
// Notifications go through the notify window's event queue, as the real layer's do.
class FakeSocketApi : public SocketApi {
 public:
  struct Call {
    std::string name;
    std::vector<std::int64_t> args;
    std::string text;  // the name looked up
  };
  struct SentDatagram {
    std::string bytes;
    std::string toIp;
    std::uint16_t toPort = 0;    // host order
    std::uint16_t fromPort = 0;  // the sending socket's local port
  };

  // The next call of `op` fails with `error`; a failing "startup" returns `error`, or
  // kWsaSysNotReady when it is 0.
  void FailNext(const std::string& op, int error) { failNext_[op] = error; }
  // Queues a datagram on the socket last selected and posts one read notification for it.
  void Deliver(const std::string& bytes, const std::string& fromIp, std::uint16_t fromPort);
  // Queues a datagram on the open socket bound to `port`, notifying when it is the one selected;
  // false when no open socket has that port, and the datagram is gone, as the system drops it.
  bool DeliverTo(std::uint16_t port, const std::string& bytes, const std::string& fromIp,
                 std::uint16_t fromPort);
  // Binds to port 0 get these ports first, in order, as the system may hand out any free port.
  void HandOutPorts(std::deque<std::uint16_t> ports) { handOut_ = std::move(ports); }
  void SetEphemeralPortCount(int count) { ephemeralPorts_ = count; }
  std::size_t OpenSockets() const { return open_.size(); }
  // `name` resolves to `dottedAddress`, or to no address when it is empty. Other names fail.
  void SetHostAddress(const std::string& name, const std::string& dottedAddress);
  // While held, lookups are answered only by CompleteHeldLookups().
  void HoldLookups(bool hold) { holdLookups_ = hold; }
  void CompleteHeldLookups();

  const std::vector<Call>& Calls() const { return calls_; }
  int CountOf(const std::string& op) const;
  std::vector<std::string> LookedUpNames() const;
  const std::vector<SentDatagram>& Sent() const { return sent_; }
  int StartupBalance() const { return startups_; }  // successful startups minus cleanups
  SocketHandle LastSocket() const { return nextSocket_ - 1; }
  bool IsOpen(SocketHandle handle) const { return open_.count(handle) != 0; }

  int Startup(std::uint16_t version) override;
  void Cleanup() override {
    if (!Enter("cleanup", {}) && startups_ > 0) --startups_;
  }
  SocketHandle Socket(int af, int type, int protocol) override {
    if (Enter("socket", {af, type, protocol})) return kInvalidSocket;
    open_.insert(nextSocket_);
    return nextSocket_++;
  }
  int SetSockOpt(SocketHandle handle, int level, int name, const char* value, int length) override;
  int Bind(SocketHandle handle, const SockAddrIn& address) override;
  int CloseSocket(SocketHandle handle) override;
  int SendTo(SocketHandle handle, const char* data, int length, int flags,
             const SockAddrIn& to) override;
  int RecvFrom(SocketHandle handle, char* buffer, int length, int flags, SockAddrIn& from) override;
  int AsyncSelect(SocketHandle handle, NotifyWindow& window, std::uint32_t message,
                  long events) override;
  void AsyncGetHostByName(NotifyWindow& window, std::uint32_t message, const char* name,
                          char* hostEntry, int bufferLength) override;
  std::uint32_t InetAddr(const char* text) override { return ::inet_addr(text); }
  int GetLastError() override { return lastError_; }
  std::uint16_t LocalPortOf(SocketHandle handle) override {
    return boundPorts_.count(handle) != 0 ? boundPorts_[handle] : 0;
  }
  int EphemeralPortCount() override { return ephemeralPorts_; }

 private:
  struct Lookup {
    QPointer<NotifyWindow> window;
    std::uint32_t message = 0;
    char* hostEntry = nullptr;
    int error = kWsaHostNotFound;
    std::vector<std::uint32_t> addresses;
  };

  // Records the call; true when it is to fail (the last error is then set).
  bool Enter(const std::string& op, std::vector<std::int64_t> args, std::string text = {});
  static void Answer(const Lookup& lookup);

  std::vector<Call> calls_;
  std::map<std::string, int> failNext_;
  std::map<std::string, std::vector<std::uint32_t>> hosts_;
  bool holdLookups_ = false;
  std::vector<Lookup> heldLookups_;
  std::vector<SentDatagram> sent_;
  std::set<SocketHandle> open_;
  std::map<SocketHandle, std::uint16_t> boundPorts_;
  std::map<SocketHandle, std::deque<std::pair<std::string, SockAddrIn>>> incoming_;
  QPointer<NotifyWindow> selectedWindow_;
  std::uint32_t selectedMessage_ = 0;
  SocketHandle selected_ = 0;
  SocketHandle nextSocket_ = 100;
  std::uint16_t nextPort_ = 50000;
  std::deque<std::uint16_t> handOut_;
  int ephemeralPorts_ = 28232;
  int startups_ = 0;
  int lastError_ = 0;
};
