#include <gtest/gtest.h>

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "base/handler_guard.h"
#include "net/posix_socket_api.h"
#include "net/udp_endpoint.h"
#include "tests/net/wait_until.h"

namespace {

const std::string kCommand = "RDS DM00100 8\r\n";

// An endpoint loaded like the main window's, talking to a peer socket on loopback.
class EndpointOverLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 0));
    LoadEndpoint();
  }

  void LoadEndpoint() {
    endpoint = std::make_unique<TUDPEndpoint>(api);
    endpoint->LoadStoredProperties();
    endpoint->OnDataReceived = [this](TUDPEndpoint&, std::int32_t n, const std::string& ip,
                                      std::int32_t port) {
      received.push_back(std::to_string(n) + " from " + ip + ":" + std::to_string(port));
    };
    endpoint->BindLocal();
    endpoint->SetRemoteHost("127.0.0.1");
    endpoint->SetRemotePort(peer.localPort());
  }

  void SendCommand(std::int32_t length = 15) {
    std::array<char, 8192> buffer{};
    kCommand.copy(buffer.data(), kCommand.size());
    endpoint->SendDatagram(buffer, length);
  }
  void FromPeer(const QByteArray& bytes) {
    ASSERT_EQ(peer.writeDatagram(bytes, QHostAddress::LocalHost, endpoint->BoundPort()),
              bytes.size());
  }
  static QNetworkDatagram NextAt(QUdpSocket& socket) {
    if (!WaitUntil([&] { return socket.hasPendingDatagrams(); })) return {};
    return socket.receiveDatagram();
  }
  // Sends a marker properly; the first datagram at the peer must be it, so nothing came before.
  void ExpectNothingSentBeforeMarker() {
    endpoint->SetRemoteHost("127.0.0.1");
    endpoint->SetRemotePort(peer.localPort());
    endpoint->SendDatagram(std::string_view("marker"), 6);
    EXPECT_EQ(NextAt(peer).data(), QByteArray("marker"));
  }

  PosixSocketApi api;
  std::unique_ptr<TUDPEndpoint> endpoint;
  QUdpSocket peer;
  std::vector<std::string> received;  // "NumberBytes from FromIP:Port"
};

TEST_F(EndpointOverLoopback, CommandArrivesWholeFromPortChosenBySystem) {
  EXPECT_EQ(endpoint->LocalPort(), 0);
  SendCommand();
  const QNetworkDatagram datagram = NextAt(peer);
  EXPECT_EQ(datagram.data().toStdString(), kCommand);
  EXPECT_EQ(datagram.senderAddress(), QHostAddress(QHostAddress::LocalHost));
  EXPECT_NE(endpoint->BoundPort(), 0);
  EXPECT_EQ(datagram.senderPort(), endpoint->BoundPort());
  EXPECT_EQ(endpoint->RemoteAddressText(), "127.0.0.1");
}

// Each datagram raises one event; ReadDatagram then gives its bytes, as often as asked, and
// never writes beyond the caller's array.
TEST_F(EndpointOverLoopback, EachDatagramRaisesOneEventAndReadsTheSameBytes) {
  std::array<char, 24> storage{};
  std::int32_t length = 99;
  endpoint->ReadDatagram(storage, length);
  EXPECT_EQ(length, 0);  // nothing received yet
  const struct {
    QByteArray bytes;
    std::int32_t numberBytes;
  } cases[] = {{"00012,00034\r\n", 13},
               {QByteArray(), 0},
               {QByteArray(3000, 'a'), -1},  // over the receive buffer: nothing to read
               {QByteArray(100, 'z'), 100},
               {"next", 4}};
  const std::string from = " from 127.0.0.1:" + std::to_string(peer.localPort());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.numberBytes);
    const std::size_t before = received.size();
    ASSERT_EQ(peer.writeDatagram(c.bytes, QHostAddress::LocalHost, endpoint->BoundPort()),
              c.bytes.size());
    ASSERT_TRUE(WaitUntil([&] { return received.size() > before; }));
    EXPECT_EQ(received.size(), before + 1);
    EXPECT_EQ(received.back(), std::to_string(c.numberBytes) + from);
    const std::size_t copied = c.numberBytes > 0 ? std::min<std::size_t>(c.numberBytes, 16) : 0;
    for (int read = 0; read < 2; ++read) {
      storage.fill('x');
      length = 99;
      endpoint->ReadDatagram(std::span<char>(storage.data(), 16), length);
      EXPECT_EQ(length, c.numberBytes);
      EXPECT_EQ(std::string(storage.data(), copied),
                c.bytes.left(static_cast<qsizetype>(copied)).toStdString());
      EXPECT_EQ(std::string(storage.data() + copied, 24 - copied), std::string(24 - copied, 'x'));
    }
  }
  EXPECT_EQ(received.size(), std::size(cases));
}

TEST_F(EndpointOverLoopback, RemotePortUsesItsLowSixteenBits) {
  QUdpSocket port4464;
  if (!port4464.bind(QHostAddress::LocalHost, 4464)) GTEST_SKIP() << "port 4464 is busy";
  endpoint->SetRemotePort(70000);
  SendCommand();
  EXPECT_EQ(NextAt(port4464).data().toStdString(), kCommand);
}

TEST_F(EndpointOverLoopback, RefusedSendsRaiseNoEventAndSendNothing) {
  // host, length, whether an OnBufferInvalid says handled but leaves the length 0, error
  const std::tuple<std::string, std::int32_t, bool, std::string> cases[] = {
      {"0.0.0.0", 15, false, "Null Remote Address"},
      {"127.0.0.1", 0, false, "Invalid buffer"},
      {"127.0.0.1", 0, true, "Invalid buffer"}};
  for (const auto& [host, length, repairs, error] : cases) {
    SCOPED_TRACE(error + (repairs ? " after repair" : ""));
    std::vector<std::string> statuses;
    int events = 0;
    endpoint->SetReportLevel(16);
    endpoint->OnStatus = [&](TUDPEndpoint&, const std::string& s) { statuses.push_back(s); };
    endpoint->OnDataSend = [&](TUDPEndpoint&) { events += 100; };
    endpoint->OnBufferInvalid = nullptr;
    if (repairs) {
      endpoint->OnBufferInvalid = [&](bool& handled, std::span<char>, std::int32_t&) {
        ++events;
        handled = true;
      };
    }
    endpoint->SetRemoteHost(host);
    std::string what = "(no error)";
    bool socketError = false;
    try {
      SendCommand(length);
    } catch (const UDPSockError& thrown) {
      what = thrown.what();
      socketError = true;
    } catch (const Exception& thrown) {
      what = thrown.what();
    }
    EXPECT_EQ(what, error);
    EXPECT_EQ(socketError, length != 0);  // a bad buffer raises the general error
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(events, repairs ? 1 : 0);  // the repair is offered once, nothing is sent
    endpoint->OnStatus = nullptr;
    ExpectNothingSentBeforeMarker();
  }
}

TEST_F(EndpointOverLoopback, RepairedBufferIsSentAsTheHandlerLeftIt) {
  std::array<char, 32> original{};
  endpoint->OnBufferInvalid = [](bool& handled, std::span<char> buff, std::int32_t& length) {
    kCommand.copy(buff.data(), kCommand.size());
    length = 15;
    handled = true;
  };
  endpoint->SendDatagram(original, 0);
  EXPECT_EQ(NextAt(peer).data().toStdString(), kCommand);
  EXPECT_EQ(original[0], '\0');  // the caller's array is not the working copy
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
  EXPECT_EQ(NextAt(peer).data().toStdString(), kCommand);
  EXPECT_EQ(endpoint->RemoteAddressText(), "127.0.0.1");
}

// A reply handler that waits by dispatching, as the Stop and lookup waits do, gets the next
// datagram inside that wait, once, and nothing more after it.
TEST_F(EndpointOverLoopback, DatagramArrivingDuringNestedWaitIsDeliveredThereOnce) {
  int depth = 0;
  std::vector<std::string> events;  // "NumberBytes at depth"
  endpoint->OnDataReceived = [&](TUDPEndpoint&, std::int32_t n, const std::string&, std::int32_t) {
    events.push_back(std::to_string(n) + " at " + std::to_string(depth));
    if (events.size() > 1) return;
    ++depth;
    FromPeer("second");
    QTimer bound;
    bound.start(2000);  // wakes the wait should the datagram never come
    while (events.size() < 2 && bound.isActive()) HandlerGuard::DispatchPass();
    --depth;
  };
  FromPeer("first");
  ASSERT_TRUE(WaitUntil([&] { return events.size() == 2 && depth == 0; }));
  EXPECT_FALSE(WaitUntil([&] { return events.size() > 2; }, 100));
  EXPECT_EQ(events, (std::vector<std::string>{"5 at 0", "6 at 1"}));
}

// The error of a reply handler run by the main loop ends at the reporter; the next datagram is
// announced as usual.
TEST_F(EndpointOverLoopback, ErrorOfReplyHandlerReachesReporterAndReceivingGoesOn) {
  std::vector<std::string> reported;
  auto previous = HandlerGuard::SetReporter([&](const std::string& m) { reported.push_back(m); });
  std::vector<std::int32_t> sizes;
  endpoint->OnDataReceived = [&](TUDPEndpoint&, std::int32_t n, const std::string&, std::int32_t) {
    sizes.push_back(n);
    if (sizes.size() == 1) throw std::runtime_error("cannot create log");
  };
  FromPeer("one");
  ASSERT_TRUE(WaitUntil([&] { return !sizes.empty(); }));
  FromPeer("three");
  ASSERT_TRUE(WaitUntil([&] { return sizes.size() == 2; }));
  HandlerGuard::SetReporter(std::move(previous));
  EXPECT_EQ(reported, std::vector<std::string>{"cannot create log"});
  EXPECT_EQ(sizes, (std::vector<std::int32_t>{3, 5}));
}

// A datagram waiting on a socket that is replaced, or for an endpoint that is destroyed, is
// never announced.
TEST_F(EndpointOverLoopback, NothingIsAnnouncedAfterSocketOrEndpointIsGone) {
  for (const bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "endpoint destroyed" : "socket replaced");
    if (!endpoint) LoadEndpoint();
    auto events = std::make_shared<int>(0);
    endpoint->OnDataReceived = [events](TUDPEndpoint&, std::int32_t, const std::string&,
                                        std::int32_t) { ++*events; };
    FromPeer("late");
    if (destroy) {
      endpoint.reset();
    } else {
      endpoint->SetLocalPort(0);
    }
    EXPECT_FALSE(WaitUntil([&] { return *events > 0; }, 100));
  }
}

}  // namespace
