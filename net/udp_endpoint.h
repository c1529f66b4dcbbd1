#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "base/exception.h"
#include "net/socket_api.h"

class NotifyWindow;
class RecentPorts;

// The endpoint's own errors; "Invalid buffer" is a plain Exception.
class UDPSockError : public Exception {
 public:
  using Exception::Exception;
};

// One IPv4 datagram socket: SendDatagram sends to RemoteHost:RemotePort (a dotted address or a
// host name, which is looked up while the event loop goes on), and every datagram arriving on
// the bound local port is read at once and announced by OnDataReceived.
//
// An owner loads it like this: construct; LoadStoredProperties() (RemotePort 0, LocalPort 0
// which binds a port the system picks, ReportLevel 1); connect the events; BindLocal().
class TUDPEndpoint {
 public:
  static constexpr int kDatagramBufferSize = 2048;
  static constexpr int kHostEntryBufferSize = 1024;
  static constexpr std::size_t kMaxHostNameLength = 127;

  explicit TUDPEndpoint(SocketApi& api);
  ~TUDPEndpoint();
  TUDPEndpoint(const TUDPEndpoint&) = delete;
  TUDPEndpoint& operator=(const TUDPEndpoint&) = delete;

  const std::string& RemoteHost() const { return RemoteHost_; }
  void SetRemoteHost(std::string host) { RemoteHost_ = std::move(host); }
  std::int32_t RemotePort() const { return RemotePort_; }
  void SetRemotePort(std::int32_t port) { RemotePort_ = port; }
  std::int32_t LocalPort() const { return LocalPort_; }
  // Replaces the socket by a new one bound to the port (0: the system picks one).
  void SetLocalPort(std::int32_t port);
  // Moves to a new socket on a port the system picks and `recent` does not hold, and remembers
  // it there. The old socket is closed only then, so the system cannot hand its port back;
  // whatever arrives for it afterwards is discarded by the system.
  void BindFreshPort(RecentPorts& recent);
  // Closes the socket: nothing is received until the next bind.
  void CloseLocal();
  // How many ports the system hands out to a bind to port 0.
  int EphemeralPortCount() const { return api_.EphemeralPortCount(); }
  std::int32_t ReportLevel() const { return ReportLevel_; }
  void SetReportLevel(std::int32_t level) { ReportLevel_ = level; }
  const std::string& StatusText() const { return StatusText_; }
  std::int32_t LastErrorNumber() const { return LastErrorNumber_; }

  // The stored properties of the owner's form, in their stored order.
  void LoadStoredProperties();
  // Binds the socket to LocalPort and asks for read notifications; a second bind fails
  // silently.
  void BindLocal();
  // Sends the first `length` bytes of a copy of the whole of `buff` (taken when owner code
  // runs before the send; until then `buff` itself holds the same bytes).
  void SendDatagram(std::span<const char> buff, std::int32_t length);
  // Copies the last datagram received (as much as fits `buff`) and sets `length` to its
  // length, -1 after a failed receive, 0 before any.
  void ReadDatagram(std::span<char> buff, std::int32_t& length) const;
  // The destination address of the last send, dotted.
  std::string RemoteAddressText() const;
  // The local port the socket is bound to; 0 when unbound.
  std::uint16_t BoundPort() const;

  // The notify window's procedure.
  void HandleNotification(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

  std::function<void(TUDPEndpoint& sender, const std::string& status)> OnStatus;
  std::function<void(TUDPEndpoint& sender, std::int32_t NumberBytes, const std::string& FromIP,
                     std::int32_t Port)>
      OnDataReceived;
  std::function<void(TUDPEndpoint& sender)> OnDataSend;
  std::function<void(bool& handled)> OnInvalidHost;
  // Never raised: there is no stream operation.
  std::function<void(bool& handled, std::iostream* stream)> OnStreamInvalid;
  std::function<void(bool& handled, std::span<char> buff, std::int32_t& length)> OnBufferInvalid;
  std::function<void(TUDPEndpoint& sender, std::uint16_t ErrorNumber, const std::string& ErrorText)>
      OnError;

 private:
  class WorkingCopy;

  void StartAndCreateSocket(bool dontLinger);
  void CreateSocket();
  void ResolveRemoteHost(WorkingCopy& copy, std::int32_t length);
  bool LookUpRemoteHost(const std::string& name);
  void ReceiveDatagram();
  void ReportStatus(std::uint8_t level, const std::string& text);
  void CheckSocketError(std::uint16_t mask, std::string& text);
  void DescribeSocketError(std::uint16_t number, std::string& text);

  SocketApi& api_;
  std::array<char, kDatagramBufferSize> DatagramBuffer_{};
  std::int32_t DatagramLength_ = 0;
  std::string RemoteHost_;
  std::int32_t RemotePort_ = 0;
  std::int32_t LocalPort_ = 0;
  SockAddrIn RemoteAddress_{};
  SockAddrIn LocalAddress_{};
  std::unique_ptr<std::array<char, kHostEntryBufferSize>> HostEntryBuffer_;
  bool LookupDone_ = false;
  bool LookupSucceeded_ = false;
  // A lookup was requested and its completion has not come in yet (also after its wait was
  // left by an error), so the entry buffer and the flags are still in use.
  bool LookupInFlight_ = false;
  std::int32_t ReportLevel_ = 0;
  std::string StatusText_;
  bool Ready_ = false;
  std::int32_t LastErrorNumber_ = 0;
  SocketHandle SocketHandle_ = 0;
  // Last member: destroyed first, so no notification outlives the state it touches.
  std::unique_ptr<NotifyWindow> NotifyWindow_;
};
