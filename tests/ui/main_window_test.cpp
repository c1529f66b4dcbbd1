#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/monitor_settings.h"
#include "base/handler_guard.h"
#include "monitor/clock.h"
#include "monitor/read_cycle.h"
#include "net/udp_endpoint.h"
#include "tests/app/unprivileged_scope.h"
#include "tests/test_support.h"
#include "tools/sim/controller_simulator.h"
#include "ui/main_window.h"

namespace {

using namespace std::chrono_literals;

// Generous: the sanitizer build is slow, and a bound only matters when something is wrong.
constexpr int kBoundMs = 5000;

class FixedClock final : public Clock {
 public:
  LocalDateTime Now() const override { return {2004, 1, 10, 9, 5, 7}; }
};

constexpr const char* kLogName = "2004-01-10 09-05-07.csv";
constexpr const char* kStamp = "2004-01-10,09:05:07";
const std::string kCannotCreate = std::string("ファイル ") + kLogName + " を作成できません";

std::string Command(const char* code, int32_t first, int count) {
  return QString::asprintf("RDS %s%05d %d\r\n", code, first, count).toStdString();
}

std::string Header(const char* code, int32_t first, int32_t count) {
  QString text = "YYYY-MM-DD,HH:MM:SS";
  for (int32_t device = first; device < first + count; ++device) {
    text += QString::asprintf(",%s%05d", code, device);
  }
  return (text + "\r\n").toStdString();
}

// "," + value for every device, as the simulator defines them.
std::string Values(int kind, int32_t first, int32_t count, bool unsignedValues = false,
                   const ValuePattern& pattern = {}) {
  std::string text;
  for (int32_t device = first; device < first + count; ++device) {
    const uint16_t value = ControllerProtocol::ValueOf(pattern, kind, device, 0);
    text += "," +
            (unsignedValues ? std::to_string(value) : std::to_string(static_cast<int16_t>(value)));
  }
  return text;
}

std::string Row(int kind, int32_t first, int32_t count, bool unsignedValues = false) {
  return kStamp + Values(kind, first, count, unsignedValues) + "\r\n";
}

// The main window against an in-process controller simulator on loopback, with the log and the
// settings file in a temporary current directory.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(workDir_.isValid());
    previousDir_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(workDir_.path()));
    previousReporter_ = HandlerGuard::SetReporter(
        [this](const std::string& message) { errors_.push_back(message); });
    previousQuitOnClose_ = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    SimulatorOptions options;
    options.port = 0;
    sim_ = std::make_unique<ControllerSimulator>(options);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
    settings_ = {"127.0.0.1", sim_->Port(), 0, 1000, 0, 100, 20, 0};
  }

  void TearDown() override {
    form_.reset();
    if (sim_) sim_->Stop();
    QDir::setCurrent(previousDir_);
    HandlerGuard::SetReporter(previousReporter_);
    QApplication::setQuitOnLastWindowClosed(previousQuitOnClose_);
    if (!errorsExpected_) {
      EXPECT_TRUE(errors_.empty()) << "error box: " << errors_.front();
    }
  }

  QString IniPath() const { return workDir_.filePath(QStringLiteral("varnel.ini")); }

  static std::string IniText(const MonitorSettings& s) {
    return "[Setup]\nIPAddress=" + s.IPAddress + "\nPortNo=" + std::to_string(s.PortNo) +
           "\nInterval=" + std::to_string(s.Interval) + "\nTimeOut=" + std::to_string(s.TimeOut) +
           "\nDeviceName=" + std::to_string(s.DeviceName) +
           "\nDeviceStart=" + std::to_string(s.DeviceStart) +
           "\nDeviceNum=" + std::to_string(s.DeviceNum) +
           "\nUnsigned=" + std::to_string(s.Unsigned) + "\n";
  }

  // Builds the window on settings_, writing the settings file first so that it never comes up
  // with the default address, and clicks Run when asked.
  void CreateForm(bool run = false) {
    ASSERT_TRUE(settings_.IPAddress == "127.0.0.1" || settings_.IPAddress == "0.0.0.0");
    QFile ini(IniPath());
    const QByteArray text = QByteArray::fromStdString(IniText(settings_));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                ini.write(text) == text.size());
    ini.close();
    form_ =
        std::make_unique<TForm1>(TForm1::Environment{{nullptr, &clock_}, IniPath().toStdString()});
    ASSERT_EQ(form_->Settings(), settings_);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    if (run) Click(form_->Button2);
  }
  // Eight registers, one request a cycle, and a short time-out.
  void CreateSmallAndRun(Fault::Kind fault = Fault::Kind::kNone, int parameter = 0) {
    settings_.DeviceNum = 8;
    settings_.TimeOut = 100;
    sim_->SetFault({fault, parameter});
    CreateForm(true);
  }

  static void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  std::string Status() const { return form_->Edit2->text().toStdString(); }
  QString LogPath() const { return workDir_.filePath(QString::fromLatin1(kLogName)); }
  std::string Log() const { return ReadFileText(LogPath().toStdString()); }
  bool NoLog() const { return !QFile::exists(LogPath()); }

  bool WaitForLogLines(int lines) {
    return QTest::qWaitFor([&] { return QByteArray::fromStdString(Log()).count("\r\n") >= lines; },
                           kBoundMs);
  }
  bool WaitForCommands(size_t n) {
    return QTest::qWaitFor([&] { return sim_->CommandCount() >= n; }, kBoundMs);
  }
  bool WaitForStatus(const std::string& text) {
    return QTest::qWaitFor([&] { return Status() == text; }, kBoundMs);
  }
  void ExpectCommandsAll(const std::string& command) {
    for (const std::string& sent : sim_->ReceivedCommands()) EXPECT_EQ(sent, command);
  }

  // {Label1 shown, Run enabled, Stop enabled}.
  void ExpectDisplay(bool label, bool run, bool stop) {
    EXPECT_EQ(form_->Label1->isVisible(), label);
    EXPECT_EQ(form_->Button2->isEnabled(), run);
    EXPECT_EQ(form_->Button3->isEnabled(), stop);
  }
  void ExpectStartDisplay() { ExpectDisplay(false, true, true); }
  void ExpectRunningDisplay() { ExpectDisplay(true, false, true); }
  void ExpectStoppedDisplay() { ExpectDisplay(false, true, false); }

  QTemporaryDir workDir_;
  QString previousDir_;
  HandlerGuard::Reporter previousReporter_;
  bool previousQuitOnClose_ = true;
  std::vector<std::string> errors_;
  bool errorsExpected_ = false;
  FixedClock clock_;
  MonitorSettings settings_;
  std::unique_ptr<ControllerSimulator> sim_;
  std::unique_ptr<TForm1> form_;
};

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
  ASSERT_TRUE(
      sim_->SendUnsolicited("127.0.0.1", form_->UDPEndpoint1().BoundPort(), "00001 00002\r\n"));
  ASSERT_TRUE(WaitForStatus("Unexpected-UDP-DataReceived 13Bytes. Abandond."));
  ExpectStartDisplay();
  Click(form_->Button3);
  EXPECT_EQ(Status(), "");
  ExpectStoppedDisplay();
  EXPECT_FALSE(form_->Timer1.Enabled());
  QTest::qWait(200);
  EXPECT_EQ(sim_->CommandCount(), 0u);
  EXPECT_TRUE(NoLog());
}

TEST_F(MainWindowTest, RunSendsFirstRequestBeforeShowingRunningTest) {
  sim_->SetFault({Fault::Kind::kSilent, 0});
  CreateForm();
  // Whether the first request was on the wire when the label appeared; unset if it never did.
  std::optional<bool> sentWhenShown;
  struct ShowWatcher : QObject {
    std::function<void()> onShow;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Show) onShow();
      return false;
    }
  } watcher;
  watcher.onShow = [&] { sentWhenShown = sim_->WaitForCommands(1, 2s); };
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
  CreateForm(true);
  ASSERT_TRUE(WaitForLogLines(3)) << Log();
  // A third cycle may be under way; only whole cycles are compared.
  const std::vector<std::string> commands = sim_->ReceivedCommands();
  ASSERT_GE(commands.size(), 6u);
  for (size_t at = 0; at < 6; at += 3) {
    EXPECT_EQ(commands[at], Command("DM", 100, 8));
    EXPECT_EQ(commands[at + 1], Command("DM", 108, 8));
    EXPECT_EQ(commands[at + 2], Command("DM", 116, 4));
  }
  const std::string expected = Header("DM", 100, 20) + Row(0, 100, 20) + Row(0, 100, 20);
  EXPECT_EQ(Log().substr(0, expected.size()), expected);
  EXPECT_EQ(Status(), "");
  ExpectRunningDisplay();
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code + std::to_string(c.unsignedValues));
    settings_.DeviceName = c.kind;
    settings_.DeviceStart = c.first;
    settings_.DeviceNum = c.count;
    settings_.Unsigned = c.unsignedValues;
    const size_t before = sim_->CommandCount();
    CreateForm(true);
    ASSERT_TRUE(WaitForLogLines(2)) << Log();
    QTest::qWait(1200);
    ASSERT_EQ(sim_->CommandCount(), before + (c.count + 7) / 8);
    const int32_t last = (c.count - 1) % 8 + 1;
    EXPECT_EQ(sim_->ReceivedCommands().back(), Command(c.code, c.first + c.count - last, last));
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
  sim_->SetPattern(counter);
  CreateSmallAndRun(Fault::Kind::kDelay, 300);
  ASSERT_TRUE(WaitForLogLines(2)) << Log();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return sim_->CommandCount() >= 2 && sim_->RepliesSent() == sim_->CommandCount() &&
               Status() == "Unexpected-UDP-DataReceived 49Bytes. Abandond.";
      },
      kBoundMs))
      << Status();
  // The answer to the first command (counter 0) filled the row; the later ones were dropped.
  EXPECT_EQ(Log(), Header("DM", 100, 8) + kStamp + Values(0, 100, 8, false, counter) + "\r\n");
  ExpectCommandsAll(Command("DM", 100, 8));
}

// --- Faults ---

TEST_F(MainWindowTest, UnansweredRequestIsSentAgainAndAgainTest) {
  // An answer from another address is no answer.
  ASSERT_NE(sim_->AltPort(), 0) << "127.0.0.2 could not be bound";
  const std::pair<Fault::Kind, const char*> cases[] = {
      {Fault::Kind::kSilent, "UDP-Unresponced. Retrying."},
      {Fault::Kind::kAltAddress, "Unexpected-UDP-DataReceived 49Bytes. Abandond."}};
  for (const auto& [fault, status] : cases) {
    SCOPED_TRACE(status);
    CreateSmallAndRun(fault);
    ASSERT_TRUE(WaitForCommands(sim_->CommandCount() + 4));
    ASSERT_TRUE(WaitForStatus(status));
    ExpectCommandsAll(Command("DM", 100, 8));
    EXPECT_TRUE(form_->Cycle().State().AwaitingReply);
    EXPECT_TRUE(NoLog());
    ExpectRunningDisplay();
    form_.reset();
  }
  EXPECT_GE(sim_->RepliesSent(), 1u);
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
    const size_t before = sim_->CommandCount();
    CreateSmallAndRun(fault);
    ASSERT_TRUE(WaitForStatus(status));
    // Neither the time-out nor the repeat timer may ask again while the cycle stalls.
    QTest::qWait(1300);
    EXPECT_EQ(sim_->CommandCount(), before + 1);
    EXPECT_EQ(sim_->ReceivedCommands().back(), request);
    EXPECT_EQ(Status(), status);
    EXPECT_TRUE(NoLog());
    form_.reset();
  }
}

TEST_F(MainWindowTest, EveryRunStartsHeaderOnItsOwnLineTest) {
  settings_.TimeOut = 2000;
  CreateForm(true);
  ASSERT_TRUE(WaitForLogLines(2)) << Log();
  const std::string run = Header("DM", 100, 20) + Row(0, 100, 20);
  Click(form_->Button3);
  // The first answer comes late enough to turn the next ones bad before it is taken.
  sim_->SetDelay(300ms);
  Click(form_->Button2);
  ASSERT_TRUE(sim_->WaitForCommands(4, 2s));
  sim_->SetFault({Fault::Kind::kBadLength, 0});
  ASSERT_TRUE(WaitForStatus("Unexpected-UDP-NumberBytes 48Bytes. Abandond."));
  const std::string unfinished = run + Header("DM", 100, 20) + kStamp + Values(0, 100, 8);
  ASSERT_EQ(Log(), unfinished);
  sim_->SetFault({Fault::Kind::kNone, 0});
  Click(form_->Button3);
  Click(form_->Button2);
  ASSERT_TRUE(WaitForLogLines(6)) << Log();
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
  QTest::qWait(200);
  EXPECT_EQ(sim_->CommandCount(), 0u);
}

TEST_F(MainWindowTest, LogErrorInReplyFromMainLoopReachesErrorBoxTest) {
  errorsExpected_ = true;
  // A directory under the log's name: the log can be neither opened nor created.
  ASSERT_TRUE(QDir(workDir_.path()).mkdir(QString::fromLatin1(kLogName)));
  CreateSmallAndRun();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !errors_.empty(); }, kBoundMs));
  EXPECT_EQ(errors_, std::vector<std::string>{kCannotCreate});
  // The program goes on with the cycle stalled: nothing more is asked.
  QTest::qWait(300);
  EXPECT_EQ(sim_->CommandCount(), 1u);
  ExpectRunningDisplay();
}

// --- Stop and close ---

TEST_F(MainWindowTest, StopWhileAnsweringReturnsWithRowCompleteTest) {
  sim_->SetDelay(100ms);
  CreateForm(true);
  EXPECT_EQ(Log(), "");
  Click(form_->Button3);
  // The click returns only once the cycle's row end is written.
  EXPECT_EQ(Log(), Header("DM", 100, 20) + Row(0, 100, 20));
  EXPECT_EQ(sim_->CommandCount(), 3u);
  EXPECT_EQ(Status(), "");
  ExpectStoppedDisplay();
  EXPECT_FALSE(form_->Timer1.Enabled());
}

TEST_F(MainWindowTest, LogErrorInsideStopWaitEndsStopAtErrorBoxTest) {
  errorsExpected_ = true;
  sim_->SetDelay(100ms);
  ASSERT_TRUE(QDir(workDir_.path()).mkdir(QString::fromLatin1(kLogName)));
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
  Click(form_->Button3);
  // The wait ended at its bound, not at a row end: the cycle is still busy.
  EXPECT_EQ(boundFired, 1);
  EXPECT_TRUE(stillRunningAtBound);
  EXPECT_FALSE(form_->Timer3.Enabled());
  EXPECT_TRUE(form_->Cycle().State().CycleBusy);
  EXPECT_EQ(Status(), "");
  ExpectStoppedDisplay();
  ASSERT_TRUE(WaitForCommands(sim_->CommandCount() + 2));
  ASSERT_TRUE(WaitForStatus("UDP-Unresponced. Retrying."));
  // A resend after Stop arms the repeat timer again.
  EXPECT_TRUE(form_->Timer1.Enabled());
}

// An error that leaves the close handler (here the log, written by a reply inside the close
// wait) keeps the window open, as every failed handler does; a later close succeeds.
TEST_F(MainWindowTest, FailedCloseHandlerKeepsTheWindowOpenTest) {
  errorsExpected_ = true;
  sim_->SetDelay(100ms);
  ASSERT_TRUE(QDir(workDir_.path()).mkdir(QString::fromLatin1(kLogName)));
  CreateForm(true);
  EXPECT_FALSE(form_->close());
  EXPECT_EQ(errors_, std::vector<std::string>{kCannotCreate});
  EXPECT_TRUE(form_->isVisible());
  ExpectRunningDisplay();
  // The settings were written before the wait.
  EXPECT_EQ(ReadFileText(IniPath().toStdString()), IniText(settings_));
  EXPECT_TRUE(form_->close());
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(MainWindowTest, ExitWhileRunningWritesSettingsBeforeTheWaitTest) {
  CreateSmallAndRun(Fault::Kind::kSilent);
  const MonitorSettings changed{"127.0.0.1", settings_.PortNo, 4, 150, 1, 200, 30, 1};
  form_->Settings() = changed;
  // Looked at from inside the wait, which lasts its full second against a silent controller.
  std::string iniDuringWait;
  bool stillOpenDuringWait = false;
  QTimer::singleShot(300, form_.get(), [&] {
    iniDuringWait = ReadFileText(IniPath().toStdString());
    stillOpenDuringWait = form_->isVisible();
  });
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
  EXPECT_EQ(sim_->CommandCount(), 0u);
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
        TForm1::Environment{{nullptr, &clock_}, ini.string(), user.string()});
    EXPECT_EQ(form_->Settings(), *expected);
    form_->Settings() = changed;
    EXPECT_TRUE(form_->close());
    EXPECT_EQ(ReadFileText(user), IniText(changed));
    form_.reset();
  }
  EXPECT_EQ(ReadFileText(ini), IniText(settings_));
  EXPECT_EQ(sim_->CommandCount(), 0u);
}

}  // namespace
