#include "tests/fakes/fake_socket_api.h"

#include <arpa/inet.h>

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <utility>

namespace {

std::string DottedText(std::uint32_t networkOrderAddress) {
  in_addr address{};
  address.s_addr = networkOrderAddress;
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

}  // namespace

FakeSocketApi::FakeSocketApi() = default;
FakeSocketApi::~FakeSocketApi() = default;

void FakeSocketApi::FailNext(const std::string& op, int error) { failNext_[op] = error; }

void FakeSocketApi::FailAlways(const std::string& op, int error) { failAlways_[op] = error; }

void FakeSocketApi::ClearFailures() {
  failNext_.clear();
  failAlways_.clear();
}

std::optional<int> FakeSocketApi::TakeFailure(const std::string& op) {
  if (const auto next = failNext_.find(op); next != failNext_.end()) {
    const int error = next->second;
    failNext_.erase(next);
    return error;
  }
  if (const auto always = failAlways_.find(op); always != failAlways_.end()) {
    return always->second;
  }
  return std::nullopt;
}

int FakeSocketApi::Fail(int error) {
  lastError_ = error;
  return kSocketError;
}

void FakeSocketApi::Record(const std::string& op, std::vector<std::int64_t> args,
                           std::string text) {
  calls_.push_back(Call{op, std::move(args), std::move(text)});
}

int FakeSocketApi::CountOf(const std::string& op) const {
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [&](const Call& call) { return call.name == op; }));
}

std::vector<std::string> FakeSocketApi::LookedUpNames() const {
  std::vector<std::string> names;
  for (const Call& call : calls_) {
    if (call.name == "asyncgethostbyname") names.push_back(call.text);
  }
  return names;
}

void FakeSocketApi::Deliver(const std::string& bytes, const std::string& fromIp,
                            std::uint16_t fromPort) {
  incoming_[lastSelected_].push_back(
      Incoming{bytes, ::inet_addr(fromIp.c_str()), qToBigEndian(fromPort)});
  const auto selection = selections_.find(lastSelected_);
  if (selection == selections_.end() || selection->second.window == nullptr) return;
  selection->second.window->Post(selection->second.message,
                                 static_cast<std::uintptr_t>(lastSelected_),
                                 static_cast<std::intptr_t>(kFdRead));
}

void FakeSocketApi::SetHostAddress(const std::string& name, const std::string& dottedAddress) {
  hosts_[name] = HostAnswer{0, {::inet_addr(dottedAddress.c_str())}};
}

void FakeSocketApi::SetHostFailure(const std::string& name, int error) {
  hosts_[name] = HostAnswer{error, {}};
}

void FakeSocketApi::SetHostWithoutAddresses(const std::string& name) {
  hosts_[name] = HostAnswer{0, {}};
}

void FakeSocketApi::HoldLookups(bool hold) { holdLookups_ = hold; }

void FakeSocketApi::CompleteHeldLookups() {
  std::vector<Lookup> lookups = std::exchange(heldLookups_, {});
  for (const Lookup& lookup : lookups) Answer(lookup);
}

void FakeSocketApi::Answer(const Lookup& lookup) {
  // The owner frees the entry buffer together with its window.
  if (lookup.window == nullptr) return;
  if (lookup.answer.error == 0) {
    const std::size_t capacity =
        static_cast<std::size_t>(lookup.bufferLength - kHostEntryAddressOffset) / 4;
    const std::size_t count = std::min(capacity, lookup.answer.addresses.size());
    const HostEntryHeader header{static_cast<std::uint32_t>(count)};
    std::memcpy(lookup.hostEntry, &header, sizeof header);
    if (count > 0) {
      std::memcpy(lookup.hostEntry + kHostEntryAddressOffset, lookup.answer.addresses.data(),
                  4 * count);
    }
  }
  lookup.window->Post(lookup.message, 0, LookupCompletionParam(lookup.answer.error));
}

int FakeSocketApi::Startup(std::uint16_t version) {
  Record("startup", {version});
  if (const auto error = TakeFailure("startup")) {
    lastError_ = *error;
    return *error != 0 ? *error : kWsaSysNotReady;
  }
  ++startups_;
  return 0;
}

void FakeSocketApi::Cleanup() {
  Record("cleanup", {});
  if (const auto error = TakeFailure("cleanup")) {
    Fail(*error);
    return;
  }
  if (startups_ == 0) {
    Fail(kWsaNotInitialised);
    return;
  }
  --startups_;
}

SocketHandle FakeSocketApi::Socket(int af, int type, int protocol) {
  Record("socket", {af, type, protocol});
  if (const auto error = TakeFailure("socket")) return Fail(*error);
  if (af != kAfInet) return Fail(kWsaEAfNoSupport);
  if (type != kSockDgram) return Fail(kWsaESocktNoSupport);
  lastSocket_ = nextSocket_++;
  open_.insert(lastSocket_);
  return lastSocket_;
}

int FakeSocketApi::SetSockOpt(SocketHandle handle, int level, int name, const char* value,
                              int length) {
  std::int32_t option = 0;
  if (value != nullptr && length >= 4) std::memcpy(&option, value, sizeof option);
  Record("setsockopt", {handle, level, name, option, length});
  if (const auto error = TakeFailure("setsockopt")) return Fail(*error);
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  return 0;
}

int FakeSocketApi::Bind(SocketHandle handle, const SockAddrIn& address) {
  const std::uint16_t port = qFromBigEndian(address.port);
  Record("bind", {handle, address.family, port, address.address});
  if (const auto error = TakeFailure("bind")) return Fail(*error);
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  if (boundPorts_.count(handle) != 0) return Fail(kWsaEInval);
  boundPorts_[handle] = port != 0 ? port : nextPort_++;
  return 0;
}

int FakeSocketApi::CloseSocket(SocketHandle handle) {
  Record("closesocket", {handle});
  if (const auto error = TakeFailure("closesocket")) return Fail(*error);
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  open_.erase(handle);
  boundPorts_.erase(handle);
  incoming_.erase(handle);
  selections_.erase(handle);
  return 0;
}

int FakeSocketApi::SendTo(SocketHandle handle, const char* data, int length, int flags,
                          const SockAddrIn& to) {
  const std::uint16_t port = qFromBigEndian(to.port);
  Record("sendto", {handle, length, flags, to.address, port});
  if (const auto error = TakeFailure("sendto")) return Fail(*error);
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  if (length < 0) return Fail(kWsaEFault);
  sent_.push_back(SentDatagram{handle, std::string(data, static_cast<std::size_t>(length)),
                               DottedText(to.address), port});
  return length;
}

int FakeSocketApi::RecvFrom(SocketHandle handle, char* buffer, int length, int flags,
                            SockAddrIn& from) {
  Record("recvfrom", {handle, length, flags});
  if (const auto error = TakeFailure("recvfrom")) return Fail(*error);
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  auto& queue = incoming_[handle];
  if (queue.empty()) return Fail(kWsaEWouldBlock);
  const Incoming datagram = std::move(queue.front());
  queue.pop_front();
  from.family = kAfInet;
  from.port = datagram.port;
  from.address = datagram.address;
  const std::size_t fits = std::min(datagram.bytes.size(), static_cast<std::size_t>(length));
  std::memcpy(buffer, datagram.bytes.data(), fits);
  if (fits < datagram.bytes.size()) return Fail(kWsaEMsgSize);
  return static_cast<int>(fits);
}

int FakeSocketApi::AsyncSelect(SocketHandle handle, NotifyWindow& window, std::uint32_t message,
                               long events) {
  Record("asyncselect", {handle, message, events});
  if (const auto error = TakeFailure("asyncselect")) return Fail(*error);
  if (!IsOpen(handle)) return Fail(kWsaENotSock);
  selections_[handle] = Selection{&window, message};
  lastSelected_ = handle;
  return 0;
}

void FakeSocketApi::AsyncGetHostByName(NotifyWindow& window, std::uint32_t message,
                                       const char* name, char* hostEntry, int bufferLength) {
  const std::string text = name != nullptr ? name : "";
  Record("asyncgethostbyname", {message, bufferLength}, text);
  Lookup lookup{&window, message, hostEntry, bufferLength, HostAnswer{kWsaHostNotFound, {}}};
  if (const auto error = TakeFailure("asyncgethostbyname")) {
    lookup.answer = HostAnswer{*error, {}};
  } else if (const auto host = hosts_.find(text); host != hosts_.end()) {
    lookup.answer = host->second;
  }
  if (holdLookups_) {
    heldLookups_.push_back(std::move(lookup));
  } else {
    Answer(lookup);
  }
}

std::uint32_t FakeSocketApi::InetAddr(const char* text) {
  Record("inet_addr", {}, text != nullptr ? text : "");
  return text != nullptr ? ::inet_addr(text) : kInaddrNone;
}

int FakeSocketApi::GetLastError() {
  Record("getlasterror", {});
  return lastError_;
}

std::uint16_t FakeSocketApi::LocalPortOf(SocketHandle handle) {
  Record("localportof", {handle});
  const auto bound = boundPorts_.find(handle);
  return bound != boundPorts_.end() ? bound->second : 0;
}
