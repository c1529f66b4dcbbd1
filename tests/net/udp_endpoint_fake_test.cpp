#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/handler_guard.h"
#include "net/udp_endpoint.h"
#include "tests/fakes/fake_socket_api.h"

namespace {

const std::string kCommand = "RDS DM00100 8\r\n";

void DispatchPosted() { QCoreApplication::sendPostedEvents(); }

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no error)";
}

class EndpointOverFake : public ::testing::Test {
 protected:
  void SetUp() override {
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

  FakeSocketApi api;
  std::unique_ptr<TUDPEndpoint> endpoint;
  QObject watchdog;
  std::vector<std::string> statuses;
  std::vector<std::string> errors;
};

// --- host lookup -------------------------------------------------------------------------

TEST_F(EndpointOverFake, FoundHostIsSentToItsFirstAddress) {
  api.SetHostAddress("plc.test", "127.0.0.7");
  endpoint->SetRemoteHost("plc.test");
  Send();
  ASSERT_EQ(api.Sent().size(), 1u);
  EXPECT_EQ(api.Sent()[0].toIp, "127.0.0.7");
  EXPECT_EQ(api.Sent()[0].toPort, 8501);
  EXPECT_EQ(api.Sent()[0].bytes, kCommand);
}

TEST_F(EndpointOverFake, FailedLookupWithoutHandlerLooksUpOnce) {
  endpoint->SetRemoteHost("plc.test");
  EXPECT_EQ(ErrorOf([&] { Send(); }), "Host Lookup Canceled");
  EXPECT_EQ(api.LookedUpNames(), std::vector<std::string>{"plc.test"});
  EXPECT_TRUE(api.Sent().empty());
}

TEST_F(EndpointOverFake, FailedLookupWithUnhandledEventLooksUpOnce) {
  int events = 0;
  endpoint->OnInvalidHost = [&](bool&) { ++events; };
  endpoint->SetRemoteHost("plc.test");
  EXPECT_EQ(ErrorOf([&] { Send(); }), "Host Lookup Canceled");
  EXPECT_EQ(api.CountOf("asyncgethostbyname"), 1);
  EXPECT_EQ(events, 1);
}

TEST_F(EndpointOverFake, HandledEventRetriesTheSameNameOnce) {
  int events = 0;
  endpoint->OnInvalidHost = [&](bool& handled) {
    ++events;
    handled = true;
    endpoint->SetRemoteHost("other.test");
  };
  endpoint->SetRemoteHost("plc.test");
  EXPECT_EQ(ErrorOf([&] { Send(); }), "Host Lookup Canceled");
  EXPECT_EQ(api.LookedUpNames(), (std::vector<std::string>{"plc.test", "plc.test"}));
  EXPECT_EQ(events, 1);
}

TEST_F(EndpointOverFake, RetryAfterHandledEventCanSucceed) {
  api.SetHostAddress("plc.test", "127.0.0.9");
  api.FailNext("asyncgethostbyname", kWsaTryAgain);
  endpoint->OnInvalidHost = [](bool& handled) { handled = true; };
  endpoint->SetRemoteHost("plc.test");
  Send();
  ASSERT_EQ(api.Sent().size(), 1u);
  EXPECT_EQ(api.Sent()[0].toIp, "127.0.0.9");
}

TEST_F(EndpointOverFake, FoundHostWithoutAddressesCountsAsFailed) {
  api.SetHostWithoutAddresses("plc.test");
  endpoint->SetRemoteHost("plc.test");
  EXPECT_EQ(ErrorOf([&] { Send(); }), "Host Lookup Canceled");
  EXPECT_TRUE(api.Sent().empty());
}

TEST_F(EndpointOverFake, NameOverBufferIsRefusedWithoutLookup) {
  endpoint->SetRemoteHost(std::string(128, 'h'));
  EXPECT_EQ(ErrorOf([&] { Send(); }), "Host Lookup Canceled");
  EXPECT_EQ(api.CountOf("asyncgethostbyname"), 0);
  api.SetHostAddress(std::string(127, 'h'), "127.0.0.2");
  endpoint->SetRemoteHost(std::string(127, 'h'));
  Send();
  EXPECT_EQ(api.Sent().size(), 1u);
}

TEST_F(EndpointOverFake, BroadcastTextGoesToLookup) {
  endpoint->SetRemoteHost("255.255.255.255");
  EXPECT_EQ(ErrorOf([&] { Send(); }), "Host Lookup Canceled");
  EXPECT_EQ(api.LookedUpNames(), std::vector<std::string>{"255.255.255.255"});
}

TEST_F(EndpointOverFake, SecondLookupWhileOneWaitsIsRefused) {
  api.SetHostAddress("plc.test", "127.0.0.7");
  endpoint->SetRemoteHost("plc.test");
  // Queued before the lookup's completion: runs inside the first send's wait.
  QMetaObject::invokeMethod(
      &watchdog, [this] { HandlerGuard::Run([this] { Send(); }); }, Qt::QueuedConnection);
  EXPECT_EQ(ErrorOf([&] { Send(); }), "Host Lookup Canceled");
  EXPECT_EQ(api.CountOf("asyncgethostbyname"), 1);
  DispatchPosted();  // the first lookup's completion
  Send();
  EXPECT_EQ(api.Sent().size(), 1u);
}

TEST_F(EndpointOverFake, ErrorInsideLookupWaitLeavesSendAndLookupStaysOwned) {
  api.SetHostAddress("plc.test", "127.0.0.7");
  api.HoldLookups(true);
  endpoint->OnDataReceived = [](TUDPEndpoint&, std::int32_t, const std::string&, std::int32_t) {
    throw std::runtime_error("log file");
  };
  endpoint->SetRemoteHost("plc.test");
  api.Deliver("reply", "127.0.0.7", 8501);
  EXPECT_EQ(ErrorOf([&] { Send(); }), "log file");
  // Until the abandoned lookup completes, its buffer is not handed out again.
  EXPECT_EQ(ErrorOf([&] { Send(); }), "Host Lookup Canceled");
  api.HoldLookups(false);
  api.CompleteHeldLookups();
  DispatchPosted();
  Send();
  EXPECT_EQ(api.Sent().size(), 1u);
}

TEST_F(EndpointOverFake, NotificationsAfterEndpointDiedTouchNothing) {
  api.HoldLookups(true);
  endpoint->OnDataReceived = [](TUDPEndpoint&, std::int32_t, const std::string&, std::int32_t) {
    throw std::runtime_error("stop");
  };
  endpoint->SetRemoteHost("plc.test");
  api.Deliver("reply", "127.0.0.7", 8501);
  EXPECT_EQ(ErrorOf([&] { Send(); }), "stop");
  api.Deliver("queued for a dead window", "127.0.0.7", 8501);
  endpoint.reset();
  api.SetHostAddress("plc.test", "127.0.0.7");
  api.CompleteHeldLookups();  // the entry buffer is gone: under ASan a write would show
  DispatchPosted();
  EXPECT_EQ(api.StartupBalance(), 0);
}

// --- socket set-up and errors ----------------------------------------------------------

TEST(EndpointSetUp, ConstructionSetsDontLingerAndDoesNotBind) {
  FakeSocketApi api;
  TUDPEndpoint endpoint(api);
  ASSERT_EQ(api.CountOf("setsockopt"), 1);
  const auto& call = api.Calls()[2];
  EXPECT_EQ(call.name, "setsockopt");
  EXPECT_EQ(call.args, (std::vector<std::int64_t>{api.LastSocket(), 0xFFFF, 0xFF7F, 1, 4}));
  EXPECT_EQ(api.CountOf("bind"), 0);
  EXPECT_EQ(api.CountOf("asyncselect"), 0);
}

TEST(EndpointSetUp, LocalPortSetterReplacesSocketAndBindsLowSixteenBits) {
  FakeSocketApi api;
  TUDPEndpoint endpoint(api);
  const SocketHandle first = api.LastSocket();
  const std::size_t before = api.Calls().size();
  endpoint.SetLocalPort(70000);
  std::vector<std::string> names;
  for (std::size_t i = before; i < api.Calls().size(); ++i) {
    if (api.Calls()[i].name != "inet_addr") names.push_back(api.Calls()[i].name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"closesocket", "cleanup", "startup", "socket", "bind",
                                             "asyncselect"}));
  EXPECT_FALSE(api.IsOpen(first));
  EXPECT_EQ(endpoint.BoundPort(), 4464);
  EXPECT_EQ(api.CountOf("setsockopt"), 1);
  EXPECT_EQ(api.StartupBalance(), 1);
}

TEST(EndpointSetUp, TolerableSocketErrorsLeaveEndpointWithoutSocket) {
  for (const int number : {10035, 10039, 10043, 10047}) {
    FakeSocketApi api;
    api.FailNext("socket", number);
    std::unique_ptr<TUDPEndpoint> endpoint;
    ASSERT_NO_THROW(endpoint = std::make_unique<TUDPEndpoint>(api)) << number;
    EXPECT_EQ(endpoint->LastErrorNumber(), number);
    int sends = 0;
    endpoint->OnDataSend = [&](TUDPEndpoint&) { ++sends; };
    endpoint->SetRemoteHost("127.0.0.1");
    EXPECT_NO_THROW(endpoint->SendDatagram(kCommand, 15));
    EXPECT_TRUE(api.Sent().empty());
    EXPECT_EQ(sends, 1);
  }
}

TEST(EndpointSetUp, FailedSocketCreationEndsConstructionAfterCleanup) {
  FakeSocketApi api;
  api.FailNext("socket", kWsaENoBufs);
  EXPECT_EQ(ErrorOf([&] { TUDPEndpoint endpoint(api); }), "Unknown Error No. 10055");
  EXPECT_EQ(api.CountOf("cleanup"), 1);
  EXPECT_EQ(api.StartupBalance(), 0);
}

TEST(EndpointSetUp, FailedStartupEndsConstructionWithoutCleanup) {
  FakeSocketApi api;
  api.FailNext("startup", kWsaSysNotReady);
  EXPECT_EQ(ErrorOf([&] { TUDPEndpoint endpoint(api); }), "Unknown Error No. 10091");
  EXPECT_EQ(api.CountOf("cleanup"), 0);
}

TEST_F(EndpointOverFake, StartupFailingWithErrorZeroGivesEmptyError) {
  endpoint->SetReportLevel(8);
  api.FailNext("startup", 0);
  try {
    endpoint->SetLocalPort(1234);
    ADD_FAILURE() << "no error";
  } catch (const UDPSockError& error) {
    EXPECT_STREQ(error.what(), "");
  }
  EXPECT_EQ(statuses, std::vector<std::string>{"Looking Up Error Message"});
  EXPECT_EQ(errors, std::vector<std::string>{"0:"});
  EXPECT_EQ(endpoint->LocalPort(), 0);
  EXPECT_EQ(api.CountOf("bind"), 2);  // the two of the load sequence only
}

TEST_F(EndpointOverFake, FailedSocketInSetterKeepsLocalPort) {
  endpoint->SetReportLevel(8);
  api.FailNext("socket", kWsaENoBufs);
  EXPECT_EQ(ErrorOf([&] { endpoint->SetLocalPort(1234); }), "Unknown Error No. 10055");
  EXPECT_EQ(statuses, std::vector<std::string>{"Looking Up Error MessageUnknown Error No. 10055"});
  EXPECT_EQ(errors, std::vector<std::string>{"10055:Unknown Error No. 10055"});
  EXPECT_EQ(endpoint->LocalPort(), 0);
  EXPECT_EQ(api.StartupBalance(), 0);
}

// --- status levels ----------------------------------------------------------------------

class StatusLevels : public EndpointOverFake {
 protected:
  // One send and one failing rebind, as seen at the given level.
  std::vector<std::string> StatusesAt(std::int32_t level) {
    endpoint->SetReportLevel(level);
    endpoint->SetRemoteHost("127.0.0.1");
    Send();
    api.FailNext("socket", kWsaENoBufs);
    EXPECT_THROW(endpoint->SetLocalPort(0), UDPSockError);
    return statuses;
  }
};

TEST_F(StatusLevels, LevelOneReportsNothing) {
  EXPECT_TRUE(StatusesAt(1).empty());
  EXPECT_EQ(endpoint->StatusText(), "");
}

TEST_F(StatusLevels, LevelTwoReportsOnlySending) {
  EXPECT_EQ(StatusesAt(2), std::vector<std::string>{"Sending Data"});
}

TEST_F(StatusLevels, LevelEightAddsErrorLookUp) {
  EXPECT_EQ(StatusesAt(8), (std::vector<std::string>{
                               "Sending Data", "Looking Up Error MessageUnknown Error No. 10055"}));
  EXPECT_EQ(endpoint->StatusText(), "Looking Up Error MessageUnknown Error No. 10055");
}

TEST_F(StatusLevels, LevelSixteenAddsErrorCheck) {
  EXPECT_EQ(StatusesAt(16),
            (std::vector<std::string>{"Sending Data", "Checking Error In Error Manager",
                                      "Looking Up Error MessageUnknown Error No. 10055"}));
}

// --- receiving --------------------------------------------------------------------------

TEST_F(EndpointOverFake, EveryNotificationTakesOneDatagramEvenWithoutHandler) {
  api.Deliver("first", "127.0.0.5", 8501);
  api.Deliver("second!", "127.0.0.5", 8501);
  DispatchPosted();
  EXPECT_EQ(api.CountOf("recvfrom"), 2);
  std::array<char, 16> buffer{};
  std::int32_t length = 0;
  endpoint->ReadDatagram(buffer, length);
  EXPECT_EQ(length, 7);
}

TEST_F(EndpointOverFake, OtherMessagesAreIgnored) {
  endpoint->HandleNotification(kNotifyMessage + 1, api.LastSocket(), kFdRead);
  EXPECT_EQ(api.CountOf("recvfrom"), 0);
}

TEST_F(EndpointOverFake, ErrorOfReceiveHandlerReachesReporterAndReceivingGoesOn) {
  std::vector<std::string> reported;
  auto previous = HandlerGuard::SetReporter([&](const std::string& m) { reported.push_back(m); });
  std::vector<std::string> senders;
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
  EXPECT_EQ(reported, std::vector<std::string>{"cannot create log"});
  EXPECT_EQ(senders, (std::vector<std::string>{"127.0.0.5:8501", "127.0.0.6:8502"}));
}

}  // namespace
