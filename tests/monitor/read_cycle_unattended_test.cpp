// The read cycle as the headless logger runs it: whole rows, replies matched to their request,
// failures that give a cycle up instead of stalling it.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "tests/monitor/read_cycle_fixture.h"

namespace {

using namespace read_cycle_fixture;
using namespace std::chrono_literals;

class UnattendedCycleTest : public ReadCycleTest {
 protected:
  void SetUp() override {
    ReadCycleTest::SetUp();
    BuildUnattended();
  }
  // The controller's answer to a sent request: one value per device, the device's number.
  static std::string AnswerTo(const std::string& request) {
    return Reply(Sequence(std::stoi(request.substr(6, 5)), request[12] - '0'));
  }
  static int CountOf(const std::string& request) { return request[12] - '0'; }
  // The repeat timer's tick, an interval after the last.
  void Tick() {
    clock.Steady += 1s;
    cycle->Timer1Timer();
  }
};

// A cycle asks consecutive requests for different counts and hands on one whole row at its end;
// nothing is written piece by piece.
TEST_F(UnattendedCycleTest, RowIsHandedOnWholeAndCountsAlternate) {
  Run();
  while (cycle->State().CycleBusy) AnswerLast();
  EXPECT_EQ(SentBytes(), (Texts{Request(100, 8), Request(108, 7), Request(115, 5)}));
  EXPECT_EQ(rows, Texts{Row(100, 20)});
  EXPECT_EQ(LogText(), "(none)");
  // The next cycle does not repeat the count the last one ended with.
  Tick();
  EXPECT_EQ(CountOf(SentBytes().back()), 8);
  settings.DeviceNum = 5;
  AnswerLast();
  AnswerLast();
  AnswerLast();
  Tick();
  EXPECT_NE(CountOf(SentBytes().back()), 5);
  while (cycle->State().CycleBusy) AnswerLast();
  EXPECT_EQ(rows, (Texts{Row(100, 20), Row(100, 20), Row(100, 5)}));
}

// Wrong counts, malformed sizes and datagrams from another address or port are dropped and
// counted; the request stays awaited with its time-out running, and is resent at it.
TEST_F(UnattendedCycleTest, AnythingButTheAwaitedAnswerLeavesTheRequestAwaited) {
  Run();
  Deliver(Reply(Sequence(100, 7)));
  EXPECT_EQ(statuses.back(), "Unexpected-UDP-NumberBytes 43Bytes. Abandond.");
  Deliver("E1\r\n");
  EXPECT_EQ(statuses.back(), "Unexpected-UDP-NumberBytes 4Bytes. Abandond.");
  // The right size is not enough: a NUL, a letter or a wrong separator is no controller's.
  using namespace std::string_literals;
  for (const std::string& bytes :
       {Reply(Sequence(100, 8)).replace(3, 1, "\0"s), Reply(Sequence(100, 8)).replace(9, 1, "x"),
        Reply(Sequence(100, 8)).replace(5, 1, ",")}) {
    Deliver(bytes);
    EXPECT_EQ(statuses.back(), "Unexpected-UDP-NumberBytes 49Bytes. Abandond.");
  }
  Deliver(Reply(Sequence(100, 8)), "127.0.0.2");
  api.Deliver(Reply(Sequence(100, 8)), "127.0.0.1", 8502);
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(statuses.back(), "Unexpected-UDP-DataReceived 49Bytes. Abandond.");
  EXPECT_EQ(Flags(), "busy awaiting timer2");
  EXPECT_EQ(cycle->Stats().Dropped, 7u);
  cycle->Timer2Timer();
  EXPECT_EQ(SentBytes(), (Texts{Request(100, 8), Request(100, 8)}));
  while (cycle->State().CycleBusy) AnswerLast();
  EXPECT_EQ(rows, Texts{Row(100, 20)});
}

// A send that fails (no address, an unresolvable name) gives the cycle up, its values too, and
// reports why; the next tick starts a fresh cycle that reads every device again.
TEST_F(UnattendedCycleTest, FailedSendGivesTheCycleUpUntilTheNextTick) {
  settings.IPAddress = "0.0.0.0";
  Run();
  EXPECT_EQ(failures, Texts{"Null Remote Address"});
  EXPECT_EQ(Flags(), "idle");
  EXPECT_TRUE(timer1.Enabled());
  settings.IPAddress = "127.0.0.1";
  Tick();
  AnswerLast();
  settings.IPAddress = "controller.invalid";
  AnswerLast();  // the next request's lookup fails
  EXPECT_EQ(failures.back(), "Host Lookup Canceled");
  EXPECT_EQ(Flags(), "idle");
  settings.IPAddress = "127.0.0.1";
  Tick();
  AnswerLast();
  settings.IPAddress = "0.0.0.0";
  cycle->Timer2Timer();  // a resend fails too
  EXPECT_EQ(Flags(), "idle");
  settings.IPAddress = "127.0.0.1";
  Tick();
  while (cycle->State().CycleBusy) AnswerLast();
  EXPECT_EQ(rows, Texts{Row(100, 20)});
  EXPECT_EQ(cycle->Stats().Failures, 3u);
  EXPECT_TRUE(errors.empty());
}

TEST_F(UnattendedCycleTest, PausedCycleStartsNothingUntilResumed) {
  settings.DeviceNum = 3;
  Run();
  AnswerLast();
  cycle->SetPaused(true);
  cycle->Timer1Timer();
  EXPECT_EQ(api.Sent().size(), 1u);
  cycle->SetPaused(false);
  cycle->Timer1Timer();
  EXPECT_EQ(api.Sent().size(), 2u);
}

// A network that loses, delays, reorders and duplicates answers, and a controller that answers
// every resend: whatever arrives in whatever order, no row ever holds a value of a device its
// header does not name at that place.
TEST_F(UnattendedCycleTest, NoRowEverHoldsAnotherDevicesValue) {
  struct InTransit {
    std::string bytes;
    std::chrono::steady_clock::time_point sent;
    bool doubled;
  };
  for (const int32_t deviceNum : {1, 2, 9, 20, 100}) {
    SCOPED_TRACE(deviceNum);
    settings.DeviceNum = deviceNum;
    settings.TimeOut = 100;
    BuildUnattended();
    rows.clear();
    std::mt19937 random(20261209u + static_cast<unsigned>(deviceNum));
    const auto chance = [&random](int percent) {
      return std::uniform_int_distribution<int>(1, 100)(random) <= percent;
    };
    std::vector<InTransit> network;
    size_t seen = api.Sent().size();
    Run();
    for (int step = 0; step < 4000; ++step) {
      for (; seen < api.Sent().size(); ++seen) {
        if (!chance(15))
          network.push_back({AnswerTo(api.Sent()[seen].bytes), clock.Steady, chance(10)});
      }
      // A datagram is never held longer than a few seconds.
      std::erase_if(network, [&](const InTransit& d) { return clock.Steady - d.sent > 3s; });
      const int action = std::uniform_int_distribution<int>(1, 100)(random);
      if (action <= 55 && !network.empty()) {
        // Mostly in order, sometimes any of those in transit.
        const size_t pick =
            chance(70) ? 0 : std::uniform_int_distribution<size_t>(0, network.size() - 1)(random);
        const InTransit datagram = network[pick];
        network.erase(network.begin() + static_cast<std::ptrdiff_t>(pick));
        Deliver(datagram.bytes);
        if (datagram.doubled) Deliver(datagram.bytes);
      } else if (action <= 75) {
        clock.Steady += 100ms;
        if (timer2.Enabled()) cycle->Timer2Timer();
      } else if (action <= 85) {
        cycle->Timer1Timer();
      }
      clock.Steady += 1ms;
    }
    EXPECT_GE(rows.size(), 10u);
    for (const std::string& row : rows) ASSERT_EQ(row, Row(100, deviceNum));
  }
}

}  // namespace
