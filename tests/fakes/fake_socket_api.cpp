#include "tests/fakes/fake_socket_api.h"

#include <arpa/inet.h>

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <utility>

bool FakeSocketApi::Enter(const std::string& op, std::vector<std::int64_t> args, std::string text) {
  calls_.push_back(Call{op, std::move(args), std::move(text)});
  const auto failure = failNext_.find(op);
  if (failure == failNext_.end()) return false;
  lastError_ = failure->second;
  failNext_.erase(failure);
  return true;
}

int FakeSocketApi::CountOf(const std::string& op) const {
  return static_cast<int>(
      std::count_if(calls_.begin(), calls_.end(), [&](const Call& c) { return c.name == op; }));
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
  SockAddrIn from;
  from.family = kAfInet;
  from.port = qToBigEndian(fromPort);
  from.address = ::inet_addr(fromIp.c_str());
  incoming_[selected_].emplace_back(bytes, from);
  if (selectedWindow_ != nullptr) {
    selectedWindow_->Post(selectedMessage_, static_cast<std::uintptr_t>(selected_), kFdRead);
  }
}

bool FakeSocketApi::DeliverTo(std::uint16_t port, const std::string& bytes,
                              const std::string& fromIp, std::uint16_t fromPort) {
  const auto bound = std::find_if(boundPorts_.begin(), boundPorts_.end(),
                                  [&](const auto& entry) { return entry.second == port; });
  if (bound == boundPorts_.end() || !IsOpen(bound->first)) return false;
  SockAddrIn from;
  from.family = kAfInet;
  from.port = qToBigEndian(fromPort);
  from.address = ::inet_addr(fromIp.c_str());
  incoming_[bound->first].emplace_back(bytes, from);
  if (bound->first == selected_ && selectedWindow_ != nullptr) {
    selectedWindow_->Post(selectedMessage_, static_cast<std::uintptr_t>(selected_), kFdRead);
  }
  return true;
}

void FakeSocketApi::SetHostAddress(const std::string& name, const std::string& dottedAddress) {
  hosts_[name] = {};
  if (!dottedAddress.empty()) hosts_[name].push_back(::inet_addr(dottedAddress.c_str()));
}

void FakeSocketApi::CompleteHeldLookups() {
  for (const Lookup& lookup : std::exchange(heldLookups_, {})) Answer(lookup);
}

void FakeSocketApi::Answer(const Lookup& lookup) {
  if (lookup.window == nullptr) return;  // the entry buffer went with its window
  const HostEntryHeader header{static_cast<std::uint32_t>(lookup.addresses.size())};
  std::memcpy(lookup.hostEntry, &header, sizeof header);
  for (const std::uint32_t address : lookup.addresses) {  // at most one: it fits
    std::memcpy(lookup.hostEntry + kHostEntryAddressOffset, &address, 4);
  }
  lookup.window->Post(lookup.message, 0, LookupCompletionParam(lookup.error));
}

int FakeSocketApi::Startup(std::uint16_t version) {
  if (Enter("startup", {version})) return lastError_ != 0 ? lastError_ : kWsaSysNotReady;
  ++startups_;
  return 0;
}

int FakeSocketApi::SetSockOpt(SocketHandle handle, int level, int name, const char* value,
                              int length) {
  std::int32_t option = 0;
  if (length >= 4) std::memcpy(&option, value, sizeof option);
  return Enter("setsockopt", {handle, level, name, option, length}) ? kSocketError : 0;
}

int FakeSocketApi::Bind(SocketHandle handle, const SockAddrIn& address) {
  const std::uint16_t port = qFromBigEndian(address.port);
  if (Enter("bind", {handle, address.family, port, address.address})) return kSocketError;
  if (boundPorts_.count(handle) != 0) return 0;  // a second bind changes nothing
  std::uint16_t chosen = port;
  if (chosen == 0 && !handOut_.empty()) {
    chosen = handOut_.front();
    handOut_.pop_front();
  } else if (chosen == 0) {
    chosen = nextPort_++;
  }
  boundPorts_.emplace(handle, chosen);
  return 0;
}

int FakeSocketApi::CloseSocket(SocketHandle handle) {
  if (Enter("closesocket", {handle})) return kSocketError;
  open_.erase(handle);
  boundPorts_.erase(handle);
  incoming_.erase(handle);
  if (selected_ == handle) selectedWindow_ = nullptr;
  return 0;
}

int FakeSocketApi::SendTo(SocketHandle handle, const char* data, int length, int flags,
                          const SockAddrIn& to) {
  const std::uint16_t port = qFromBigEndian(to.port);
  if (Enter("sendto", {handle, length, flags, to.address, port})) return kSocketError;
  if (!IsOpen(handle)) {
    lastError_ = kWsaENotSock;
    return kSocketError;
  }
  in_addr address{};
  address.s_addr = to.address;
  sent_.push_back(SentDatagram{std::string(data, static_cast<std::size_t>(length)),
                               ::inet_ntoa(address), port, LocalPortOf(handle)});
  return length;
}

int FakeSocketApi::RecvFrom(SocketHandle handle, char* buffer, int length, int flags,
                            SockAddrIn& from) {
  if (Enter("recvfrom", {handle, length, flags})) return kSocketError;
  auto& queue = incoming_[handle];
  if (queue.empty()) {
    lastError_ = kWsaEWouldBlock;
    return kSocketError;
  }
  const std::string bytes = std::move(queue.front().first);
  from = queue.front().second;
  queue.pop_front();
  const std::size_t fits = std::min(bytes.size(), static_cast<std::size_t>(length));
  std::memcpy(buffer, bytes.data(), fits);
  if (fits == bytes.size()) return static_cast<int>(fits);
  lastError_ = kWsaEMsgSize;
  return kSocketError;
}

int FakeSocketApi::AsyncSelect(SocketHandle handle, NotifyWindow& window, std::uint32_t message,
                               long events) {
  if (Enter("asyncselect", {handle, message, events})) return kSocketError;
  selectedWindow_ = &window;
  selectedMessage_ = message;
  selected_ = handle;
  return 0;
}

void FakeSocketApi::AsyncGetHostByName(NotifyWindow& window, std::uint32_t message,
                                       const char* name, char* hostEntry, int bufferLength) {
  const std::string text = name != nullptr ? name : "";
  Lookup lookup{&window, message, hostEntry, kWsaHostNotFound, {}};
  if (Enter("asyncgethostbyname", {message, bufferLength}, text)) {
    lookup.error = lastError_;
  } else if (const auto host = hosts_.find(text); host != hosts_.end()) {
    lookup.error = 0;
    lookup.addresses = host->second;
  }
  if (holdLookups_) {
    heldLookups_.push_back(std::move(lookup));
  } else {
    Answer(lookup);
  }
}
