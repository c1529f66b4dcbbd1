#include "net/udp_endpoint.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/handler_guard.h"
#include "net/notify_window.h"
#include "net/recent_ports.h"

namespace {

// Every caller of CheckSocketError passes this mask: an error number holding all its bits is
// tolerated.
constexpr std::uint16_t kErrorMask = kWsaEWouldBlock;

const char* const kInvalidBuffer = "Invalid buffer";
const char* const kLookupCanceled = "Host Lookup Canceled";
const char* const kNullRemoteAddress = "Null Remote Address";
const char* const kNoFreshPort = "No Fresh Local Port";

// Ports the system hands back while they are still remembered are held open and another is
// asked for; with at most half of the range remembered, this many tries all failing means
// the system has almost no ports left.
constexpr int kFreshPortTries = 64;

// "%d.%d.%d.%d" of the address's bytes, once per datagram and per send: without printf.
std::string DottedText(std::uint32_t networkOrderAddress) {
  unsigned char bytes[4];
  std::memcpy(bytes, &networkOrderAddress, sizeof bytes);
  char text[16];
  char* out = text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) *out++ = '.';
    const unsigned value = bytes[i];
    if (value >= 100) *out++ = static_cast<char>('0' + value / 100);
    if (value >= 10) *out++ = static_cast<char>('0' + value / 10 % 10);
    *out++ = static_cast<char>('0' + value % 10);
  }
  return std::string(text, out);
}

}  // namespace

TUDPEndpoint::TUDPEndpoint(SocketApi& api) : api_(api) {
  Ready_ = false;
  HostEntryBuffer_ = std::make_unique<std::array<char, kHostEntryBufferSize>>();
  NotifyWindow_ = std::make_unique<NotifyWindow>(
      [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        HandleNotification(message, wParam, lParam);
      });
  ReportLevel_ = 1;
  ReportStatus(8, "Initializing Winsock");
  StartAndCreateSocket(true);
  Ready_ = true;
}

TUDPEndpoint::~TUDPEndpoint() {
  // The window goes first: a lookup still running reports to it and writes the entry buffer.
  NotifyWindow_.reset();
  HostEntryBuffer_.reset();
  api_.Cleanup();
}

// A failed start-up leaves the old handle; a failed creation ends this use of the sockets.
void TUDPEndpoint::StartAndCreateSocket(bool dontLinger) {
  if (api_.Startup(kWinsockVersion) != 0) {
    std::string text;
    CheckSocketError(kErrorMask, text);
    return;
  }
  try {
    CreateSocket();
    if (dontLinger) {
      const std::int32_t on = 1;
      api_.SetSockOpt(SocketHandle_, kSolSocket, kSoDontLinger, reinterpret_cast<const char*>(&on),
                      sizeof on);
    }
  } catch (...) {
    api_.Cleanup();
    throw;
  }
}

void TUDPEndpoint::CreateSocket() {
  SocketHandle_ = api_.Socket(kAfInet, kSockDgram, 0);
  if (SocketHandle_ == kInvalidSocket) {
    std::string text;
    CheckSocketError(kErrorMask, text);
  }
}

void TUDPEndpoint::SetLocalPort(std::int32_t port) {
  if (SocketHandle_ != 0) {
    api_.CloseSocket(SocketHandle_);
    // The closed number may be reused by another descriptor; never bind or watch it again.
    SocketHandle_ = kInvalidSocket;
  }
  api_.Cleanup();
  StartAndCreateSocket(false);
  LocalPort_ = port;
  BindLocal();
}

void TUDPEndpoint::BindFreshPort(RecentPorts& recent) {
  std::vector<SocketHandle> refused;
  const auto closeRefused = [&] {
    for (const SocketHandle handle : refused) api_.CloseSocket(handle);
  };
  // The socket error names the cause; a tolerated one still leaves no socket to send from.
  const auto fail = [&] {
    std::string text;
    const int number = api_.GetLastError();
    closeRefused();
    if (number != 0) {
      DescribeSocketError(static_cast<std::uint16_t>(number), text);
      throw UDPSockError(text);
    }
    throw UDPSockError(kNoFreshPort);
  };
  SockAddrIn any{};
  any.family = kAfInet;
  // Not converted from text: that would displace the controller's address from the layer's
  // conversion cache at every request.
  any.address = kInaddrAny;
  for (int attempt = 0; attempt < kFreshPortTries; ++attempt) {
    const SocketHandle handle = api_.Socket(kAfInet, kSockDgram, 0);
    if (handle == kInvalidSocket) fail();
    refused.push_back(handle);
    if (api_.Bind(handle, any) != 0) fail();
    const std::uint16_t port = api_.LocalPortOf(handle);
    if (port == 0) fail();
    if (recent.Contains(port)) continue;
    refused.pop_back();
    closeRefused();
    if (SocketHandle_ != kInvalidSocket) api_.CloseSocket(SocketHandle_);
    SocketHandle_ = handle;
    LocalPort_ = 0;
    recent.Add(port);
    api_.AsyncSelect(SocketHandle_, *NotifyWindow_, kNotifyMessage, kFdRead);
    return;
  }
  closeRefused();
  throw UDPSockError(kNoFreshPort);
}

void TUDPEndpoint::CloseLocal() {
  if (SocketHandle_ == kInvalidSocket) return;
  api_.CloseSocket(SocketHandle_);
  SocketHandle_ = kInvalidSocket;
}

void TUDPEndpoint::LoadStoredProperties() {
  SetRemotePort(0);
  SetLocalPort(0);
  SetReportLevel(1);
}

void TUDPEndpoint::BindLocal() {
  LocalAddress_ = SockAddrIn{};
  LocalAddress_.family = kAfInet;
  LocalAddress_.port = qToBigEndian(static_cast<std::uint16_t>(LocalPort_));
  LocalAddress_.address = api_.InetAddr("0.0.0.0");
  api_.Bind(SocketHandle_, LocalAddress_);
  api_.AsyncSelect(SocketHandle_, *NotifyWindow_, kNotifyMessage, kFdRead);
}

// The send's working copy of the caller's array. It is observable only in what is sent and in
// what the repair event sees, so it is taken only when owner code is about to run before the
// send (the repair event, a lookup wait that dispatches events, a status handler): until then
// the caller's array still holds exactly what the copy would.
class TUDPEndpoint::WorkingCopy {
 public:
  explicit WorkingCopy(std::span<const char> caller) : caller_(caller) {}

  // The whole array, for the repair event to rewrite.
  std::span<char> Whole() {
    if (!copied_) Take(caller_.size());
    return copy_;
  }
  // Before owner code runs: what a send of `length` bytes could still take is kept.
  void Keep(std::int32_t length) {
    if (!copied_) Take(std::min(static_cast<std::size_t>(std::max(length, 0)), caller_.size()));
  }
  std::span<const char> Data() const { return copied_ ? std::span<const char>(copy_) : caller_; }

 private:
  void Take(std::size_t count) {
    copy_.assign(caller_.begin(), caller_.begin() + static_cast<std::ptrdiff_t>(count));
    copied_ = true;
  }

  std::span<const char> caller_;
  std::vector<char> copy_;
  bool copied_ = false;
};

void TUDPEndpoint::SendDatagram(std::span<const char> buff, std::int32_t length) {
  WorkingCopy copy(buff);

  int repairs = 0;
  while (length == 0) {
    if (repairs > 0) throw Exception(kInvalidBuffer);
    if (!OnBufferInvalid) throw Exception(kInvalidBuffer);
    bool handled = false;
    OnBufferInvalid(handled, copy.Whole(), length);
    if (!handled) throw Exception(kInvalidBuffer);
    ++repairs;
  }

  ResolveRemoteHost(copy, length);
  if (RemoteAddress_.address == 0) throw UDPSockError(kNullRemoteAddress);
  if (OnStatus && ReportLevel_ >= 2) copy.Keep(length);
  ReportStatus(2, "Sending Data");
  RemoteAddress_.family = kAfInet;
  RemoteAddress_.port = qToBigEndian(static_cast<std::uint16_t>(RemotePort_));
  // A negative length or one beyond the array never reaches the send: it fails silently.
  const std::span<const char> data = copy.Data();
  if (length > 0 && static_cast<std::size_t>(length) <= buff.size()) {
    api_.SendTo(SocketHandle_, data.data(), length, 0, RemoteAddress_);
  }
  if (OnDataSend) OnDataSend(*this);
}

void TUDPEndpoint::ResolveRemoteHost(WorkingCopy& copy, std::int32_t length) {
  // A name longer than the 128-byte name buffer holds is refused, never cut: a cut name could
  // reach another host. The same holds for a name that a NUL would cut.
  if (RemoteHost_.size() > kMaxHostNameLength || RemoteHost_.find('\0') != std::string::npos) {
    throw UDPSockError(kLookupCanceled);
  }
  const std::string name = RemoteHost_;
  const std::uint32_t address = api_.InetAddr(name.c_str());
  if (address != kInaddrNone) {
    RemoteAddress_.address = address;
    return;
  }
  // One lookup at a time: the entry buffer and the flags belong to the one still running.
  if (LookupInFlight_) throw UDPSockError(kLookupCanceled);

  // The wait runs other events, and OnInvalidHost may run too.
  copy.Keep(length);
  int failures = 0;
  while (!LookUpRemoteHost(name)) {
    if (failures >= 1) throw UDPSockError(kLookupCanceled);
    failures = 1;
    bool handled = false;
    if (OnInvalidHost) OnInvalidHost(handled);
    if (!handled) throw UDPSockError(kLookupCanceled);
  }
}

bool TUDPEndpoint::LookUpRemoteHost(const std::string& name) {
  LookupDone_ = false;
  LookupInFlight_ = true;
  api_.AsyncGetHostByName(*NotifyWindow_, kNotifyMessage, name.c_str(), HostEntryBuffer_->data(),
                          kHostEntryBufferSize);
  // Other events, replies included, run inside this wait; it sleeps until one comes.
  while (!LookupDone_) HandlerGuard::DispatchPass();
  if (!LookupSucceeded_) return false;

  HostEntryHeader header;
  std::memcpy(&header, HostEntryBuffer_->data(), sizeof header);
  // A lookup that found no address has failed.
  if (header.addressCount == 0) return false;
  std::memcpy(&RemoteAddress_.address, HostEntryBuffer_->data() + kHostEntryAddressOffset, 4);
  return true;
}

void TUDPEndpoint::HandleNotification(std::uint32_t message, std::uintptr_t /*wParam*/,
                                      std::intptr_t lParam) {
  if (!Ready_ || message != kNotifyMessage) return;
  const auto param = static_cast<std::uintptr_t>(lParam);
  if ((param & 0xFFFF) == static_cast<std::uintptr_t>(kFdRead)) {
    ReceiveDatagram();
    return;
  }
  LookupDone_ = true;
  LookupInFlight_ = false;
  LookupSucceeded_ = ((param >> 16) & 0xFFFF) == 0;
}

void TUDPEndpoint::ReceiveDatagram() {
  SockAddrIn from{};
  DatagramLength_ =
      api_.RecvFrom(SocketHandle_, DatagramBuffer_.data(), kDatagramBufferSize, 0, from);
  if (!OnDataReceived) return;
  OnDataReceived(*this, DatagramLength_, DottedText(from.address), qFromBigEndian(from.port));
}

void TUDPEndpoint::ReadDatagram(std::span<char> buff, std::int32_t& length) const {
  if (DatagramLength_ > 0) {
    // Never more than the caller's array holds.
    const std::size_t count =
        std::min({static_cast<std::size_t>(DatagramLength_), buff.size(), DatagramBuffer_.size()});
    std::copy_n(DatagramBuffer_.begin(), count, buff.begin());
  }
  length = DatagramLength_;
}

std::string TUDPEndpoint::RemoteAddressText() const { return DottedText(RemoteAddress_.address); }

std::uint16_t TUDPEndpoint::BoundPort() const { return api_.LocalPortOf(SocketHandle_); }

void TUDPEndpoint::ReportStatus(std::uint8_t level, const std::string& text) {
  if (static_cast<std::int32_t>(level) > ReportLevel_) return;
  StatusText_ = text;
  if (OnStatus) OnStatus(*this, StatusText_);
}

void TUDPEndpoint::CheckSocketError(std::uint16_t mask, std::string& text) {
  ReportStatus(16, "Checking Error In Error Manager");
  const int number = api_.GetLastError();
  LastErrorNumber_ = number;
  if ((number & mask) == mask) {
    text.clear();
    return;
  }
  DescribeSocketError(static_cast<std::uint16_t>(number), text);
  if (OnError) OnError(*this, static_cast<std::uint16_t>(number), text);
  throw UDPSockError(text);
}

void TUDPEndpoint::DescribeSocketError(std::uint16_t number, std::string& text) {
  if (number != 0 && text.empty()) text = "Unknown Error No. " + std::to_string(number);
  ReportStatus(8, "Looking Up Error Message" + text);
}
