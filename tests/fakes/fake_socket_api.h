#pragma once

#include <QPointer>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "net/notify_window.h"
#include "net/socket_api.h"

// A socket layer for tests: records every call, fails any call with a chosen error number,
// injects received datagrams and answers host lookups from a table. Notifications go through
// the notify window's event queue, as the real layer's do.
//
// Operation names used for recording and failing: "startup", "cleanup", "socket",
// "setsockopt", "bind", "closesocket", "sendto", "recvfrom", "asyncselect",
// "asyncgethostbyname", "inet_addr", "getlasterror", "localportof".
class FakeSocketApi : public SocketApi {
 public:
  struct Call {
    std::string name;
    std::vector<std::int64_t> args;
    std::string text;  // the name of a lookup, the text given to inet_addr
  };
  struct SentDatagram {
    SocketHandle handle = 0;
    std::string bytes;
    std::string toIp;
    std::uint16_t toPort = 0;  // host order
  };

  FakeSocketApi();
  ~FakeSocketApi() override;

  // The next call of `op` fails and leaves `error` as the last error number. A failing
  // "startup" returns `error`, or kWsaSysNotReady when `error` is 0.
  void FailNext(const std::string& op, int error);
  void FailAlways(const std::string& op, int error);
  void ClearFailures();

  // Queues a datagram on the socket last registered by AsyncSelect and posts one read
  // notification for it to the registered window.
  void Deliver(const std::string& bytes, const std::string& fromIp, std::uint16_t fromPort);

  // Lookup table: a name answered with one address, with a failure, or with an empty list.
  // Names not in the table fail with kWsaHostNotFound.
  void SetHostAddress(const std::string& name, const std::string& dottedAddress);
  void SetHostFailure(const std::string& name, int error);
  void SetHostWithoutAddresses(const std::string& name);
  // While held, lookups are answered only by CompleteHeldLookups().
  void HoldLookups(bool hold);
  void CompleteHeldLookups();

  const std::vector<Call>& Calls() const { return calls_; }
  int CountOf(const std::string& op) const;
  std::vector<std::string> LookedUpNames() const;
  const std::vector<SentDatagram>& Sent() const { return sent_; }
  // Startup calls minus Cleanup calls that succeeded.
  int StartupBalance() const { return startups_; }
  SocketHandle LastSocket() const { return lastSocket_; }
  bool IsOpen(SocketHandle handle) const { return open_.count(handle) != 0; }

  int Startup(std::uint16_t version) override;
  void Cleanup() override;
  SocketHandle Socket(int af, int type, int protocol) override;
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
  std::uint32_t InetAddr(const char* text) override;
  int GetLastError() override;
  std::uint16_t LocalPortOf(SocketHandle handle) override;

 private:
  struct Incoming {
    std::string bytes;
    std::uint32_t address = 0;
    std::uint16_t port = 0;
  };
  struct Selection {
    QPointer<NotifyWindow> window;
    std::uint32_t message = 0;
  };
  struct HostAnswer {
    int error = 0;
    std::vector<std::uint32_t> addresses;
  };
  struct Lookup {
    QPointer<NotifyWindow> window;
    std::uint32_t message = 0;
    char* hostEntry = nullptr;
    int bufferLength = 0;
    HostAnswer answer;
  };

  void Record(const std::string& op, std::vector<std::int64_t> args, std::string text = {});
  std::optional<int> TakeFailure(const std::string& op);
  int Fail(int error);
  static void Answer(const Lookup& lookup);

  std::vector<Call> calls_;
  std::map<std::string, int> failNext_;
  std::map<std::string, int> failAlways_;
  std::map<std::string, HostAnswer> hosts_;
  bool holdLookups_ = false;
  std::vector<Lookup> heldLookups_;
  std::vector<SentDatagram> sent_;
  std::set<SocketHandle> open_;
  std::map<SocketHandle, std::uint16_t> boundPorts_;
  std::map<SocketHandle, std::deque<Incoming>> incoming_;
  std::map<SocketHandle, Selection> selections_;
  SocketHandle nextSocket_ = 100;
  SocketHandle lastSocket_ = 0;
  SocketHandle lastSelected_ = 0;
  std::uint16_t nextPort_ = 50000;
  int startups_ = 0;
  int lastError_ = 0;
};
