#pragma once

#include <cstdint>

class NotifyWindow;

// The socket layer the UDP endpoint runs on: the calls of a classic message-driven socket API
// with its numbering of constants and error codes, so that the endpoint's texts ("Unknown Error
// No. 10047") mean the same whichever implementation runs underneath.
//
// The constants carry k-names because the system headers define the POSIX spellings (AF_INET,
// SOCK_DGRAM, SOL_SOCKET) as macros with other values.

using SocketHandle = std::intptr_t;

inline constexpr SocketHandle kInvalidSocket = -1;
inline constexpr int kSocketError = -1;

inline constexpr std::uint32_t kNotifyMessage = 1125;
inline constexpr std::uint16_t kWinsockVersion = 0x0101;  // 1.1: major in the low byte
inline constexpr long kFdRead = 1;
inline constexpr int kSolSocket = 0xFFFF;
inline constexpr int kSoDontLinger = 0xFF7F;
inline constexpr int kAfInet = 2;
inline constexpr int kSockDgram = 2;
inline constexpr std::uint32_t kInaddrAny = 0;
inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFF;

// Error numbers.
inline constexpr int kWsaEIntr = 10004;
inline constexpr int kWsaEBadF = 10009;
inline constexpr int kWsaEAcces = 10013;
inline constexpr int kWsaEFault = 10014;
inline constexpr int kWsaEInval = 10022;
inline constexpr int kWsaEMFile = 10024;
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEInProgress = 10036;
inline constexpr int kWsaEAlready = 10037;
inline constexpr int kWsaENotSock = 10038;
inline constexpr int kWsaEDestAddrReq = 10039;
inline constexpr int kWsaEMsgSize = 10040;
inline constexpr int kWsaEPrototype = 10041;
inline constexpr int kWsaENoProtoOpt = 10042;
inline constexpr int kWsaEProtoNoSupport = 10043;
inline constexpr int kWsaESocktNoSupport = 10044;
inline constexpr int kWsaEOpNotSupp = 10045;
inline constexpr int kWsaEPfNoSupport = 10046;
inline constexpr int kWsaEAfNoSupport = 10047;
inline constexpr int kWsaEAddrInUse = 10048;
inline constexpr int kWsaEAddrNotAvail = 10049;
inline constexpr int kWsaENetDown = 10050;
inline constexpr int kWsaENetUnreach = 10051;
inline constexpr int kWsaENetReset = 10052;
inline constexpr int kWsaEConnAborted = 10053;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaENoBufs = 10055;
inline constexpr int kWsaEIsConn = 10056;
inline constexpr int kWsaENotConn = 10057;
inline constexpr int kWsaETimedOut = 10060;
inline constexpr int kWsaEConnRefused = 10061;
inline constexpr int kWsaEHostDown = 10064;
inline constexpr int kWsaEHostUnreach = 10065;
inline constexpr int kWsaSysNotReady = 10091;
inline constexpr int kWsaVerNotSupported = 10092;
inline constexpr int kWsaNotInitialised = 10093;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;
inline constexpr int kWsaNoData = 11004;

// The 16-byte IPv4 socket address: family in host order, port and address in network order
// (the address's bytes lie in memory as they are written in dotted text).
struct SockAddrIn {
  std::uint16_t family = 0;
  std::uint16_t port = 0;
  std::uint32_t address = 0;
  std::uint8_t zero[8] = {};
};
static_assert(sizeof(SockAddrIn) == 16);

// Layout of the host entry that a completed lookup leaves in the caller's buffer: a 32-bit
// address count in host order, then that many 4-byte IPv4 addresses in network order, as many
// as fit the buffer (255 in 1024 bytes).
struct HostEntryHeader {
  std::uint32_t addressCount = 0;
};
inline constexpr int kHostEntryAddressOffset = sizeof(HostEntryHeader);

// A lookup completion carries its error number in the high 16 bits of lParam (0: found) and 0
// in the low 16 bits; a read notification carries kFdRead in the low 16 bits and the handle in
// wParam.
inline constexpr std::intptr_t LookupCompletionParam(int error) {
  return static_cast<std::intptr_t>(static_cast<std::uint32_t>(error & 0xFFFF) << 16);
}

class SocketApi {
 public:
  virtual ~SocketApi() = default;

  // 0 on success, else an error number.
  virtual int Startup(std::uint16_t version) = 0;
  virtual void Cleanup() = 0;
  virtual SocketHandle Socket(int af, int type, int protocol) = 0;
  virtual int SetSockOpt(SocketHandle handle, int level, int name, const char* value,
                         int length) = 0;
  virtual int Bind(SocketHandle handle, const SockAddrIn& address) = 0;
  virtual int CloseSocket(SocketHandle handle) = 0;
  // The number of bytes sent, or kSocketError.
  virtual int SendTo(SocketHandle handle, const char* data, int length, int flags,
                     const SockAddrIn& to) = 0;
  // Takes one datagram off the socket: its length, or kSocketError on failure, which includes a
  // datagram longer than `length` (its excess is lost; `from` is still filled).
  virtual int RecvFrom(SocketHandle handle, char* buffer, int length, int flags,
                       SockAddrIn& from) = 0;
  // From now on posts `message` to `window` once per waiting datagram (events: kFdRead), or
  // stops the notifications (events: 0).
  virtual int AsyncSelect(SocketHandle handle, NotifyWindow& window, std::uint32_t message,
                          long events) = 0;
  // Starts a lookup of `name` that fills `hostEntry` (layout above) and posts exactly one
  // completion to `window`, also when the lookup is refused at once.
  virtual void AsyncGetHostByName(NotifyWindow& window, std::uint32_t message, const char* name,
                                  char* hostEntry, int bufferLength) = 0;
  // Dotted text to an address in network order; kInaddrNone for anything else and for
  // "255.255.255.255" itself.
  virtual std::uint32_t InetAddr(const char* text) = 0;
  virtual int GetLastError() = 0;
  // The local port (host order) the socket is bound to; 0 when unknown.
  virtual std::uint16_t LocalPortOf(SocketHandle handle) = 0;
  // How many ports the system hands out to a bind to port 0.
  virtual int EphemeralPortCount() = 0;
};
