#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/monitor_settings.h"
#include "base/handler_guard.h"
#include "monitor/read_cycle.h"
#include "tests/app/unprivileged_scope.h"
#include "tests/test_support.h"
#include "tests/ui/main_window_fixture.h"
#include "tools/sim/controller_simulator.h"
#include "ui/main_window.h"

namespace main_window_fixture {
namespace {

// --- Window and displays ---

TEST_F(MainWindowTest, WindowControlsTabOrderAndStartDisplayTest) {
  CreateForm();
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Varnel Ver 0.1 2004-01-10"));
  EXPECT_EQ(form_->size(), QSize(324, 124));
  EXPECT_EQ(form_->minimumSize(), QSize(324, 124));
  EXPECT_EQ(form_->maximumSize(), QSize(324, 124));
  const Qt::WindowFlags flags = form_->windowFlags();
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
  EXPECT_EQ(form_->Label10->text(), QStringLiteral("ステータス"));
  EXPECT_EQ(form_->Label10->pos(), QPoint(22, 21));
  EXPECT_EQ(form_->Label1->text(), QStringLiteral("実行中"));
  EXPECT_EQ(form_->Label1->pos(), QPoint(102, 53));
  EXPECT_EQ(form_->Edit2->geometry(), QRect(95, 15, 219, 20));
  EXPECT_TRUE(form_->Edit2->isReadOnly());
  EXPECT_TRUE(form_->Edit2->text().isEmpty());
  EXPECT_FALSE(form_->Edit2->focusPolicy() & Qt::TabFocus);
  ExpectStartDisplay();
  EXPECT_EQ(form_->LogFileName(), kLogName);

  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  form_->Button5->setFocus(Qt::TabFocusReason);
  // Tab order is the order of this table, from the last button round to the first.
  const std::tuple<QPushButton*, const char*, QRect> buttons[] = {
      {form_->Button4, "設定", {8, 44, 75, 25}},
      {form_->Button2, "実行", {157, 44, 75, 25}},
      {form_->Button3, "停止", {239, 44, 75, 25}},
      {form_->Button1, "終了", {9, 85, 75, 25}},
      {form_->Button5, "バージョン", {239, 85, 75, 25}}};
  for (const auto& [button, caption, geometry] : buttons) {
    SCOPED_TRACE(caption);
    EXPECT_EQ(button->text(), QString::fromUtf8(caption));
    EXPECT_EQ(button->geometry(), geometry);
    EXPECT_FALSE(button->isDefault());
    EXPECT_FALSE(button->autoDefault());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), button);
  }
}

TEST_F(MainWindowTest, DatagramWhileIdleIsDroppedAndStopClearsTheStatusTest) {
  CreateForm();
  api_.Deliver("00001 00002\r\n", "127.0.0.1", static_cast<uint16_t>(settings_.PortNo));
  Settle();
  EXPECT_EQ(Status(), "Unexpected-UDP-DataReceived 13Bytes. Abandond.");
  ExpectStartDisplay();
  Click(form_->Button3);
  EXPECT_EQ(Status(), "");
  ExpectStoppedDisplay();
  EXPECT_FALSE(form_->Timer1.Enabled());
  EXPECT_FALSE(form_->Timer2.Enabled());
  ElapseAll();
  EXPECT_EQ(api_.Requests(), Texts{});
  EXPECT_TRUE(NoLog());
}

TEST_F(MainWindowTest, RunSendsFirstRequestBeforeShowingRunningTest) {
  CreateForm();
  // Whether the first request was sent when the label appeared; unset if it never did.
  std::optional<bool> sentWhenShown;
  struct ShowWatcher : QObject {
    std::function<void()> onShow;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Show) onShow();
      return false;
    }
  } watcher;
  watcher.onShow = [&] { sentWhenShown = api_.Requests() == Texts{Command("DM", 100, 8)}; };
  form_->Label1->installEventFilter(&watcher);
  Click(form_->Button2);
  form_->Label1->removeEventFilter(&watcher);
  EXPECT_EQ(sentWhenShown, std::optional<bool>(true));
  ExpectRunningDisplay();
  EXPECT_EQ(Status(), "");
  EXPECT_TRUE(form_->Timer1.Enabled());
}

// --- Cycles against an answering controller ---

TEST_F(MainWindowTest, TwentyRegistersAreReadAsEightEightFourOneRowPerCycleTest) {
  settings_.Interval = 1;
  api_.AnswerEach(Fault::Kind::kNone);
  CreateForm(true);
  Settle();
  EXPECT_EQ(form_->Timer1.Interval(), 1000);
  ASSERT_TRUE(Elapse(form_->Timer1));
  Settle();
  const std::string cycle[] = {Command("DM", 100, 8), Command("DM", 108, 8), Command("DM", 116, 4)};
  Texts twice(std::begin(cycle), std::end(cycle));
  twice.insert(twice.end(), std::begin(cycle), std::end(cycle));
  EXPECT_EQ(api_.Requests(), twice);
  EXPECT_EQ(Log(), Header("DM", 100, 20) + Row(0, 100, 20) + Row(0, 100, 20));
  EXPECT_EQ(Status(), "");
  ExpectRunningDisplay();
  EXPECT_TRUE(form_->Timer1.Enabled());
  EXPECT_FALSE(form_->Timer2.Enabled());
}

// With Interval 0 each run is one cycle.
TEST_F(MainWindowTest, RowsFollowKindAndSignSettingsTest) {
  struct Case {
    uint8_t kind;
    int32_t first, count, unsignedValues;
    const char* code;
    const char* shows;  // a value only this sign setting writes so
  };
  const Case cases[] = {{0, 100, 8, 0, "DM", ",-32456"},  // DM104 is 33080 on the wire
                        {0, 100, 8, 1, "DM", ",33080"},
                        {1, 7, 3, 0, "TM", ",-31744"},      // TM8 is 33792
                        {0, 100, 20, 0, "DM", ",-16060"}};  // DM108 is 49476
  api_.AnswerEach(Fault::Kind::kNone);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code + std::to_string(c.unsignedValues));
    settings_.DeviceName = c.kind;
    settings_.DeviceStart = c.first;
    settings_.DeviceNum = c.count;
    settings_.Unsigned = c.unsignedValues;
    const size_t before = api_.Sent().size();
    CreateForm(true);
    Settle();
    ElapseAll();
    ASSERT_EQ(api_.Sent().size(), before + (c.count + 7) / 8);
    const int32_t last = (c.count - 1) % 8 + 1;
    EXPECT_EQ(api_.Requests().back(), Command(c.code, c.first + c.count - last, last));
    const std::string expected =
        Header(c.code, c.first, c.count) + Row(c.kind, c.first, c.count, c.unsignedValues);
    EXPECT_EQ(Log(), expected);
    EXPECT_NE(Log().find(c.shows), std::string::npos) << Log();
    form_.reset();
    ASSERT_TRUE(QFile::remove(LogPath()));
  }
}

TEST_F(MainWindowTest, LateReplyIsTakenForRequestInFlightTest) {
  const ValuePattern counter{ValuePattern::Kind::kCounter, 0};
  api_.SetPattern(counter);
  CreateSmallAndRun(Fault::Kind::kSilent);
  // Two time-outs pass before the first answer arrives.
  for (int resend = 0; resend < 2; ++resend) {
    ASSERT_TRUE(Elapse(form_->Timer2));
    EXPECT_EQ(Status(), "UDP-Unresponced. Retrying.");
  }
  for (size_t request = 0; request < 3; ++request) api_.Answer(request);
  Settle();
  EXPECT_EQ(Status(), "Unexpected-UDP-DataReceived 49Bytes. Abandond.");
  // The answer to the first command (counter 0) filled the row; the later ones were dropped.
  EXPECT_EQ(Log(), Header("DM", 100, 8) + kStamp + Values(0, 100, 8, false, counter) + "\r\n");
  EXPECT_EQ(api_.Requests(), Texts(3, Command("DM", 100, 8)));
}

// --- Faults ---

TEST_F(MainWindowTest, UnansweredRequestIsSentAgainAndAgainTest) {
  // An answer from another address is no answer.
  const std::pair<Fault::Kind, const char*> cases[] = {
      {Fault::Kind::kSilent, "UDP-Unresponced. Retrying."},
      {Fault::Kind::kAltAddress, "Unexpected-UDP-DataReceived 49Bytes. Abandond."}};
  for (const auto& [fault, status] : cases) {
    SCOPED_TRACE(status);
    const size_t before = api_.Sent().size();
    CreateSmallAndRun(fault);
    for (int resend = 0; resend < 4; ++resend) {
      Settle();
      EXPECT_EQ(form_->Timer2.Interval(), 100);
      ASSERT_TRUE(Elapse(form_->Timer2));
    }
    Settle();
    EXPECT_EQ(Status(), status);
    EXPECT_EQ(api_.Requests(), Texts(before + 5, Command("DM", 100, 8)));
    EXPECT_TRUE(form_->Cycle().State().AwaitingReply);
    EXPECT_TRUE(form_->Timer2.Enabled());
    EXPECT_TRUE(NoLog());
    ExpectRunningDisplay();
    form_.reset();
  }
}

TEST_F(MainWindowTest, ErrorOrShortAnswerStallsWithoutRetryTest) {
  settings_.Interval = 1;
  // {kind, fault, request, status}: an unknown kind is sent as blanks and answered "E1".
  const std::tuple<uint8_t, Fault::Kind, std::string, const char*> cases[] = {
      {5, Fault::Kind::kNone, Command("  ", 100, 8),
       "Unexpected-UDP-NumberBytes 4Bytes. Abandond."},
      {0, Fault::Kind::kBadLength, Command("DM", 100, 8),
       "Unexpected-UDP-NumberBytes 48Bytes. Abandond."}};
  for (const auto& [kind, fault, request, status] : cases) {
    SCOPED_TRACE(status);
    settings_.DeviceName = kind;
    const size_t before = api_.Sent().size();
    CreateSmallAndRun(fault);
    Settle();
    EXPECT_EQ(Status(), status);
    // Neither the time-out nor the repeat timer may ask again while the cycle stalls.
    EXPECT_TRUE(form_->Timer1.Enabled());
    ElapseAll();
    ElapseAll();
    EXPECT_EQ(api_.Sent().size(), before + 1);
    EXPECT_EQ(api_.Requests().back(), request);
    EXPECT_EQ(Status(), status);
    EXPECT_TRUE(NoLog());
    form_.reset();
  }
}

TEST_F(MainWindowTest, EveryRunStartsHeaderOnItsOwnLineTest) {
  settings_.TimeOut = 2000;
  api_.AnswerEach(Fault::Kind::kNone);
  CreateForm(true);
  Settle();
  const std::string run = Header("DM", 100, 20) + Row(0, 100, 20);
  ASSERT_EQ(Log(), run);
  Click(form_->Button3);
  // The second run's first answer is good, the next one bad: the row stays unfinished.
  api_.AnswerEach(Fault::Kind::kSilent);
  Click(form_->Button2);
  api_.AnswerLast();
  Settle();
  api_.AnswerLast(Fault::Kind::kBadLength);
  Settle();
  EXPECT_EQ(Status(), "Unexpected-UDP-NumberBytes 48Bytes. Abandond.");
  const std::string unfinished = run + Header("DM", 100, 20) + kStamp + Values(0, 100, 8);
  ASSERT_EQ(Log(), unfinished);
  api_.AnswerEach(Fault::Kind::kNone);
  // The stalled cycle keeps Stop waiting until its bound.
  QueueBound();
  Click(form_->Button3);
  Click(form_->Button2);
  Settle();
  EXPECT_EQ(Log(), unfinished + "\r\n" + run);
}

TEST_F(MainWindowTest, NullAddressIsReportedAndDisplayStaysAtStartTest) {
  errorsExpected_ = true;
  settings_.IPAddress = "0.0.0.0";
  CreateForm(true);
  EXPECT_EQ(errors_, std::vector<std::string>{"Null Remote Address"});
  ExpectStartDisplay();
  EXPECT_FALSE(form_->Timer1.Enabled());
  EXPECT_FALSE(form_->Timer2.Enabled());
  ElapseAll();
  EXPECT_EQ(api_.CountOf("sendto"), 0);
}

TEST_F(MainWindowTest, LogErrorInReplyFromMainLoopReachesErrorBoxTest) {
  errorsExpected_ = true;
  BlockTheLog();
  CreateSmallAndRun();
  Settle();
  EXPECT_EQ(errors_, std::vector<std::string>{kCannotCreate});
  // The program goes on with the cycle stalled: nothing more is asked.
  ElapseAll();
  ElapseAll();
  EXPECT_EQ(api_.Sent().size(), 1u);
  ExpectRunningDisplay();
}

// --- Stop and close ---

TEST_F(MainWindowTest, StopWhileAnsweringReturnsWithRowCompleteTest) {
  api_.AnswerEach(Fault::Kind::kNone);
  CreateForm(true);
  EXPECT_EQ(Log(), "");
  Click(form_->Button3);
  // The click returns only once the cycle's row end is written.
  EXPECT_EQ(Log(), Header("DM", 100, 20) + Row(0, 100, 20));
  EXPECT_EQ(api_.Sent().size(), 3u);
  EXPECT_EQ(Status(), "");
  ExpectStoppedDisplay();
  EXPECT_FALSE(form_->Timer1.Enabled());
}

TEST_F(MainWindowTest, LogErrorInsideStopWaitEndsStopAtErrorBoxTest) {
  errorsExpected_ = true;
  BlockTheLog();
  api_.AnswerEach(Fault::Kind::kNone);
  CreateForm(true);
  Click(form_->Button3);
  EXPECT_EQ(errors_, std::vector<std::string>{kCannotCreate});
  // The error left the wait, so Stop's remaining steps did not run.
  ExpectRunningDisplay();
  EXPECT_TRUE(form_->Timer1.Enabled());
}

TEST_F(MainWindowTest, StopWhileSilentWaitsForTheBoundAndResendsGoOnTest) {
  CreateSmallAndRun(Fault::Kind::kSilent);
  // What the window shows when the wait's bound fires: Stop must still be waiting then.
  int boundFired = 0;
  bool stillRunningAtBound = false;
  const std::function<void()> bound = form_->Timer3.OnTimer;
  form_->Timer3.OnTimer = [&] {
    ++boundFired;
    stillRunningAtBound = form_->Label1->isVisible() && !form_->Button2->isEnabled();
    bound();
  };
  QueueBound();
  Click(form_->Button3);
  // The wait ended at its bound, not at a row end: the cycle is still busy.
  EXPECT_EQ(boundFired, 1);
  EXPECT_TRUE(stillRunningAtBound);
  EXPECT_FALSE(form_->Timer3.Enabled());
  EXPECT_TRUE(form_->Cycle().State().CycleBusy);
  EXPECT_EQ(Status(), "");
  ExpectStoppedDisplay();
  EXPECT_FALSE(form_->Timer1.Enabled());
  for (int resend = 0; resend < 2; ++resend) ASSERT_TRUE(Elapse(form_->Timer2));
  EXPECT_EQ(api_.Requests(), Texts(3, Command("DM", 100, 8)));
  EXPECT_EQ(Status(), "UDP-Unresponced. Retrying.");
  // A resend after Stop arms the repeat timer again.
  EXPECT_TRUE(form_->Timer1.Enabled());
}

// An error that leaves the close handler (here the log, written by a reply inside the close
// wait) keeps the window open, as every failed handler does; a later close succeeds.
TEST_F(MainWindowTest, FailedCloseHandlerKeepsTheWindowOpenTest) {
  errorsExpected_ = true;
  BlockTheLog();
  api_.AnswerEach(Fault::Kind::kNone);
  CreateForm(true);
  EXPECT_FALSE(form_->close());
  EXPECT_EQ(errors_, std::vector<std::string>{kCannotCreate});
  EXPECT_TRUE(form_->isVisible());
  ExpectRunningDisplay();
  // The settings were written before the wait.
  EXPECT_EQ(ReadFileText(IniPath().toStdString()), IniText(settings_));
  // The failed reply left the cycle stalled: the second close waits for the bound.
  QueueBound();
  EXPECT_TRUE(form_->close());
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(MainWindowTest, ExitWhileRunningWritesSettingsBeforeTheWaitTest) {
  CreateSmallAndRun(Fault::Kind::kSilent);
  const MonitorSettings changed{"127.0.0.1", settings_.PortNo, 4, 150, 1, 200, 30, 1};
  form_->Settings() = changed;
  // Looked at from inside the wait, which lasts until its bound against a silent controller.
  std::string iniDuringWait;
  bool stillOpenDuringWait = false;
  QTimer::singleShot(0, form_.get(), [&] {
    iniDuringWait = ReadFileText(IniPath().toStdString());
    stillOpenDuringWait = form_->isVisible();
  });
  QueueBound();
  Click(form_->Button1);
  EXPECT_TRUE(stillOpenDuringWait);
  EXPECT_EQ(iniDuringWait, IniText(changed));
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(ReadFileText(IniPath().toStdString()), IniText(changed));
}

TEST_F(MainWindowTest, CloseWritesCurrentSettingsObjectTest) {
  CreateForm();
  const MonitorSettings expected{"127.0.0.9", 9999, 0, 1000, 0, -5, 20, 0};
  form_->Settings() = expected;
  EXPECT_TRUE(form_->close());
  EXPECT_EQ(ReadFileText(IniPath().toStdString()), IniText(expected));
  EXPECT_EQ(api_.CountOf("sendto"), 0);
}

// Installed where the user cannot write: the settings come from and go to the per-user file,
// and the file beside the executable stays as it was.
TEST_F(MainWindowTest, ReadOnlyInstallKeepsSettingsInThePerUserFileTest) {
  namespace fs = std::filesystem;
  const fs::path root = workDir_.path().toStdString();
  const fs::path bin = root / "bin";
  const fs::path ini = bin / "varnel.ini";
  const fs::path user = root / "config" / "varnel" / "varnel.ini";
  fs::create_directory(bin);
  WriteFileText(ini, IniText(settings_));
  fs::permissions(bin, fs::perms::owner_read | fs::perms::owner_exec);
  const MonitorSettings changed{"127.0.0.1", 9001, 3, 300, 1, 7, 9, 1};
  UnprivilegedScope scope(root);
  for (const MonitorSettings* expected :
       std::initializer_list<const MonitorSettings*>{&settings_, &changed}) {
    form_ = std::make_unique<TForm1>(
        TForm1::Environment{{&api_, &clock_}, ini.string(), user.string()});
    EXPECT_EQ(form_->Settings(), *expected);
    form_->Settings() = changed;
    EXPECT_TRUE(form_->close());
    EXPECT_EQ(ReadFileText(user), IniText(changed));
    form_.reset();
  }
  EXPECT_EQ(ReadFileText(ini), IniText(settings_));
  EXPECT_EQ(api_.CountOf("sendto"), 0);
}

// --- End to end ---

// Generous: the sanitizer build is slow, and a bound only matters when something is wrong.
constexpr int kBoundMs = 5000;

// The window over real sockets against an in-process controller simulator on loopback.
class MainWindowEndToEndTest : public MainWindowFixtureBase {
 protected:
  void SetUp() override {
    MainWindowFixtureBase::SetUp();
    SimulatorOptions options;
    options.port = 0;
    sim_ = std::make_unique<ControllerSimulator>(options);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
    settings_.PortNo = sim_->Port();
  }
  void TearDown() override {
    MainWindowFixtureBase::TearDown();
    if (sim_) sim_->Stop();
  }

  std::unique_ptr<ControllerSimulator> sim_;
};

TEST_F(MainWindowEndToEndTest, RunLogsRowsOfTwentyRegistersFromTheSimulatorUntilStopTest) {
  settings_.Interval = 1;
  CreateForm(nullptr, true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return QByteArray::fromStdString(Log()).count("\r\n") >= 3; },
                              kBoundMs))
      << Log();
  EXPECT_EQ(Status(), "");
  ExpectRunningDisplay();
  Click(form_->Button3);
  EXPECT_EQ(Status(), "");
  ExpectStoppedDisplay();
  EXPECT_FALSE(form_->Timer1.Enabled());
  // A third cycle may have been under way; only whole cycles are compared.
  const std::vector<std::string> commands = sim_->ReceivedCommands();
  ASSERT_GE(commands.size(), 6u);
  for (size_t at = 0; at < 6; at += 3) {
    EXPECT_EQ(commands[at], Command("DM", 100, 8));
    EXPECT_EQ(commands[at + 1], Command("DM", 108, 8));
    EXPECT_EQ(commands[at + 2], Command("DM", 116, 4));
  }
  const std::string expected = Header("DM", 100, 20) + Row(0, 100, 20) + Row(0, 100, 20);
  EXPECT_EQ(Log().substr(0, expected.size()), expected);
}

}  // namespace
}  // namespace main_window_fixture
