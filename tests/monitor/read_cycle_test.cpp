#include "monitor/read_cycle.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <climits>
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/exception.h"
#include "app/handler_guard.h"
#include "monitor/clock.h"
#include "monitor/csv_log.h"
#include "monitor/cycle_timer.h"
#include "monitor/timer.h"
#include "net/udp_endpoint.h"
#include "tests/fakes/fake_socket_api.h"

namespace {

// Records what the cycle sets; a restart is a change that leaves the timer running.
class FakeTimer final : public CycleTimer {
 public:
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override { Change(enabled, interval_); }
  int32_t Interval() const override { return interval_; }
  void SetInterval(int32_t milliseconds) override { Change(enabled_, milliseconds); }
  int Restarts = 0;

 private:
  void Change(bool enabled, int32_t interval) {
    if (enabled == enabled_ && interval == interval_) return;
    enabled_ = enabled;
    interval_ = interval;
    if (enabled_ && interval_ > 0) ++Restarts;
  }
  bool enabled_ = false;
  int32_t interval_ = 1000;
};

class FakeClock final : public Clock {
 public:
  LocalDateTime Now() const override { return Time; }
  LocalDateTime Time{2004, 1, 10, 9, 5, 8};
};

// Five-digit fields separated by blanks, CR LF after the last: 6 * fields + 1 bytes.
std::string Reply(const std::vector<int>& fields) {
  std::string text;
  for (size_t i = 0; i < fields.size(); ++i) {
    char field[16];
    std::snprintf(field, sizeof field, "%5.5d", fields[i]);
    text += (i == 0 ? "" : " ") + std::string(field);
  }
  return text + "\r\n";
}

std::vector<int> Sequence(int first, int count) {
  std::vector<int> values;
  for (int i = 0; i < count; ++i) values.push_back(first + i);
  return values;
}

std::string Header(int start, int num) {
  std::string text = "YYYY-MM-DD,HH:MM:SS";
  for (int d = start; d < start + num; ++d) {
    char column[16];
    std::snprintf(column, sizeof column, ",DM%5.5d", d);
    text += column;
  }
  return text + "\r\n";
}

std::string Values(int first, int count) {
  std::string text;
  for (const int v : Sequence(first, count)) text += "," + std::to_string(v);
  return text;
}

// The message of what the call throws; fails the test when it throws nothing.
template <typename E = Exception>
std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const E& error) {
    return error.what();
  }
  ADD_FAILURE() << "nothing thrown";
  return {};
}

const std::string kStamp = "2004-01-10,09:05:08";
const std::string kUnexpected13 = "Unexpected-UDP-DataReceived 13Bytes. Abandond.";

class ReadCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    settings.IPAddress = "127.0.0.1";
    settings.PortNo = 8501;
    settings.DeviceStart = 100;
    settings.DeviceNum = 20;
    endpoint.SetRemotePort(0);
    endpoint.SetLocalPort(0);
    endpoint.SetReportLevel(1);
    endpoint.OnDataReceived = [this](TUDPEndpoint&, int32_t n, const std::string& ip, int32_t p) {
      cycle->UDPEndpoint1DataReceived(n, ip, p);
    };
    endpoint.BindLocal();
    previousReporter_ =
        HandlerGuard::SetReporter([this](const std::string& m) { errors.push_back(m); });
    Build(dir_.filePath("log.csv").toStdString());
  }
  void TearDown() override { HandlerGuard::SetReporter(previousReporter_); }

  void Build(const std::string& logPath) {
    log_ = std::make_unique<CsvLog>(logPath);
    // Every wait is bounded: a loop that does not end when it should is left by force.
    auto pass = [this] {
      if (++passes > 50) throw std::runtime_error("StopWait did not end");
      if (dispatch) dispatch();
    };
    auto status = [this](const std::string& text) { statuses.push_back(text); };
    cycle = std::make_unique<ReadCycle>(
        ReadCycle::Parts{settings, endpoint, timer1, timer2, timer3, *log_, clock, status, pass});
  }

  void Run() {
    cycle->BeginMonitoring([this] { ++shownRunning; });
  }
  void Deliver(const std::string& bytes, const std::string& from = "127.0.0.1") {
    api.Deliver(bytes, from, 8501);
    QCoreApplication::sendPostedEvents();
  }
  // Answers the request in flight with one value per device, each the device's own number.
  void AnswerLast() {
    const std::string& last = api.Sent().back().bytes;
    Deliver(Reply(Sequence(std::stoi(last.substr(6, 5)), last[12] - '0')));
  }
  // A log in a directory that does not exist: it can be neither opened nor created.
  std::string UseUncreatableLog() {
    const std::string path = dir_.filePath("missing/log.csv").toStdString();
    Build(path);
    return path;
  }
  std::vector<std::string> SentBytes() const {
    std::vector<std::string> bytes;
    for (const auto& d : api.Sent()) bytes.push_back(d.bytes);
    return bytes;
  }
  std::string LogText() const {
    QFile file(QString::fromStdString(log_->FileName()));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("(none)");
  }

  FakeSocketApi api;
  TUDPEndpoint endpoint{api};
  MonitorSettings settings;
  FakeTimer timer1, timer2, timer3;
  FakeClock clock;
  std::vector<std::string> statuses;
  std::vector<std::string> errors;
  std::function<void()> dispatch;
  int passes = 0;
  int shownRunning = 0;
  std::unique_ptr<ReadCycle> cycle;

 private:
  QTemporaryDir dir_;
  std::unique_ptr<CsvLog> log_;
  HandlerGuard::Reporter previousReporter_;
};

// --- splitting a cycle into requests ------------------------------------------------------

class ReadCycleSplitTest : public ReadCycleTest {};

TEST_F(ReadCycleSplitTest, TwentyDevicesAreReadAsEightEightFourOneAtATime) {
  Run();
  EXPECT_EQ(SentBytes(), std::vector<std::string>{"RDS DM00100 8\r\n"});
  AnswerLast();
  EXPECT_EQ(SentBytes().back(), "RDS DM00108 8\r\n");
  AnswerLast();
  EXPECT_EQ(SentBytes().back(), "RDS DM00116 4\r\n");
  EXPECT_TRUE(cycle->State().CycleBusy);
  AnswerLast();
  EXPECT_EQ(api.Sent().size(), 3u);
  EXPECT_FALSE(cycle->State().CycleBusy);
  EXPECT_EQ(LogText(), Header(100, 20) + kStamp + Values(100, 20) + "\r\n");
}

struct SplitCase {
  int deviceNum;
  std::vector<std::string> requests;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << "DeviceNum " << c.deviceNum; }

class ReadCycleChunkTest : public ReadCycleTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(ReadCycleChunkTest, RequestsCoverDeviceNumInChunksOfEight) {
  settings.DeviceNum = GetParam().deviceNum;
  Run();
  for (int i = 0; i < 5 && cycle->State().CycleBusy; ++i) AnswerLast();
  EXPECT_FALSE(cycle->State().CycleBusy);
  EXPECT_EQ(SentBytes(), GetParam().requests);
  EXPECT_EQ(LogText(),
            Header(100, settings.DeviceNum) + kStamp + Values(100, settings.DeviceNum) + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Counts, ReadCycleChunkTest,
                         ::testing::Values(SplitCase{16,
                                                     {"RDS DM00100 8\r\n", "RDS DM00108 8\r\n"}},
                                           SplitCase{8, {"RDS DM00100 8\r\n"}},
                                           SplitCase{9, {"RDS DM00100 8\r\n", "RDS DM00108 1\r\n"}},
                                           SplitCase{5, {"RDS DM00100 5\r\n"}}));

TEST_F(ReadCycleSplitTest, RowTakesStampAtFirstReplyAndSignednessAtEachReply) {
  settings.DeviceNum = 9;
  clock.Time = {2001, 2, 3, 4, 5, 6};
  Run();
  clock.Time = {2004, 1, 10, 9, 5, 8};
  Deliver(Reply({1, 65535, 40000, 2, 3, 4, 5, 6}));
  clock.Time = {2004, 1, 10, 9, 5, 9};
  settings.Unsigned = 1;
  Deliver(Reply({65535}));
  EXPECT_EQ(LogText(),
            "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101,DM00102,DM00103,DM00104,DM00105,DM00106,DM00107,"
            "DM00108\r\n2004-01-10,09:05:08,1,-1,-25536,2,3,4,5,6,65535\r\n");
}

TEST_F(ReadCycleSplitTest, RepeatCycleWritesRowWithoutHeaderAndRunTwiceWritesTwoHeaders) {
  settings.DeviceNum = 5;
  Run();
  AnswerLast();
  cycle->Timer1Timer();
  AnswerLast();
  Run();
  AnswerLast();
  const std::string row = kStamp + Values(100, 5) + "\r\n";
  EXPECT_EQ(LogText(), Header(100, 5) + row + row + Header(100, 5) + row);
}

// --- settings read at their moments ---------------------------------------------------------

class ReadCycleSettingsTest : public ReadCycleTest {};

TEST_F(ReadCycleSettingsTest, PortIsReadForEveryRequest) {
  settings.DeviceNum = 16;
  Run();
  settings.PortNo = 8502;
  AnswerLast();
  ASSERT_EQ(api.Sent().size(), 2u);
  EXPECT_EQ(api.Sent()[0].toPort, 8501);
  EXPECT_EQ(api.Sent()[1].toPort, 8502);
  EXPECT_EQ(api.Sent()[1].toIp, "127.0.0.1");
}

TEST_F(ReadCycleSettingsTest, AddressIsReadForEveryRequestAndFailedSendFromReplyStalls) {
  settings.DeviceNum = 16;
  Run();
  settings.IPAddress = "0.0.0.0";
  AnswerLast();
  EXPECT_EQ(errors, std::vector<std::string>{"Null Remote Address"});
  EXPECT_EQ(api.Sent().size(), 1u);
  EXPECT_TRUE(cycle->State().CycleBusy);
  EXPECT_FALSE(cycle->State().AwaitingReply);
  EXPECT_FALSE(timer2.Enabled());
}

TEST_F(ReadCycleSettingsTest, DeviceSettingsAreTakenOnlyAtCycleStart) {
  Run();
  AnswerLast();
  settings.DeviceNum = 9;
  settings.DeviceStart = 500;
  settings.DeviceName = 1;
  AnswerLast();
  EXPECT_EQ(SentBytes().back(), "RDS DM00116 4\r\n");
  AnswerLast();
  EXPECT_FALSE(cycle->State().CycleBusy);
  cycle->Timer1Timer();
  EXPECT_EQ(SentBytes().back(), "RDS TM00500 8\r\n");
}

TEST_F(ReadCycleSettingsTest, TimerIntervalsAreSetAtEveryRequest) {
  settings.Interval = 2;
  settings.TimeOut = 300;
  settings.DeviceNum = 16;
  Run();
  EXPECT_TRUE(timer1.Enabled());
  EXPECT_EQ(timer1.Interval(), 2000);
  EXPECT_TRUE(timer2.Enabled());
  EXPECT_EQ(timer2.Interval(), 300);
  settings.Interval = 5;
  settings.TimeOut = 700;
  AnswerLast();
  EXPECT_EQ(timer1.Interval(), 5000);
  EXPECT_EQ(timer2.Interval(), 700);
}

TEST_F(ReadCycleSettingsTest, HugeIntervalIsClampedAndZeroStaysZero) {
  settings.Interval = 3000000;
  Run();
  EXPECT_EQ(timer1.Interval(), INT32_MAX);
  settings.Interval = 0;
  cycle->Timer2Timer();
  EXPECT_EQ(timer1.Interval(), 0);
  settings.Interval = -3000000;
  cycle->Timer2Timer();
  EXPECT_LE(timer1.Interval(), 0);
}

TEST_F(ReadCycleSettingsTest, RunWhileUnansweredDoesNotRestartTimer2) {
  Run();
  const int restarts = timer2.Restarts;
  Run();
  EXPECT_EQ(timer2.Restarts, restarts);
  EXPECT_TRUE(timer2.Enabled());
  EXPECT_EQ(SentBytes(), std::vector<std::string>(2, "RDS DM00100 8\r\n"));
}

// --- time-out and resend --------------------------------------------------------------------

class ReadCycleTimeOutTest : public ReadCycleTest {};

TEST_F(ReadCycleTimeOutTest, TimeOutResendsIdenticalRequestWithoutLimit) {
  Run();
  AnswerLast();
  for (int i = 0; i < 4; ++i) cycle->Timer2Timer();
  EXPECT_EQ(SentBytes(), (std::vector<std::string>{"RDS DM00100 8\r\n", "RDS DM00108 8\r\n",
                                                   "RDS DM00108 8\r\n", "RDS DM00108 8\r\n",
                                                   "RDS DM00108 8\r\n", "RDS DM00108 8\r\n"}));
  EXPECT_EQ(api.Sent().back().toPort, 8501);
  EXPECT_EQ(statuses.back(), "UDP-Unresponced. Retrying.");
  EXPECT_TRUE(timer2.Enabled());
  AnswerLast();
  EXPECT_EQ(statuses.back(), "");
  EXPECT_EQ(SentBytes().back(), "RDS DM00116 4\r\n");
}

TEST_F(ReadCycleTimeOutTest, TimeOutWithNothingAwaitedSendsNothing) {
  settings.DeviceNum = 5;
  Run();
  AnswerLast();
  const size_t statusCount = statuses.size();
  timer2.SetEnabled(true);
  cycle->Timer2Timer();
  EXPECT_EQ(api.Sent().size(), 1u);
  EXPECT_FALSE(timer2.Enabled());
  EXPECT_EQ(statuses.size(), statusCount);
}

TEST_F(ReadCycleTimeOutTest, LateDuplicateIsTakenForNextRequestInFlight) {
  settings.DeviceNum = 16;
  Run();
  cycle->Timer2Timer();
  const std::string reply = Reply(Sequence(1, 8));
  Deliver(reply);
  EXPECT_EQ(SentBytes().back(), "RDS DM00108 8\r\n");
  Deliver(reply);
  EXPECT_FALSE(cycle->State().CycleBusy);
  EXPECT_EQ(LogText(), Header(100, 16) + kStamp + Values(1, 8) + Values(1, 8) + "\r\n");
}

TEST_F(ReadCycleTimeOutTest, LateDuplicateAfterRowEndIsUnexpected) {
  settings.DeviceNum = 2;
  Run();
  cycle->Timer2Timer();
  Deliver(Reply({7, 8}));
  Deliver(Reply({7, 8}));
  EXPECT_EQ(statuses.back(), kUnexpected13);
  EXPECT_EQ(LogText(), Header(100, 2) + kStamp + ",7,8\r\n");
}

// --- replies that are not taken -----------------------------------------------------------

class ReadCycleBadReplyTest : public ReadCycleTest {};

TEST_F(ReadCycleBadReplyTest, ReplyOfFourBytesFailsLengthTestAndStalls) {
  Run();
  Deliver("E1\r\n");
  EXPECT_EQ(statuses.back(), "Unexpected-UDP-NumberBytes 4Bytes. Abandond.");
  EXPECT_TRUE(cycle->State().CycleBusy);
  EXPECT_FALSE(cycle->State().AwaitingReply);
  EXPECT_FALSE(timer2.Enabled());
  cycle->Timer1Timer();
  cycle->Timer2Timer();
  EXPECT_EQ(api.Sent().size(), 1u);
  EXPECT_EQ(LogText(), "(none)");
}

TEST_F(ReadCycleBadReplyTest, RunAfterStallStartsHeaderOnNewLine) {
  settings.DeviceNum = 16;
  Run();
  AnswerLast();
  Deliver("E1\r\n");
  Run();
  EXPECT_EQ(SentBytes().back(), "RDS DM00100 8\r\n");
  AnswerLast();
  AnswerLast();
  EXPECT_EQ(LogText(), Header(100, 16) + kStamp + Values(100, 8) + "\r\n" + Header(100, 16) +
                           kStamp + Values(100, 16) + "\r\n");
}

TEST_F(ReadCycleBadReplyTest, DatagramWhileIdleChangesNothing) {
  settings.DeviceNum = 5;
  Run();
  AnswerLast();
  const PollCycle before = cycle->State();
  const std::string log = LogText();
  Deliver(Reply({1, 2}));
  EXPECT_EQ(statuses.back(), kUnexpected13);
  EXPECT_EQ(cycle->State().CycleBusy, before.CycleBusy);
  EXPECT_EQ(cycle->State().AwaitingReply, before.AwaitingReply);
  EXPECT_EQ(cycle->State().ChunkStart, before.ChunkStart);
  EXPECT_EQ(api.Sent().size(), 1u);
  EXPECT_EQ(LogText(), log);
}

TEST_F(ReadCycleBadReplyTest, ReplyFromAnotherAddressIsNotTaken) {
  settings.DeviceNum = 2;
  Run();
  Deliver(Reply({1, 2}), "127.0.0.2");
  EXPECT_EQ(statuses.back(), kUnexpected13);
  EXPECT_TRUE(cycle->State().AwaitingReply);
  EXPECT_TRUE(timer2.Enabled());
  EXPECT_EQ(LogText(), "(none)");
  Deliver(Reply({3, 4}));
  EXPECT_FALSE(cycle->State().CycleBusy);
  EXPECT_EQ(LogText(), Header(100, 2) + kStamp + ",3,4\r\n");
}

// --- errors ---------------------------------------------------------------------------------

class ReadCycleErrorTest : public ReadCycleTest {};

TEST_F(ReadCycleErrorTest, NullRemoteAddressFailsRunBeforeTimersAreArmed) {
  settings.IPAddress = "0.0.0.0";
  EXPECT_EQ(ErrorOf<UDPSockError>([this] { Run(); }), "Null Remote Address");
  EXPECT_EQ(shownRunning, 0);
  EXPECT_FALSE(timer1.Enabled());
  EXPECT_FALSE(timer2.Enabled());
  EXPECT_FALSE(cycle->State().AwaitingReply);
  EXPECT_TRUE(cycle->State().CycleBusy);
}

TEST_F(ReadCycleErrorTest, FailedResendKeepsReplyAwaited) {
  Run();
  EXPECT_EQ(shownRunning, 1);
  settings.IPAddress = "0.0.0.0";
  EXPECT_THROW(cycle->Timer2Timer(), UDPSockError);
  EXPECT_TRUE(cycle->State().AwaitingReply);
  EXPECT_FALSE(timer2.Enabled());
  EXPECT_EQ(api.Sent().size(), 1u);
}

TEST_F(ReadCycleErrorTest, UncreatableLogFailsReplyAfterItWasTaken) {
  const std::string path = UseUncreatableLog();
  Run();
  AnswerLast();
  EXPECT_EQ(errors, std::vector<std::string>{"ファイル " + path + " を作成できません"});
  EXPECT_FALSE(cycle->State().AwaitingReply);
  EXPECT_TRUE(cycle->State().CycleBusy);
  cycle->Timer1Timer();
  cycle->Timer2Timer();
  EXPECT_EQ(api.Sent().size(), 1u);
}

// --- the Stop/close wait --------------------------------------------------------------------

class ReadCycleStopWaitTest : public ReadCycleTest {};

TEST_F(ReadCycleStopWaitTest, IdleCycleReturnsAtOnce) {
  cycle->StopWait();
  EXPECT_EQ(passes, 0);
  EXPECT_TRUE(timer3.Enabled());
}

TEST_F(ReadCycleStopWaitTest, AnsweringControllerEndsWaitAtRowEnd) {
  Run();
  dispatch = [this] { AnswerLast(); };
  cycle->StopWait();
  EXPECT_EQ(passes, 3);
  EXPECT_FALSE(cycle->State().CycleBusy);
  EXPECT_TRUE(timer3.Enabled());
  EXPECT_EQ(LogText(), Header(100, 20) + kStamp + Values(100, 20) + "\r\n");
}

TEST_F(ReadCycleStopWaitTest, SilentControllerEndsWaitWhenTimer3Fires) {
  Run();
  dispatch = [this] {
    if (passes == 4) cycle->Timer3Timer();
  };
  cycle->StopWait();
  EXPECT_EQ(passes, 4);
  EXPECT_FALSE(timer3.Enabled());
  EXPECT_TRUE(cycle->State().AwaitingReply);
  // Stop disables the repeat timer; the next resend enables it again.
  timer1.SetEnabled(false);
  cycle->Timer2Timer();
  EXPECT_TRUE(timer1.Enabled());
  EXPECT_EQ(SentBytes(), std::vector<std::string>(2, "RDS DM00100 8\r\n"));
}

TEST_F(ReadCycleStopWaitTest, ErrorOfReplyHandledInsideWaitLeavesIt) {
  const std::string path = UseUncreatableLog();
  Run();
  // If the error were swallowed, this ends the wait instead, and the test fails.
  QObject watchdogScope;
  QTimer::singleShot(1000, &watchdogScope, [this] { cycle->Timer3Timer(); });
  dispatch = [this] {
    if (passes == 1) api.Deliver(Reply(Sequence(1, 8)), "127.0.0.1", 8501);
    HandlerGuard::DispatchPass();
  };
  EXPECT_EQ(ErrorOf([this] { cycle->StopWait(); }), "ファイル " + path + " を作成できません");
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(timer3.Enabled());
}

// --- the window timer -----------------------------------------------------------------------

// Runs the event loop until the timer fires or the bound passes; true when it fired.
bool FiresWithin(TTimer& timer, int boundMs, const std::function<void()>& eachTick = {}) {
  QEventLoop loop;
  bool fired = false;
  timer.OnTimer = [&] {
    fired = true;
    loop.quit();
  };
  QTimer bound;
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
  bound.start(boundMs);
  QTimer tick;
  if (eachTick) {
    QObject::connect(&tick, &QTimer::timeout, eachTick);
    tick.start(10);
  }
  loop.exec();
  timer.OnTimer = nullptr;
  return fired;
}

TEST(TTimerTest, StartsDisabledWithOneSecond) {
  TTimer timer;
  EXPECT_FALSE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000);
  EXPECT_FALSE(FiresWithin(timer, 150));
}

TEST(TTimerTest, EnabledTimerFiresAndDisablingStopsIt) {
  TTimer timer;
  timer.SetInterval(20);
  timer.SetEnabled(true);
  EXPECT_TRUE(FiresWithin(timer, 5000));
  EXPECT_TRUE(FiresWithin(timer, 5000));
  timer.SetEnabled(false);
  EXPECT_FALSE(FiresWithin(timer, 150));
}

TEST(TTimerTest, ZeroOrNegativeIntervalNeverFires) {
  TTimer timer;
  timer.SetEnabled(true);
  timer.SetInterval(0);
  EXPECT_FALSE(FiresWithin(timer, 150));
  timer.SetInterval(-20);
  EXPECT_FALSE(FiresWithin(timer, 150));
  timer.SetInterval(INT32_MAX);
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

TEST(TTimerTest, HandlerErrorReachesReporter) {
  std::vector<std::string> reported;
  const auto previous =
      HandlerGuard::SetReporter([&](const std::string& m) { reported.push_back(m); });
  TTimer timer;
  timer.SetInterval(10);
  timer.SetEnabled(true);
  QEventLoop loop;
  timer.OnTimer = [&] {
    loop.quit();
    throw Exception("tick failed");
  };
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
  loop.exec();
  timer.SetEnabled(false);
  HandlerGuard::SetReporter(previous);
  ASSERT_FALSE(reported.empty());
  EXPECT_EQ(reported.front(), "tick failed");
}

}  // namespace
