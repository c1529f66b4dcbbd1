#include "monitor/read_cycle.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/handler_guard.h"
#include "monitor/clock.h"
#include "monitor/csv_log.h"
#include "monitor/cycle_timer.h"
#include "monitor/timer.h"
#include "net/udp_endpoint.h"
#include "tests/fakes/fake_socket_api.h"
#include "tests/monitor/close_failure.h"
#include "tests/test_support.h"

#include "tests/monitor/read_cycle_fixture.h"

namespace {

using namespace read_cycle_fixture;

// --- splitting a cycle into requests ------------------------------------------------------

TEST_F(ReadCycleTest, RequestsCoverDeviceNumInChunksOfEightOneAtATime) {
  const struct {
    int deviceNum;
    Texts requests;
  } cases[] = {{20, {Request(100, 8), Request(108, 8), Request(116, 4)}},
               {16, {Request(100, 8), Request(108, 8)}},
               {9, {Request(100, 8), Request(108, 1)}},
               {8, {Request(100, 8)}},
               {5, {Request(100, 5)}}};
  std::string log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.deviceNum);
    settings.DeviceNum = c.deviceNum;
    const size_t before = api.Sent().size();
    Run();
    for (size_t sent = 1; sent <= 5 && cycle->State().CycleBusy; ++sent) {
      EXPECT_EQ(api.Sent().size(), before + sent);  // one request at a time
      AnswerLast();
    }
    EXPECT_FALSE(cycle->State().CycleBusy);
    const Texts sent = SentBytes();
    EXPECT_EQ(Texts(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end()), c.requests);
    log += Header(100, c.deviceNum) + Row(100, c.deviceNum);
    EXPECT_EQ(LogText(), log);
  }
}

TEST_F(ReadCycleTest, RowTakesStampAtFirstReplyAndSignednessAtEachReply) {
  settings.DeviceNum = 9;
  clock.Time = {2001, 2, 3, 4, 5, 6};
  Run();
  clock.Time = {2004, 1, 10, 9, 5, 8};
  Deliver(Reply({1, 65535, 40000, 2, 3, 4, 5, 6}));
  clock.Time = {2004, 1, 10, 9, 5, 9};
  settings.Unsigned = 1;
  Deliver(Reply({65535}));
  EXPECT_EQ(LogText(), Header(100, 9) + kStamp + ",1,-1,-25536,2,3,4,5,6,65535\r\n");
}

// Only 1 logs unsigned; every other value, such as the -1 that the dialog stores for a blank
// sign list, logs signed.
TEST_F(ReadCycleTest, ValuesAreUnsignedOnlyWhenUnsignedIsOne) {
  settings.DeviceNum = 2;
  std::string log;
  for (const auto& [unsignedSetting, row] : std::initializer_list<std::pair<int32_t, const char*>>{
           {1, ",65535,40000"}, {0, ",-1,-25536"}, {-1, ",-1,-25536"}, {2, ",-1,-25536"}}) {
    SCOPED_TRACE(unsignedSetting);
    settings.Unsigned = unsignedSetting;
    Run();
    Deliver(Reply({65535, 40000}));
    log += Header(100, 2) + kStamp + row + "\r\n";
    EXPECT_EQ(LogText(), log);
  }
}

TEST_F(ReadCycleTest, RepeatCycleWritesRowWithoutHeaderAndRunTwiceWritesTwoHeaders) {
  settings.DeviceNum = 5;
  Run();
  AnswerLast();
  cycle->Timer1Timer();
  AnswerLast();
  Run();
  AnswerLast();
  EXPECT_EQ(LogText(), Header(100, 5) + Row(100, 5) + Row(100, 5) + Header(100, 5) + Row(100, 5));
}

// --- settings read at their moments ---------------------------------------------------------

TEST_F(ReadCycleTest, AddressAndPortAreReadForEveryRequestAndFailedSendFromReplyStalls) {
  Run();
  settings.PortNo = 8502;
  AnswerLast();
  ASSERT_EQ(api.Sent().size(), 2u);
  EXPECT_EQ(api.Sent()[0].toPort, 8501);
  EXPECT_EQ(api.Sent()[1].toPort, 8502);
  EXPECT_EQ(api.Sent()[1].toIp, "127.0.0.1");
  settings.IPAddress = "0.0.0.0";
  Deliver(Reply(Sequence(108, 8)));
  EXPECT_EQ(errors, Texts{"Null Remote Address"});
  EXPECT_EQ(api.Sent().size(), 2u);
  EXPECT_EQ(Flags(), "busy");
}

TEST_F(ReadCycleTest, DeviceSettingsAreTakenOnlyAtCycleStart) {
  Run();
  AnswerLast();
  settings.DeviceNum = 9;
  settings.DeviceStart = 500;
  settings.DeviceName = 1;
  AnswerLast();
  EXPECT_EQ(SentBytes().back(), Request(116, 4));
  AnswerLast();
  EXPECT_FALSE(cycle->State().CycleBusy);
  cycle->Timer1Timer();
  EXPECT_EQ(SentBytes().back(), "RDS TM00500 8\r\n");
}

// Each request, first or resent, sets both timers; Interval * 1000 is clamped to 32 bits.
TEST_F(ReadCycleTest, TimerIntervalsAreSetAtEveryRequest) {
  const struct {
    int32_t interval, timeOut, timer1, timer2;
  } cases[] = {{2, 300, 2000, 300},
               {5, 700, 5000, 700},
               {3000000, 1, INT32_MAX, 1},
               {0, 1, 0, 1},
               {-3000000, 1, 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.interval);
    settings.Interval = c.interval;
    settings.TimeOut = c.timeOut;
    if (&c == cases) {
      Run();
    } else {
      cycle->Timer2Timer();
    }
    EXPECT_TRUE(timer1.Enabled() && timer2.Enabled());
    EXPECT_EQ(c.interval < 0 && timer1.Interval() <= 0 ? 0 : timer1.Interval(), c.timer1);
    EXPECT_EQ(timer2.Interval(), c.timer2);
  }
}

TEST_F(ReadCycleTest, RunWhileUnansweredDoesNotRestartTimer2) {
  Run();
  const int restarts = timer2.Restarts;
  Run();
  EXPECT_EQ(timer2.Restarts, restarts);
  EXPECT_TRUE(timer2.Enabled());
  EXPECT_EQ(SentBytes(), Texts(2, Request(100, 8)));
}

// --- time-out and resend --------------------------------------------------------------------

TEST_F(ReadCycleTest, TimeOutResendsIdenticalRequestWithoutLimitAndOnlyWhileAwaited) {
  Run();
  AnswerLast();
  for (int i = 0; i < 4; ++i) cycle->Timer2Timer();
  Texts expected(6, Request(108, 8));
  expected[0] = Request(100, 8);
  EXPECT_EQ(SentBytes(), expected);
  EXPECT_EQ(api.Sent().back().toPort, 8501);
  EXPECT_EQ(statuses.back(), "UDP-Unresponced. Retrying.");
  EXPECT_TRUE(timer2.Enabled());
  AnswerLast();
  EXPECT_EQ(statuses.back(), "");
  EXPECT_EQ(SentBytes().back(), Request(116, 4));
  AnswerLast();
  const size_t statusCount = statuses.size();
  timer2.SetEnabled(true);
  cycle->Timer2Timer();  // a time-out with nothing awaited
  EXPECT_EQ(api.Sent().size(), 7u);
  EXPECT_FALSE(timer2.Enabled());
  EXPECT_EQ(statuses.size(), statusCount);
}

// A late answer to the first request is taken for the resend, its duplicate for the next request
// in flight; once the row is complete a further one changes nothing.
TEST_F(ReadCycleTest, LateDuplicatesAreTakenOnlyWhileRequestsAreInFlight) {
  settings.DeviceNum = 16;
  Run();
  cycle->Timer2Timer();
  const std::string reply = Reply(Sequence(1, 8));
  Deliver(reply);
  EXPECT_EQ(SentBytes().back(), Request(108, 8));
  Deliver(reply);
  EXPECT_EQ(Flags(), "idle");
  const int32_t chunkStart = cycle->State().ChunkStart;
  Deliver(reply);
  EXPECT_EQ(statuses.back(), "Unexpected-UDP-DataReceived 49Bytes. Abandond.");
  EXPECT_EQ(Flags(), "idle");
  EXPECT_EQ(cycle->State().ChunkStart, chunkStart);
  EXPECT_EQ(api.Sent().size(), 3u);
  EXPECT_EQ(LogText(), Header(100, 16) + kStamp + Values(1, 8) + Values(1, 8) + "\r\n");
}

// --- replies that are not taken -----------------------------------------------------------

TEST_F(ReadCycleTest, ReplyOfFourBytesFailsLengthTestStallsAndRunStartsOnNewLine) {
  settings.DeviceNum = 16;
  Run();
  AnswerLast();
  Deliver("E1\r\n");
  EXPECT_EQ(statuses.back(), "Unexpected-UDP-NumberBytes 4Bytes. Abandond.");
  EXPECT_EQ(Flags(), "busy");
  cycle->Timer1Timer();
  cycle->Timer2Timer();
  EXPECT_EQ(api.Sent().size(), 2u);
  const std::string stalled = Header(100, 16) + kStamp + Values(100, 8);
  EXPECT_EQ(LogText(), stalled);
  Run();
  EXPECT_EQ(SentBytes().back(), Request(100, 8));
  AnswerLast();
  AnswerLast();
  EXPECT_EQ(LogText(), stalled + "\r\n" + Header(100, 16) + Row(100, 16));
}

TEST_F(ReadCycleTest, ReplyFromAnotherAddressIsNotTaken) {
  settings.DeviceNum = 2;
  Run();
  Deliver(Reply({1, 2}), "127.0.0.2");
  EXPECT_EQ(statuses.back(), kUnexpected13);
  EXPECT_EQ(Flags(), "busy awaiting timer2");
  EXPECT_EQ(LogText(), "(none)");
  Deliver(Reply({3, 4}));
  EXPECT_FALSE(cycle->State().CycleBusy);
  EXPECT_EQ(LogText(), Header(100, 2) + kStamp + ",3,4\r\n");
}

// --- errors ---------------------------------------------------------------------------------

TEST_F(ReadCycleTest, NullRemoteAddressFailsRunBeforeWindowAndTimersAndResendKeepsAwaiting) {
  settings.IPAddress = "0.0.0.0";
  EXPECT_EQ(ErrorOf<UDPSockError>([this] { Run(); }), "Null Remote Address");
  EXPECT_EQ(shownRunning, 0);
  EXPECT_FALSE(timer1.Enabled());
  EXPECT_EQ(Flags(), "busy");
  settings.IPAddress = "127.0.0.1";
  Run();
  EXPECT_EQ(shownRunning, 1);
  settings.IPAddress = "0.0.0.0";
  EXPECT_THROW(cycle->Timer2Timer(), UDPSockError);
  EXPECT_EQ(Flags(), "busy awaiting");
  EXPECT_EQ(api.Sent().size(), 1u);
}

TEST_F(ReadCycleTest, UncreatableLogFailsReplyAfterItWasTaken) {
  const std::string error = UseUncreatableLog();
  Run();
  AnswerLast();
  EXPECT_EQ(errors, Texts{error});
  EXPECT_EQ(Flags(), "busy");
  cycle->Timer1Timer();
  cycle->Timer2Timer();
  EXPECT_EQ(api.Sent().size(), 1u);
}

// A file system may report a lost write only when the file is closed; that too is an error the
// operator sees, and the cycle stalls as after any log error.
TEST_F(ReadCycleTest, WriteErrorFoundOnlyAtCloseReachesTheOperator) {
  settings.DeviceNum = 2;
  Run();
  FailNextCloseOf(LogPath());
  AnswerLast();
  EXPECT_FALSE(CloseFailurePending());
  EXPECT_EQ(errors, Texts{"ファイル " + LogPath() + " に書き込めません"});
  EXPECT_EQ(Flags(), "busy");
}

// A count from the INI file that no controller has is refused at the header, as an error the
// operator sees; the cycle stalls like after any log error and nothing is written.
TEST_F(ReadCycleTest, HugeDeviceNumIsRefusedAtTheHeader) {
  settings.DeviceNum = INT32_MAX;
  Run();
  AnswerLast();
  EXPECT_EQ(errors, Texts{"個数 2147483647 は上限 100000 を超えています"});
  EXPECT_EQ(Flags(), "busy");
  EXPECT_EQ(LogText(), "(none)");
}

// Chunk starts near the 32-bit limit wrap, as the command's number field follows them, without
// overflowing (the sanitizer build checks the arithmetic).
TEST_F(ReadCycleTest, ChunkStartsWrapAtThe32BitLimit) {
  settings.DeviceStart = 2147483640;
  settings.DeviceNum = 17;
  Run();
  AnswerLast();
  Deliver(Reply(Sequence(1, 8)));
  EXPECT_EQ(SentBytes(), (Texts{"RDS DM21474 8\r\n", "RDS DM-2147 8\r\n", "RDS DM-2147 1\r\n"}));
  EXPECT_EQ(cycle->State().ChunkStart, INT32_MIN + 8);
}

// --- the Stop/close wait --------------------------------------------------------------------

TEST_F(ReadCycleTest, StopWaitEndsAtOnceWhenIdleAndAtRowEndWhenControllerAnswers) {
  cycle->StopWait();
  EXPECT_EQ(passes, 0);
  EXPECT_TRUE(timer3.Enabled());
  Run();
  dispatch = [this] { AnswerLast(); };
  cycle->StopWait();
  EXPECT_EQ(passes, 3);
  EXPECT_FALSE(cycle->State().CycleBusy);
  EXPECT_TRUE(timer3.Enabled());
  EXPECT_EQ(LogText(), Header(100, 20) + Row(100, 20));
}

TEST_F(ReadCycleTest, StopWaitEndsWhenTimer3FiresAndResendReenablesRepeat) {
  Run();
  dispatch = [this] {
    if (passes == 4) cycle->Timer3Timer();
  };
  cycle->StopWait();
  EXPECT_EQ(passes, 4);
  EXPECT_FALSE(timer3.Enabled());
  EXPECT_TRUE(cycle->State().AwaitingReply);
  timer1.SetEnabled(false);  // as Stop does
  cycle->Timer2Timer();
  EXPECT_TRUE(timer1.Enabled());
  EXPECT_EQ(SentBytes(), Texts(2, Request(100, 8)));
}

TEST_F(ReadCycleTest, ErrorOfReplyHandledInsideStopWaitLeavesIt) {
  const std::string error = UseUncreatableLog();
  Run();
  // If the error were swallowed, this ends the wait instead, and the test fails.
  QObject watchdogScope;
  QTimer::singleShot(1000, &watchdogScope, [this] { cycle->Timer3Timer(); });
  dispatch = [this] {
    if (passes == 1) api.Deliver(Reply(Sequence(1, 8)), "127.0.0.1", 8501);
    HandlerGuard::DispatchPass();
  };
  EXPECT_EQ(ErrorOf<Exception>([this] { cycle->StopWait(); }), error);
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(timer3.Enabled());
}

// --- the window timer -----------------------------------------------------------------------

// Runs the event loop until the timer fires or the bound passes; true when it fired. A given
// `failure` is thrown from the timer's handler.
bool FiresWithin(TTimer& timer, int boundMs, const std::function<void()>& eachTick = {},
                 const char* failure = nullptr) {
  QEventLoop loop;
  bool fired = false;
  timer.OnTimer = [&] {
    fired = true;
    loop.quit();
    if (failure != nullptr) throw Exception(failure);
  };
  QTimer::singleShot(boundMs, &loop, &QEventLoop::quit);
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (eachTick) eachTick();
  });
  tick.start(10);
  loop.exec();
  timer.OnTimer = nullptr;
  return fired;
}

TEST(TTimerTest, StartsDisabledWithOneSecondAndFiresOnlyWhileEnabledWithPositiveInterval) {
  Texts reported;
  const auto previous =
      HandlerGuard::SetReporter([&](const std::string& m) { reported.push_back(m); });
  TTimer timer;
  EXPECT_EQ(timer.Interval(), 1000);
  EXPECT_FALSE(FiresWithin(timer, 150));
  timer.SetInterval(20);
  timer.SetEnabled(true);
  EXPECT_TRUE(FiresWithin(timer, 5000));
  EXPECT_TRUE(FiresWithin(timer, 5000, {}, "tick failed"));  // reported, and it fires on
  EXPECT_TRUE(FiresWithin(timer, 5000));
  HandlerGuard::SetReporter(previous);
  EXPECT_EQ(reported, Texts{"tick failed"});
  for (const int32_t interval : {0, -20, INT32_MAX}) {
    timer.SetInterval(interval);
    EXPECT_FALSE(FiresWithin(timer, 150)) << interval;
  }
  timer.SetInterval(20);
  timer.SetEnabled(false);
  EXPECT_FALSE(FiresWithin(timer, 150));
}

TEST(TTimerTest, SettingSameValuesDoesNotRestartPeriod) {
  TTimer timer;
  timer.SetInterval(100);
  timer.SetEnabled(true);
  // Ticks every 10 ms: a timer restarted by them would never reach its 100 ms.
  EXPECT_TRUE(FiresWithin(timer, 5000, [&] {
    timer.SetEnabled(true);
    timer.SetInterval(100);
  }));
}

}  // namespace
