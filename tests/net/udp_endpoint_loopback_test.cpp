#include <gtest/gtest.h>

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "net/posix_socket_api.h"
#include "net/udp_endpoint.h"
#include "tests/net/wait_until.h"

namespace {

struct Received {
  std::int32_t NumberBytes;
  std::string FromIP;
  std::int32_t Port;
};

const std::string kCommand = "RDS DM00100 8\r\n";

// An endpoint loaded like the main window's, talking to a peer socket on loopback.
class EndpointOverLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    endpoint = std::make_unique<TUDPEndpoint>(api);
    endpoint->LoadStoredProperties();
    endpoint->OnDataReceived = [this](TUDPEndpoint&, std::int32_t n, const std::string& ip,
                                      std::int32_t port) {
      received.push_back({n, ip, port});
    };
    endpoint->BindLocal();
    ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 0));
    endpoint->SetRemoteHost("127.0.0.1");
    endpoint->SetRemotePort(peer.localPort());
  }

  void SendCommand(std::int32_t length = 15) {
    std::array<char, 8192> buffer{};
    kCommand.copy(buffer.data(), kCommand.size());
    endpoint->SendDatagram(buffer, length);
  }

  QNetworkDatagram NextAtPeer(QUdpSocket& socket) {
    if (!WaitUntil([&] { return socket.hasPendingDatagrams(); })) return {};
    return socket.receiveDatagram();
  }

  // Sends a marker properly; the first datagram at the peer must be it, so nothing came before.
  void ExpectNothingSentBeforeMarker() {
    endpoint->SetRemoteHost("127.0.0.1");
    endpoint->SetRemotePort(peer.localPort());
    endpoint->SendDatagram(std::string_view("marker"), 6);
    EXPECT_EQ(NextAtPeer(peer).data(), QByteArray("marker"));
  }

  void ToEndpoint(const QByteArray& bytes) {
    ASSERT_EQ(peer.writeDatagram(bytes, QHostAddress::LocalHost, endpoint->BoundPort()),
              bytes.size());
  }

  PosixSocketApi api;
  std::unique_ptr<TUDPEndpoint> endpoint;
  QUdpSocket peer;
  std::vector<Received> received;
};

TEST_F(EndpointOverLoopback, LoadSequenceBindsPortChosenBySystem) {
  EXPECT_EQ(endpoint->LocalPort(), 0);
  EXPECT_NE(endpoint->BoundPort(), 0);
}

TEST_F(EndpointOverLoopback, CommandArrivesWholeFromBoundPort) {
  SendCommand();
  const QNetworkDatagram datagram = NextAtPeer(peer);
  EXPECT_EQ(datagram.data().toStdString(), kCommand);
  EXPECT_EQ(datagram.senderAddress(), QHostAddress(QHostAddress::LocalHost));
  EXPECT_EQ(datagram.senderPort(), endpoint->BoundPort());
  EXPECT_EQ(endpoint->RemoteAddressText(), "127.0.0.1");
}

TEST_F(EndpointOverLoopback, DatagramRaisesOneEventAndReadsTheSameTwice) {
  ToEndpoint("00012,00034\r\n");
  ASSERT_TRUE(WaitUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(received[0].NumberBytes, 13);
  EXPECT_EQ(received[0].FromIP, "127.0.0.1");
  EXPECT_EQ(received[0].Port, peer.localPort());
  for (int read = 0; read < 2; ++read) {
    std::array<char, 2048> buffer{};
    std::int32_t length = 99;
    endpoint->ReadDatagram(buffer, length);
    EXPECT_EQ(length, 13);
    EXPECT_EQ(std::string(buffer.data(), 13), "00012,00034\r\n");
  }
  // Asking for notifications twice while loading must not announce a datagram twice.
  ToEndpoint("next");
  ASSERT_TRUE(WaitUntil([&] { return received.size() >= 2; }));
  EXPECT_EQ(received[1].NumberBytes, 4);
}

TEST_F(EndpointOverLoopback, TwoDatagramsRaiseTwoEventsInOrder) {
  ToEndpoint("one");
  ToEndpoint("three");
  ASSERT_TRUE(WaitUntil([&] { return received.size() >= 2; }));
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].NumberBytes, 3);
  EXPECT_EQ(received[1].NumberBytes, 5);
}

TEST_F(EndpointOverLoopback, EmptyDatagramReadsAsZeroBytes) {
  ToEndpoint(QByteArray());
  ASSERT_TRUE(WaitUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(received[0].NumberBytes, 0);
  std::array<char, 4> buffer{'x', 'x', 'x', 'x'};
  std::int32_t length = 99;
  endpoint->ReadDatagram(buffer, length);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer[0], 'x');
}

TEST_F(EndpointOverLoopback, DatagramOverBufferSizeFailsAndCopiesNothing) {
  ToEndpoint(QByteArray(3000, 'a'));
  ASSERT_TRUE(WaitUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(received[0].NumberBytes, -1);
  std::array<char, 4096> buffer{};
  std::int32_t length = 99;
  endpoint->ReadDatagram(buffer, length);
  EXPECT_EQ(length, -1);
  EXPECT_EQ(buffer[0], '\0');
  // The oversized datagram is gone: the next one reads normally.
  ToEndpoint("ok");
  ASSERT_TRUE(WaitUntil([&] { return received.size() == 2; }));
  EXPECT_EQ(received[1].NumberBytes, 2);
}

TEST_F(EndpointOverLoopback, ReadDatagramNeverWritesBeyondCallersArray) {
  ToEndpoint(QByteArray(100, 'z'));
  ASSERT_TRUE(WaitUntil([&] { return received.size() == 1; }));
  std::array<char, 16> storage{};
  std::int32_t length = 0;
  endpoint->ReadDatagram(std::span<char>(storage.data(), 8), length);
  EXPECT_EQ(length, 100);
  EXPECT_EQ(std::string(storage.data(), 8), std::string(8, 'z'));
  EXPECT_EQ(storage[8], '\0');
}

TEST_F(EndpointOverLoopback, ReadDatagramBeforeAnyYieldsZero) {
  std::array<char, 8> buffer{};
  std::int32_t length = 99;
  endpoint->ReadDatagram(buffer, length);
  EXPECT_EQ(length, 0);
}

TEST_F(EndpointOverLoopback, RemotePortUsesItsLowSixteenBits) {
  QUdpSocket port4464;
  if (!port4464.bind(QHostAddress::LocalHost, 4464)) GTEST_SKIP() << "port 4464 is busy";
  endpoint->SetRemotePort(70000);
  SendCommand();
  EXPECT_EQ(NextAtPeer(port4464).data().toStdString(), kCommand);
}

TEST_F(EndpointOverLoopback, NullRemoteAddressIsRefusedBeforeSending) {
  std::vector<std::string> statuses;
  endpoint->SetReportLevel(16);
  endpoint->OnStatus = [&](TUDPEndpoint&, const std::string& s) { statuses.push_back(s); };
  endpoint->SetRemoteHost("0.0.0.0");
  try {
    SendCommand();
    ADD_FAILURE() << "no error";
  } catch (const UDPSockError& error) {
    EXPECT_STREQ(error.what(), "Null Remote Address");
  }
  EXPECT_TRUE(statuses.empty());
  ExpectNothingSentBeforeMarker();
}

TEST_F(EndpointOverLoopback, ZeroLengthWithoutRepairIsInvalidBuffer) {
  std::vector<std::string> statuses;
  int sends = 0;
  endpoint->SetReportLevel(16);
  endpoint->OnStatus = [&](TUDPEndpoint&, const std::string& s) { statuses.push_back(s); };
  endpoint->OnDataSend = [&](TUDPEndpoint&) { ++sends; };
  try {
    SendCommand(0);
    ADD_FAILURE() << "no error";
  } catch (const UDPSockError&) {
    ADD_FAILURE() << "a socket error instead of the general one";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Invalid buffer");
  }
  EXPECT_TRUE(statuses.empty());
  EXPECT_EQ(sends, 0);
  endpoint->OnStatus = nullptr;
  ExpectNothingSentBeforeMarker();
}

TEST_F(EndpointOverLoopback, RepairedBufferIsSentAsTheHandlerLeftIt) {
  std::array<char, 32> original{};
  endpoint->OnBufferInvalid = [](bool& handled, std::span<char> buff, std::int32_t& length) {
    kCommand.copy(buff.data(), kCommand.size());
    length = 15;
    handled = true;
  };
  endpoint->SendDatagram(original, 0);
  EXPECT_EQ(NextAtPeer(peer).data().toStdString(), kCommand);
  EXPECT_EQ(original[0], '\0');  // the caller's array is not the working copy
}

TEST_F(EndpointOverLoopback, RepairLeavingZeroLengthIsOfferedOnce) {
  int offers = 0;
  endpoint->OnBufferInvalid = [&](bool& handled, std::span<char>, std::int32_t&) {
    ++offers;
    handled = true;
  };
  EXPECT_THROW(SendCommand(0), Exception);
  EXPECT_EQ(offers, 1);
  ExpectNothingSentBeforeMarker();
}

TEST_F(EndpointOverLoopback, LengthOutsideTheArrayIsNotSent) {
  const std::array<char, 4> small{'a', 'b', 'c', 'd'};
  EXPECT_NO_THROW(endpoint->SendDatagram(small, 5000));
  EXPECT_NO_THROW(endpoint->SendDatagram(small, -1));
  ExpectNothingSentBeforeMarker();
}

TEST_F(EndpointOverLoopback, LocalhostIsLookedUpAndReached) {
  endpoint->SetRemoteHost("localhost");
  SendCommand();
  EXPECT_EQ(NextAtPeer(peer).data().toStdString(), kCommand);
  EXPECT_EQ(endpoint->RemoteAddressText(), "127.0.0.1");
}

}  // namespace
