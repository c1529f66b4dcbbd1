#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "net/socket_api.h"

// The socket layer over POSIX sockets and the Qt event loop. Sockets are non-blocking;
// readiness reaches the notify window straight from a socket notifier's activation, which
// takes the datagram off the socket first (an activation that finds none announces nothing)
// and holds it for the next RecvFrom; the notifier is switched off while an announced datagram
// is not taken and on again by the next receive, so a waiting datagram gives exactly one
// notification. Host lookups run on Qt's resolver (IPv4 results only); their completions are
// posted.
//
// Startup/Cleanup only count their uses; when the last use ends, every socket still open is
// closed, as the classic API does, so an endpoint that never closes its socket leaks nothing.
class PosixSocketApi : public SocketApi {
 public:
  PosixSocketApi();
  ~PosixSocketApi() override;
  PosixSocketApi(const PosixSocketApi&) = delete;
  PosixSocketApi& operator=(const PosixSocketApi&) = delete;

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
  int EphemeralPortCount() override;

  // The error number for a POSIX errno value. Values without a counterpart become
  // kUnmappedErrnoBase + errno, a range no classic error number uses (and whose bits never
  // pass the endpoint's tolerance mask).
  static int ErrorNumberFromErrno(int error);
  static constexpr int kUnmappedErrnoBase = 15000;

 private:
  struct Watch;

  std::unique_ptr<char[]> TakeBuffer();
  void DropWatch(SocketHandle handle);
  bool TakeWaitingDatagram(SocketHandle handle, Watch& watch);
  void Activated(SocketHandle handle, Watch& watch);
  int Fail(int error);
  int FailFromErrno();
  bool IsOpen(SocketHandle handle) const;
  void CloseAll();

  int startups_ = 0;
  int lastError_ = 0;
  std::set<SocketHandle> open_;
  std::map<SocketHandle, std::unique_ptr<Watch>> watches_;
  // The receive buffer of the last watch that ended, for the next one: a socket a request
  // would otherwise free and take 64 KiB each time, and the allocator tidies all its small
  // chunks whenever that much is freed.
  std::unique_ptr<char[]> spareBytes_;
  std::string lastInetText_;
  std::uint32_t lastInetAddress_ = kInaddrNone;
};
