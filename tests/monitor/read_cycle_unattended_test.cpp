// The read cycle as the headless logger runs it: whole rows, replies matched to their request,
// failures that give a cycle up instead of stalling it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
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

// A cycle splits into requests of at most 8, each sent from a port of its own and its resends
// from the same port; the port is closed once its answer is taken, the last one too, and one
// whole row is handed on at the end; nothing is written piece by piece.
TEST_F(UnattendedCycleTest, EachRequestHasAPortOfItsOwnAndTheRowIsHandedOnWhole) {
  Run();
  AnswerLast();
  cycle->Timer2Timer();
  AnswerLast();
  AnswerLast();
  EXPECT_EQ(SentBytes(),
            (Texts{Request(100, 8), Request(108, 8), Request(108, 8), Request(116, 4)}));
  const auto& sent = api.Sent();
  EXPECT_EQ(sent[1].fromPort, sent[2].fromPort);
  EXPECT_NE(sent[0].fromPort, sent[1].fromPort);
  EXPECT_NE(sent[2].fromPort, sent[3].fromPort);
  EXPECT_EQ(rows, Texts{Row(100, 20)});
  EXPECT_EQ(LogText(), "(none)");
  // Every port is closed: a copy of any answer is dropped by the system.
  EXPECT_EQ(api.OpenSockets(), 0u);
  for (const auto& datagram : sent)
    EXPECT_FALSE(api.DeliverTo(datagram.fromPort, "x", "127.0.0.1", 8501));
  Tick();
  EXPECT_EQ(SentBytes().back(), Request(100, 8));
}

// The system may hand back a port that is still remembered: it is held while another is asked
// for, then let go, so no request reuses a recent port.
TEST_F(UnattendedCycleTest, APortHandedBackTooSoonIsNotUsed) {
  api.SetEphemeralPortCount(8);  // 4 ports remembered
  settings.DeviceNum = 8;
  BuildUnattended();
  api.HandOutPorts({40001, 40002, 40003, 40004, 40001, 40002, 40005, 40001});
  Run();
  for (int cycleNo = 0; cycleNo < 6; ++cycleNo) {
    AnswerLast();
    Tick();
  }
  std::vector<int> ports;
  for (const auto& datagram : api.Sent()) ports.push_back(datagram.fromPort);
  EXPECT_EQ(ports, (std::vector<int>{40001, 40002, 40003, 40004, 40005, 40001, 50001}));
  EXPECT_EQ(api.OpenSockets(), 1u);
}

// Wrong counts, malformed replies and datagrams from another address or port are dropped and
// reported by kind; the request stays awaited with its time-out running, and is resent at it.
TEST_F(UnattendedCycleTest, AnythingButTheAwaitedAnswerLeavesTheRequestAwaited) {
  Run();
  Deliver(Reply(Sequence(100, 7)));
  Deliver("E1\r\n");
  // The right size is not enough: a NUL, a letter or a wrong separator is no controller's.
  using namespace std::string_literals;
  for (const std::string& bytes :
       {Reply(Sequence(100, 8)).replace(3, 1, "\0"s), Reply(Sequence(100, 8)).replace(9, 1, "x"),
        Reply(Sequence(100, 8)).replace(5, 1, ",")}) {
    Deliver(bytes);
  }
  Deliver(Reply(Sequence(100, 8)), "127.0.0.2");
  api.Deliver(Reply(Sequence(100, 8)), "127.0.0.1", 8502);
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(drops,
            (Texts{"size 43 127.0.0.1:8501", "size 4 127.0.0.1:8501", "layout 49 127.0.0.1:8501",
                   "layout 49 127.0.0.1:8501", "layout 49 127.0.0.1:8501",
                   "sender 49 127.0.0.2:8501", "sender 49 127.0.0.1:8502"}));
  EXPECT_EQ(statuses, Texts{""});
  EXPECT_EQ(Flags(), "busy awaiting timer2");
  EXPECT_EQ(cycle->Stats().Dropped, 7u);
  cycle->Timer2Timer();
  EXPECT_EQ(SentBytes(), (Texts{Request(100, 8), Request(100, 8)}));
  EXPECT_EQ(statuses.back(), "UDP-Unresponced. Retrying.");
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

// A network that loses, delays, reorders and copies answers any number of times with any
// lateness, and a controller that answers every send, the resends too. Each answer carries
// which request it answers and which device, so whatever arrives in whatever order:
// - every value of every row is the one an answer to that very request gave for that device;
// - the first answer that reaches the request in flight settles it at once (a lost answer
//   costs one time-out, never more);
// - a row is stamped when its first answer came.
TEST_F(UnattendedCycleTest, EveryRowHoldsItsOwnRequestsAnswersWhateverTheNetworkDoes) {
  using Steady = std::chrono::steady_clock;
  struct InTransit {
    Steady::time_point due;
    uint16_t port;
    std::string bytes;
  };
  constexpr int kSeeds = 12;
  constexpr int kSteps = 2500;
  for (const int32_t deviceNum : {1, 2, 9, 20, 100}) {
    for (int seed = 0; seed < kSeeds; ++seed) {
      SCOPED_TRACE(::testing::Message() << "DeviceNum " << deviceNum << ", seed " << seed);
      settings.DeviceNum = deviceNum;
      settings.TimeOut = 100;
      BuildUnattended();
      rows.clear();
      std::mt19937 random(20261209u + static_cast<unsigned>(seed * 131 + deviceNum));
      const auto chance = [&random](int percent) {
        return std::uniform_int_distribution<int>(1, 100)(random) <= percent;
      };
      const auto within = [&random](int ms) {
        return std::chrono::milliseconds(std::uniform_int_distribution<int>(0, ms)(random));
      };
      const int perRow = (deviceNum + 7) / 8;
      std::map<uint16_t, int> serialOf;    // request by its port, in the order they were sent
      std::vector<LocalDateTime> stampOf;  // each row's first answer's time, by row
      std::vector<InTransit> network;
      std::size_t seen = api.Sent().size();
      auto timeOutAt = Steady::time_point::max();
      auto tickAt = clock.Steady + 1s;
      const auto setTime = [&] {
        const auto ms = clock.Steady.time_since_epoch() / 1ms;
        clock.Time = {2026,
                      12,
                      9,
                      static_cast<int>(ms / 3600000 % 24),
                      static_cast<int>(ms / 60000 % 60),
                      static_cast<int>(ms / 1000 % 60)};
      };
      // The controller answers each send; the network loses some answers and copies others.
      const auto controller = [&] {
        for (; seen < api.Sent().size(); ++seen) {
          const auto& request = api.Sent()[seen];
          timeOutAt = clock.Steady + 100ms;
          const auto [entry, isNew] =
              serialOf.emplace(request.fromPort, static_cast<int>(serialOf.size()));
          const int serial = entry->second;
          // The second request of a row says when its first answer was taken.
          if (isNew && perRow > 1 && serial % perRow == 1) stampOf.push_back(clock.Time);
          std::vector<int> tagged;
          for (int k = 0; k < CountOf(request.bytes); ++k)
            tagged.push_back((serial * 8 + k) & 0x7FFF);
          const std::string answer = Reply(tagged);
          if (chance(20)) continue;
          network.push_back({clock.Steady + within(250), request.fromPort, answer});
          while (chance(35))
            network.push_back({clock.Steady + within(2000), request.fromPort, answer});
        }
      };
      setTime();
      Run();
      controller();
      for (int step = 0; step < kSteps; ++step) {
        clock.Steady += within(40) + 1ms;
        setTime();
        // Whatever is due arrives, in any order.
        std::shuffle(network.begin(), network.end(), random);
        for (std::size_t i = 0; i < network.size();) {
          if (network[i].due > clock.Steady) {
            ++i;
            continue;
          }
          const InTransit datagram = network[i];
          network.erase(network.begin() + static_cast<std::ptrdiff_t>(i));
          const bool inFlight =
              cycle->State().AwaitingReply && api.Sent().back().fromPort == datagram.port;
          const std::size_t rowsBefore = rows.size();
          const bool queued = api.DeliverTo(datagram.port, datagram.bytes, "127.0.0.1", 8501);
          QCoreApplication::sendPostedEvents();
          if (perRow == 1 && rows.size() > rowsBefore) stampOf.push_back(clock.Time);
          controller();
          if (inFlight) {
            ASSERT_TRUE(queued);
            ASSERT_TRUE(!cycle->State().AwaitingReply ||
                        api.Sent().back().fromPort != datagram.port)
                << "an answer to the request in flight was not taken";
          }
        }
        if (clock.Steady >= timeOutAt && timer2.Enabled()) {
          cycle->Timer2Timer();
          controller();
        }
        if (clock.Steady >= tickAt) {
          tickAt += 1s;
          cycle->Timer1Timer();
          controller();
        }
      }
      ASSERT_GE(rows.size(), 5u);
      for (std::size_t r = 0; r < rows.size(); ++r) {
        std::vector<uint16_t> values;
        for (int i = 0; i < deviceNum; ++i) {
          values.push_back(
              static_cast<uint16_t>(((static_cast<int>(r) * perRow + i / 8) * 8 + i % 8) & 0x7FFF));
        }
        std::string expected;
        CsvLog::AppendRowText(expected, stampOf.at(r), values, false);
        ASSERT_EQ(rows[r], expected) << "row " << r;
      }
    }
  }
}

}  // namespace
