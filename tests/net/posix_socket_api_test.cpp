#include <gtest/gtest.h>

#include <QHostAddress>
#include <QUdpSocket>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <vector>

#include "net/notify_window.h"
#include "net/posix_socket_api.h"
#include "tests/net/wait_until.h"

namespace {

struct Notification {
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};

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

  PosixSocketApi api;
  std::vector<Notification> notifications;
  NotifyWindow window{[this](std::uint32_t m, std::uintptr_t w, std::intptr_t l) {
    notifications.push_back({m, w, l});
  }};
};

TEST(PosixErrorNumbers, ErrnoValuesMapToClassicNumbers) {
  EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(EAFNOSUPPORT), 10047);
  EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(EAGAIN), 10035);
  EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(EACCES), 10013);
  EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(ENFILE), 10024);
  EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(ENOMEM), 10055);
  EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(EMSGSIZE), 10040);
  EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(EBADF), 10038);
  EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(EHOSTUNREACH), 10065);
  EXPECT_EQ(PosixSocketApi::ErrorNumberFromErrno(EIO), PosixSocketApi::kUnmappedErrnoBase + EIO);
}

TEST_F(PosixApi, InetAddrTakesOnlyDottedText) {
  const std::uint32_t address = api.InetAddr("127.0.0.1");
  unsigned char bytes[4];
  std::memcpy(bytes, &address, 4);
  EXPECT_EQ(bytes[0], 127);
  EXPECT_EQ(bytes[3], 1);
  EXPECT_EQ(api.InetAddr("255.255.255.255"), kInaddrNone);
  EXPECT_EQ(api.InetAddr("localhost"), kInaddrNone);
  EXPECT_EQ(api.InetAddr("0.0.0.0"), 0u);
}

TEST_F(PosixApi, OversizedDatagramFailsButIsTakenOffWithItsSender) {
  const SocketHandle handle = BoundSocket();
  QUdpSocket peer;
  ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 0));
  peer.writeDatagram(QByteArray(3000, 'a'), QHostAddress::LocalHost, api.LocalPortOf(handle));
  peer.writeDatagram(QByteArray("tail"), QHostAddress::LocalHost, api.LocalPortOf(handle));
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
  api.AsyncSelect(handle, window, kNotifyMessage, kFdRead);
  QUdpSocket peer;
  peer.writeDatagram(QByteArray("a"), QHostAddress::LocalHost, api.LocalPortOf(handle));
  peer.writeDatagram(QByteArray("bb"), QHostAddress::LocalHost, api.LocalPortOf(handle));
  ASSERT_TRUE(WaitUntil([&] { return notifications.size() == 1; }));
  EXPECT_EQ(notifications[0].message, kNotifyMessage);
  EXPECT_EQ(notifications[0].wParam, static_cast<std::uintptr_t>(handle));
  EXPECT_EQ(notifications[0].lParam & 0xFFFF, kFdRead);
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
  EXPECT_NE(notifications[0].lParam & 0xFFFF, kFdRead);
  EXPECT_EQ((notifications[0].lParam >> 16) & 0xFFFF, kWsaHostNotFound);
}

TEST_F(PosixApi, LocalhostLookupFillsEntryWithLoopback) {
  char entry[1024] = {};
  api.AsyncGetHostByName(window, kNotifyMessage, "localhost", entry, sizeof entry);
  ASSERT_TRUE(WaitUntil([&] { return notifications.size() == 1; }));
  EXPECT_EQ(notifications[0].lParam, 0);
  HostEntryHeader header;
  std::memcpy(&header, entry, sizeof header);
  ASSERT_GE(header.addressCount, 1u);
  std::uint32_t first = 0;
  std::memcpy(&first, entry + kHostEntryAddressOffset, 4);
  EXPECT_EQ(first, api.InetAddr("127.0.0.1"));
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
