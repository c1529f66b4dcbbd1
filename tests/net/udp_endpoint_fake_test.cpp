#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/handler_guard.h"
#include "net/udp_endpoint.h"
#include "tests/fakes/fake_socket_api.h"
#include "tests/test_support.h"

namespace {

using Texts = std::vector<std::string>;
const std::string kCommand = "RDS DM00100 8\r\n";
const std::string kCanceled = "Host Lookup Canceled";

void DispatchPosted() { QCoreApplication::sendPostedEvents(); }

// An endpoint loaded like the main window's over a fake layer, recording its status and errors.
struct Rig {
  Rig() {
    endpoint = std::make_unique<TUDPEndpoint>(api);
    endpoint->LoadStoredProperties();
    endpoint->BindLocal();
    endpoint->OnStatus = [this](TUDPEndpoint&, const std::string& s) { statuses.push_back(s); };
    endpoint->OnError = [this](TUDPEndpoint&, std::uint16_t number, const std::string& text) {
      errors.push_back(std::to_string(number) + ":" + text);
    };
    endpoint->SetRemotePort(8501);
    // A held lookup is answered at the latest after this bound, so no wait can hang.
    QTimer::singleShot(5000, &watchdog, [this] { api.CompleteHeldLookups(); });
  }
  void Send() { endpoint->SendDatagram(kCommand, 15); }
  // Sends to a held lookup of "plc.test" while a reply is waiting whose handler throws.
  std::string SendWhileReplyHandlerThrows() {
    api.HoldLookups(true);
    endpoint->OnDataReceived = [](TUDPEndpoint&, std::int32_t, const std::string&, std::int32_t) {
      throw std::runtime_error("log file");
    };
    endpoint->SetRemoteHost("plc.test");
    api.Deliver("reply", "127.0.0.7", 8501);
    return ErrorOf([&] { Send(); });
  }

  FakeSocketApi api;
  std::unique_ptr<TUDPEndpoint> endpoint;
  QObject watchdog;
  Texts statuses;
  Texts errors;
};

class EndpointOverFake : public ::testing::Test, public Rig {};

// --- host lookup -------------------------------------------------------------------------

TEST(EndpointLookup, FailedLookupCancelsTheSendAfterAtMostOneRetry) {
  enum Handler { kNone, kUnhandled, kHandled };
  const struct {
    std::string host;
    Handler handler;
    bool foundWithoutAddress;
    Texts lookups;
  } cases[] = {
      {"plc.test", kNone, false, {"plc.test"}},
      {"plc.test", kUnhandled, false, {"plc.test"}},
      {"plc.test", kHandled, false, {"plc.test", "plc.test"}},  // the same name again
      {"plc.test", kNone, true, {"plc.test"}},
      {"255.255.255.255", kNone, false, {"255.255.255.255"}},
      {std::string(128, 'h'), kNone, false, {}},  // too long to look up at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host.substr(0, 20) + " handler " + std::to_string(c.handler));
    Rig rig;
    if (c.foundWithoutAddress) rig.api.SetHostAddress(c.host, "");
    int events = 0;
    if (c.handler != kNone) {
      rig.endpoint->OnInvalidHost = [&](bool& handled) {
        ++events;
        handled = c.handler == kHandled;
        rig.endpoint->SetRemoteHost("other.test");
      };
    }
    rig.endpoint->SetRemoteHost(c.host);
    EXPECT_EQ(ErrorOf([&] { rig.Send(); }), kCanceled);
    EXPECT_EQ(rig.api.LookedUpNames(), c.lookups);
    EXPECT_EQ(events, c.handler == kNone ? 0 : 1);
    EXPECT_TRUE(rig.api.Sent().empty());
  }
}

TEST_F(EndpointOverFake, LongestNameIsSentToItsAddressAfterHandledRetry) {
  const std::string host(127, 'h');
  api.SetHostAddress(host, "127.0.0.9");
  api.FailNext("asyncgethostbyname", kWsaTryAgain);
  endpoint->OnInvalidHost = [](bool& handled) { handled = true; };
  endpoint->SetRemoteHost(host);
  Send();
  EXPECT_EQ(api.CountOf("asyncgethostbyname"), 2);
  ASSERT_EQ(api.Sent().size(), 1u);
  EXPECT_EQ(api.Sent()[0].toIp, "127.0.0.9");
  EXPECT_EQ(api.Sent()[0].toPort, 8501);
  EXPECT_EQ(api.Sent()[0].bytes, kCommand);
}

TEST_F(EndpointOverFake, SecondLookupWhileOneWaitsIsRefused) {
  api.SetHostAddress("plc.test", "127.0.0.7");
  endpoint->SetRemoteHost("plc.test");
  // Queued before the lookup's completion: runs inside the first send's wait.
  QMetaObject::invokeMethod(
      &watchdog, [this] { HandlerGuard::Run([this] { Send(); }); }, Qt::QueuedConnection);
  EXPECT_EQ(ErrorOf([&] { Send(); }), kCanceled);
  EXPECT_EQ(api.CountOf("asyncgethostbyname"), 1);
  DispatchPosted();  // the first lookup's completion
  Send();
  EXPECT_EQ(api.Sent().size(), 1u);
}

TEST_F(EndpointOverFake, ErrorInsideLookupWaitLeavesSendAndLookupStaysOwned) {
  api.SetHostAddress("plc.test", "127.0.0.7");
  EXPECT_EQ(SendWhileReplyHandlerThrows(), "log file");
  // Until the abandoned lookup completes, its buffer is not handed out again.
  EXPECT_EQ(ErrorOf([&] { Send(); }), kCanceled);
  api.HoldLookups(false);
  api.CompleteHeldLookups();
  DispatchPosted();
  Send();
  EXPECT_EQ(api.Sent().size(), 1u);
}

TEST_F(EndpointOverFake, NotificationsAfterEndpointDiedTouchNothing) {
  EXPECT_EQ(SendWhileReplyHandlerThrows(), "log file");
  api.Deliver("queued for a dead window", "127.0.0.7", 8501);
  endpoint.reset();
  api.SetHostAddress("plc.test", "127.0.0.7");
  api.CompleteHeldLookups();  // the entry buffer is gone: under ASan a write would show
  DispatchPosted();
  EXPECT_EQ(api.StartupBalance(), 0);
}

// What is sent is the caller's array as it was when the send began, also when owner code runs
// before the datagram leaves and rewrites that array: events inside the lookup wait, or the
// status handler.
TEST(EndpointSendCopy, OwnerCodeBeforeTheSendDoesNotChangeWhatIsSent) {
  for (const bool lookup : {true, false}) {
    SCOPED_TRACE(lookup ? "lookup wait" : "status handler");
    Rig rig;
    std::array<char, 64> buffer{};
    kCommand.copy(buffer.data(), kCommand.size());
    const auto scribble = [&buffer] { buffer.fill('X'); };
    if (lookup) {
      rig.api.SetHostAddress("plc.test", "127.0.0.7");
      rig.endpoint->SetRemoteHost("plc.test");
      QMetaObject::invokeMethod(&rig.watchdog, scribble, Qt::QueuedConnection);
    } else {
      rig.endpoint->SetRemoteHost("127.0.0.7");
      rig.endpoint->SetReportLevel(2);
      rig.endpoint->OnStatus = [&](TUDPEndpoint&, const std::string&) { scribble(); };
    }
    rig.endpoint->SendDatagram(buffer, 15);
    EXPECT_EQ(buffer[0], 'X');  // the owner code did run before the datagram left
    ASSERT_EQ(rig.api.Sent().size(), 1u);
    EXPECT_EQ(rig.api.Sent()[0].bytes, kCommand);
  }
}

// --- socket set-up and errors ----------------------------------------------------------

TEST(EndpointSetUp, ConstructionSetsDontLingerAndDoesNotBind) {
  FakeSocketApi api;
  TUDPEndpoint endpoint(api);
  ASSERT_EQ(api.CountOf("setsockopt"), 1);
  const auto& call = api.Calls()[2];
  EXPECT_EQ(call.name, "setsockopt");
  EXPECT_EQ(call.args, (std::vector<std::int64_t>{api.LastSocket(), 0xFFFF, 0xFF7F, 1, 4}));
  EXPECT_EQ(api.CountOf("bind") + api.CountOf("asyncselect"), 0);
}

TEST(EndpointSetUp, LocalPortSetterReplacesSocketAndBindsLowSixteenBits) {
  FakeSocketApi api;
  TUDPEndpoint endpoint(api);
  const SocketHandle first = api.LastSocket();
  const std::size_t before = api.Calls().size();
  endpoint.SetLocalPort(70000);
  Texts names;
  for (std::size_t i = before; i < api.Calls().size(); ++i) names.push_back(api.Calls()[i].name);
  EXPECT_EQ(names, (Texts{"closesocket", "cleanup", "startup", "socket", "bind", "asyncselect"}));
  EXPECT_FALSE(api.IsOpen(first));
  EXPECT_EQ(endpoint.BoundPort(), 4464);
  EXPECT_EQ(api.StartupBalance(), 1);
}

TEST(EndpointSetUp, TolerableSocketErrorsLeaveEndpointWithoutSocket) {
  for (const int number : {10035, 10039, 10043, 10047}) {
    SCOPED_TRACE(number);
    FakeSocketApi api;
    api.FailNext("socket", number);
    std::unique_ptr<TUDPEndpoint> endpoint;
    ASSERT_NO_THROW(endpoint = std::make_unique<TUDPEndpoint>(api));
    EXPECT_EQ(endpoint->LastErrorNumber(), number);
    int sends = 0;
    endpoint->OnDataSend = [&](TUDPEndpoint&) { ++sends; };
    endpoint->SetRemoteHost("127.0.0.1");
    EXPECT_NO_THROW(endpoint->SendDatagram(kCommand, 15));
    EXPECT_TRUE(api.Sent().empty());
    EXPECT_EQ(sends, 1);
  }
}

TEST(EndpointSetUp, FailedConstructionCleansUpOnlyAfterStartup) {
  for (const auto& [op, error, cleanups] :
       {std::tuple{"socket", kWsaENoBufs, 1}, std::tuple{"startup", kWsaSysNotReady, 0}}) {
    SCOPED_TRACE(op);
    FakeSocketApi api;
    api.FailNext(op, error);
    EXPECT_EQ(ErrorOf([&] { TUDPEndpoint endpoint(api); }),
              "Unknown Error No. " + std::to_string(error));
    EXPECT_EQ(api.CountOf("cleanup"), cleanups);
    EXPECT_EQ(api.StartupBalance(), 0);
  }
}

// A failing startup or socket call in the setter; error number 0 has no text at all.
TEST(EndpointSetUp, FailedLocalPortSetterReportsAndKeepsLocalPort) {
  for (const auto& [op, error] : {std::pair{"startup", 0}, std::pair{"socket", kWsaENoBufs}}) {
    SCOPED_TRACE(op);
    const std::string message = error == 0 ? "" : "Unknown Error No. " + std::to_string(error);
    Rig rig;
    rig.endpoint->SetReportLevel(8);
    rig.api.FailNext(op, error);
    try {
      rig.endpoint->SetLocalPort(1234);
      ADD_FAILURE() << "no error";
    } catch (const UDPSockError& thrown) {
      EXPECT_EQ(thrown.what(), message);
    }
    EXPECT_EQ(rig.statuses, Texts{"Looking Up Error Message" + message});
    EXPECT_EQ(rig.errors, Texts{std::to_string(error) + ":" + message});
    EXPECT_EQ(rig.endpoint->LocalPort(), 0);
    EXPECT_EQ(rig.api.CountOf("bind"), 2);  // the two of the load sequence only
    EXPECT_EQ(rig.api.StartupBalance(), 0);
  }
}

// The socket the setter closed is gone for good, also when the setter then fails: its number
// may belong to another descriptor by now, so nothing may bind, watch, send on or close it.
TEST(EndpointSetUp, HandleClosedByAFailedLocalPortSetterIsNeverUsedAgain) {
  for (const auto& [op, error] :
       {std::pair{"startup", kWsaEWouldBlock}, std::pair{"startup", kWsaENoBufs},
        std::pair{"socket", kWsaENoBufs}}) {
    SCOPED_TRACE(std::string(op) + " " + std::to_string(error));
    Rig rig;
    const SocketHandle closed = rig.api.LastSocket();
    rig.api.FailNext(op, error);
    try {
      rig.endpoint->SetLocalPort(1234);
    } catch (const UDPSockError&) {
    }
    // What the owner does next: send, receive, and set the port again.
    rig.endpoint->SetRemoteHost("127.0.0.1");
    rig.Send();
    rig.api.Deliver("00001\r\n", "127.0.0.1", 8501);
    DispatchPosted();
    rig.endpoint->SetLocalPort(0);
    rig.Send();
    const auto& calls = rig.api.Calls();
    const auto closing = std::find_if(calls.begin(), calls.end(), [&](const auto& call) {
      return call.name == "closesocket" && call.args.at(0) == closed;
    });
    ASSERT_NE(closing, calls.end());
    for (auto call = std::next(closing); call != calls.end(); ++call) {
      if (call->name == "startup" || call->name == "cleanup" || call->name == "socket" ||
          call->name == "asyncgethostbyname") {
        continue;
      }
      EXPECT_NE(call->args.at(0), closed) << call->name;
    }
  }
}

TEST(EndpointSetUp, ReportLevelChoosesStatusTexts) {
  const std::string lookUp = "Looking Up Error MessageUnknown Error No. 10055";
  const struct {
    std::int32_t level;
    Texts statuses;
  } cases[] = {{1, {}},
               {2, {"Sending Data"}},
               {8, {"Sending Data", lookUp}},
               {16, {"Sending Data", "Checking Error In Error Manager", lookUp}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    Rig rig;  // one send and one failing rebind
    rig.endpoint->SetReportLevel(c.level);
    rig.endpoint->SetRemoteHost("127.0.0.1");
    rig.Send();
    rig.api.FailNext("socket", kWsaENoBufs);
    EXPECT_THROW(rig.endpoint->SetLocalPort(0), UDPSockError);
    EXPECT_EQ(rig.statuses, c.statuses);
    if (c.level == 1 || c.level == 8) {
      EXPECT_EQ(rig.endpoint->StatusText(), c.level == 1 ? "" : lookUp);
    }
  }
}

// --- receiving --------------------------------------------------------------------------

TEST_F(EndpointOverFake, EveryNotificationTakesOneDatagramEvenWithoutHandler) {
  api.Deliver("first", "127.0.0.5", 8501);
  api.Deliver("second!", "127.0.0.5", 8501);
  endpoint->HandleNotification(kNotifyMessage + 1, api.LastSocket(), kFdRead);  // not ours
  DispatchPosted();
  EXPECT_EQ(api.CountOf("recvfrom"), 2);
  std::array<char, 16> buffer{};
  std::int32_t length = 0;
  endpoint->ReadDatagram(buffer, length);
  EXPECT_EQ(length, 7);
}

TEST_F(EndpointOverFake, ErrorOfReceiveHandlerReachesReporterAndReceivingGoesOn) {
  Texts reported;
  auto previous = HandlerGuard::SetReporter([&](const std::string& m) { reported.push_back(m); });
  Texts senders;
  endpoint->OnDataReceived = [&](TUDPEndpoint&, std::int32_t, const std::string& ip,
                                 std::int32_t port) {
    senders.push_back(ip + ":" + std::to_string(port));
    if (senders.size() == 1) throw std::runtime_error("cannot create log");
  };
  api.Deliver("one", "127.0.0.5", 8501);
  DispatchPosted();
  api.Deliver("two", "127.0.0.6", 8502);
  DispatchPosted();
  HandlerGuard::SetReporter(std::move(previous));
  EXPECT_EQ(reported, Texts{"cannot create log"});
  EXPECT_EQ(senders, (Texts{"127.0.0.5:8501", "127.0.0.6:8502"}));
}

// FromIP is the sender's dotted address with every byte in plain decimal; it names the sender
// the read cycle compares with the controller's address.
TEST_F(EndpointOverFake, FromIPIsTheSendersDottedAddress) {
  Texts senders;
  endpoint->OnDataReceived = [&](TUDPEndpoint&, std::int32_t, const std::string& ip,
                                 std::int32_t port) {
    senders.push_back(ip + ":" + std::to_string(port));
  };
  const Texts addresses = {"0.0.0.0", "1.2.3.4", "10.20.99.100", "127.0.0.1", "255.254.199.9"};
  for (const std::string& address : addresses) api.Deliver("x", address, 65535);
  DispatchPosted();
  Texts expected;
  for (const std::string& address : addresses) expected.push_back(address + ":65535");
  EXPECT_EQ(senders, expected);
}

}  // namespace
