#include <gtest/gtest.h>

#include <QHostAddress>
#include <QUdpSocket>
#include <QtEndian>
#include <cerrno>
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

  PosixSocketApi api;
  QUdpSocket peer;
  std::vector<std::pair<std::uintptr_t, std::intptr_t>> notifications;  // wParam, lParam
  NotifyWindow window{[this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message == kNotifyMessage) notifications.emplace_back(wParam, lParam);
  }};
};

TEST_F(PosixApi, OversizedDatagramFailsButIsTakenOffWithItsSender) {
  const SocketHandle handle = BoundSocket();
  ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 0));
  FromPeer(QByteArray(3000, 'a'), handle);
  FromPeer("tail", handle);
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
  EXPECT_EQ(api.RecvFrom(handle, buffer.data(), 2048, 0, from), 4);
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
