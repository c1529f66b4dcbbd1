#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>
#include <cerrno>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "net/notify_window.h"
#include "net/posix_socket_api.h"
#include "tests/net/wait_until.h"

namespace {

// Every entry of the table, with the classic numbers written out, so that a swapped entry or a
// wrong constant shows; errno values without an entry keep their own number above the base.
TEST(PosixErrorNumbers, ErrnoValuesMapToClassicNumbers) {
  const std::pair<int, int> table[] = {{EINTR, 10004},           {EACCES, 10013},
                                       {EPERM, 10013},           {EFAULT, 10014},
                                       {EINVAL, 10022},          {EMFILE, 10024},
                                       {ENFILE, 10024},          {EWOULDBLOCK, 10035},
                                       {EAGAIN, 10035},          {EINPROGRESS, 10036},
                                       {EALREADY, 10037},        {ENOTSOCK, 10038},
                                       {EBADF, 10038},           {EDESTADDRREQ, 10039},
                                       {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
                                       {ENOPROTOOPT, 10042},     {EPROTONOSUPPORT, 10043},
                                       {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},
                                       {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},
                                       {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},
                                       {ENETDOWN, 10050},        {ENETUNREACH, 10051},
                                       {ENETRESET, 10052},       {ECONNABORTED, 10053},
                                       {ECONNRESET, 10054},      {ENOBUFS, 10055},
                                       {ENOMEM, 10055},          {EISCONN, 10056},
                                       {ENOTCONN, 10057},        {ETIMEDOUT, 10060},
                                       {ECONNREFUSED, 10061},    {EHOSTDOWN, 10064},
                                       {EHOSTUNREACH, 10065},    {EIO, 15000 + EIO},
                                       {ENOSPC, 15000 + ENOSPC}, {0, 15000}};
  for (const auto& [errnoValue, number] : table) {
    EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(errnoValue), number) << "errno " << errnoValue;
  }
}

// Each conversion answers for its own text, also right after another text or the same one.
TEST(PosixAddressText, EachTextConvertsToItsOwnAddress) {
  PosixSocketApi api;
  const std::pair<const char*, std::uint32_t> table[] = {{"127.0.0.1", qToBigEndian(0x7F000001u)},
                                                         {"127.0.0.1", qToBigEndian(0x7F000001u)},
                                                         {"10.0.0.2", qToBigEndian(0x0A000002u)},
                                                         {"127.1", qToBigEndian(0x7F000001u)},
                                                         {"plc.test", kInaddrNone},
                                                         {"255.255.255.255", kInaddrNone},
                                                         {"0.0.0.0", 0},
                                                         {"127.0.0.1", qToBigEndian(0x7F000001u)}};
  for (const auto& [text, address] : table) EXPECT_EQ(api.InetAddr(text), address) << text;
  EXPECT_EQ(api.InetAddr(nullptr), kInaddrNone);
}

class PosixApi : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(api.Startup(kWinsockVersion), 0); }

  SocketHandle BoundSocket() {
    const SocketHandle handle = api.Socket(kAfInet, kSockDgram, 0);
    SockAddrIn local;
    local.family = kAfInet;
    local.address = api.InetAddr("127.0.0.1");
    EXPECT_EQ(api.Bind(handle, local), 0);
    return handle;
  }
  void FromPeer(const QByteArray& bytes, SocketHandle handle) {
    ASSERT_EQ(peer.writeDatagram(bytes, QHostAddress::LocalHost, api.LocalPortOf(handle)),
              bytes.size());
  }

  std::string Received(SocketHandle handle) {
    char buffer[64];
    SockAddrIn from;
    const int length = api.RecvFrom(handle, buffer, sizeof buffer, 0, from);
    return length < 0 ? "error " + std::to_string(api.GetLastError()) : std::string(buffer, length);
  }
  // Lets the loop run for a while; false, since nothing ends it early.
  bool MoreNotificationsWithin(std::size_t count, int ms) {
    return WaitUntil([&] { return notifications.size() > count; }, ms);
  }

  PosixSocketApi api;
  QUdpSocket peer;
  std::vector<std::pair<std::uintptr_t, std::intptr_t>> notifications;  // wParam, lParam
  std::function<void(SocketHandle)> onNotify;                           // runs after recording
  NotifyWindow window{[this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message != kNotifyMessage) return;
    notifications.emplace_back(wParam, lParam);
    if (onNotify) onNotify(static_cast<SocketHandle>(wParam));
  }};
};

// Read straight or after its notification, a datagram too long for the caller is gone, the
// call fails, and the sender is still known.
TEST_F(PosixApi, OversizedDatagramFailsButIsTakenOffWithItsSender) {
  for (const bool watched : {false, true}) {
    SCOPED_TRACE(watched ? "announced first" : "read straight");
    notifications.clear();
    const SocketHandle handle = BoundSocket();
    if (watched) api.AsyncSelect(handle, window, kNotifyMessage, kFdRead);
    if (!peer.isValid()) {
      ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 0));
    }
    FromPeer(QByteArray(3000, 'a'), handle);
    FromPeer("tail", handle);
    if (watched) {
      ASSERT_TRUE(WaitUntil([&] { return notifications.size() == 1; }));
    }
    std::vector<char> buffer(2048);
    SockAddrIn from;
    int result = kSocketError;
    ASSERT_TRUE(WaitUntil([&] {
      result = api.RecvFrom(handle, buffer.data(), 2048, 0, from);
      return result != kSocketError || api.GetLastError() != kWsaEWouldBlock;
    }));
    EXPECT_EQ(result, kSocketError);
    EXPECT_EQ(api.GetLastError(), kWsaEMsgSize);
    EXPECT_EQ(qFromBigEndian(from.port), peer.localPort());
    EXPECT_EQ(from.address, api.InetAddr("127.0.0.1"));
    EXPECT_EQ(std::string(buffer.data(), 4), "aaaa");
    if (watched) {
      ASSERT_TRUE(WaitUntil([&] { return notifications.size() == 2; }));
    }
    EXPECT_EQ(Received(handle), "tail");
    api.CloseSocket(handle);
  }
}

TEST_F(PosixApi, WaitingDatagramsAreAnnouncedOneEach) {
  const SocketHandle handle = BoundSocket();
  api.AsyncSelect(handle, window, kNotifyMessage, kFdRead);
  api.AsyncSelect(handle, window, kNotifyMessage, kFdRead);  // asking twice changes nothing
  FromPeer("a", handle);
  FromPeer("bb", handle);
  ASSERT_TRUE(WaitUntil([&] { return notifications.size() == 1; }));
  EXPECT_EQ(notifications[0].first, static_cast<std::uintptr_t>(handle));
  EXPECT_EQ(notifications[0].second & 0xFFFF, kFdRead);
  char buffer[8];
  SockAddrIn from;
  EXPECT_EQ(api.RecvFrom(handle, buffer, 8, 0, from), 1);
  ASSERT_TRUE(WaitUntil([&] { return notifications.size() == 2; }));
  EXPECT_EQ(api.RecvFrom(handle, buffer, 8, 0, from), 2);
}

// An announced datagram waits for the next receive and is not announced again meanwhile, not
// even when the notifications are asked for again; the receive re-arms them.
TEST_F(PosixApi, AnnouncedDatagramIsHeldForTheNextReceiveAndAnnouncedOnce) {
  const SocketHandle handle = BoundSocket();
  ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 0));
  api.AsyncSelect(handle, window, kNotifyMessage, kFdRead);
  FromPeer("held", handle);
  FromPeer("next", handle);
  ASSERT_TRUE(WaitUntil([&] { return notifications.size() == 1; }));
  EXPECT_FALSE(MoreNotificationsWithin(1, 100));
  api.AsyncSelect(handle, window, kNotifyMessage, kFdRead);
  EXPECT_FALSE(MoreNotificationsWithin(1, 50));
  char buffer[8];
  SockAddrIn from;
  EXPECT_EQ(api.RecvFrom(handle, buffer, 8, 0, from), 4);
  EXPECT_EQ(std::string(buffer, 4), "held");
  EXPECT_EQ(qFromBigEndian(from.port), peer.localPort());
  EXPECT_EQ(from.address, api.InetAddr("127.0.0.1"));
  ASSERT_TRUE(WaitUntil([&] { return notifications.size() == 2; }));
  EXPECT_EQ(Received(handle), "next");
  EXPECT_EQ(Received(handle), "error " + std::to_string(kWsaEWouldBlock));
}

// What a handler may do to its own socket while its notification runs: stop the notifications
// (the announced datagram stays for a receive, the next one is not announced) or close it.
TEST_F(PosixApi, HandlerStoppingOrClosingItsSocketEndsItsNotifications) {
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "closed" : "stopped");
    notifications.clear();
    const SocketHandle handle = BoundSocket();
    if (!peer.isValid()) {
      ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 0));
    }
    api.AsyncSelect(handle, window, kNotifyMessage, kFdRead);
    onNotify = [&](SocketHandle h) {
      if (close) {
        EXPECT_EQ(api.CloseSocket(h), 0);
      } else {
        api.AsyncSelect(h, window, kNotifyMessage, 0);
      }
    };
    FromPeer("first", handle);
    FromPeer("second", handle);
    ASSERT_TRUE(WaitUntil([&] { return notifications.size() == 1; }));
    EXPECT_FALSE(MoreNotificationsWithin(1, 100));
    onNotify = nullptr;
    if (!close) {
      EXPECT_EQ(Received(handle), "first");
      EXPECT_EQ(Received(handle), "second");
      api.CloseSocket(handle);
    }
  }
}

// A queued call takes the datagram, straight or inside a nested dispatch (which announces it
// there), in the pass that has just found it waiting: the activation of that pass is stale by
// then and must announce nothing, neither a second notification nor a failed receive.
TEST_F(PosixApi, ActivationMadeStaleByEarlierReceiveAnnouncesNothing) {
  for (const bool nested : {false, true}) {
    SCOPED_TRACE(nested ? "nested" : "straight");
    notifications.clear();
    const SocketHandle handle = BoundSocket();
    if (!peer.isValid()) {
      ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 0));
    }
    api.AsyncSelect(handle, window, kNotifyMessage, kFdRead);
    std::string taken;
    QObject context;
    FromPeer("once", handle);
    QMetaObject::invokeMethod(
        &context,
        [&] {
          QTimer bound;
          bound.setSingleShot(true);
          bound.start(2000);
          while (nested && notifications.empty() && bound.isActive()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
          }
          taken = Received(handle);
        },
        Qt::QueuedConnection);
    ASSERT_TRUE(WaitUntil([&] { return !taken.empty(); }));
    EXPECT_EQ(taken, "once");
    EXPECT_FALSE(MoreNotificationsWithin(nested ? 1 : 0, 100));
    EXPECT_EQ(notifications.size(), nested ? 1u : 0u);
    api.CloseSocket(handle);
  }
}

TEST_F(PosixApi, RefusedLookupStillCompletesAsFailure) {
  char entry[1024];
  api.AsyncGetHostByName(window, kNotifyMessage, "", entry, sizeof entry);
  ASSERT_TRUE(WaitUntil([&] { return notifications.size() == 1; }));
  EXPECT_EQ(notifications[0].second, LookupCompletionParam(kWsaHostNotFound));
}

TEST(PosixApiUses, SocketsNeedStartupAndLastCleanupClosesThem) {
  PosixSocketApi api;
  EXPECT_EQ(api.Socket(kAfInet, kSockDgram, 0), kInvalidSocket);
  EXPECT_EQ(api.GetLastError(), kWsaNotInitialised);
  ASSERT_EQ(api.Startup(kWinsockVersion), 0);
  ASSERT_EQ(api.Startup(kWinsockVersion), 0);
  const SocketHandle handle = api.Socket(kAfInet, kSockDgram, 0);
  ASSERT_NE(handle, kInvalidSocket);
  api.Cleanup();
  SockAddrIn local;
  local.family = kAfInet;
  EXPECT_EQ(api.Bind(handle, local), 0);  // one use is left
  api.Cleanup();
  EXPECT_EQ(api.CloseSocket(handle), kSocketError);
  EXPECT_EQ(api.GetLastError(), kWsaENotSock);
}

}  // namespace
