#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
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
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/handler_guard.h"
#include "app/monitor_settings.h"
#include "monitor/clock.h"
#include "monitor/read_cycle.h"
#include "net/udp_endpoint.h"
#include "tools/sim/controller_simulator.h"
#include "ui/main_window.h"

namespace {

using namespace std::chrono_literals;

// Generous: the sanitizer build is slow, and a bound only matters when something is wrong.
constexpr int kBoundMs = 5000;

class FixedClock final : public Clock {
 public:
  LocalDateTime Now() const override { return now; }
  LocalDateTime now{2004, 1, 10, 9, 5, 7};
};

constexpr const char* kLogName = "2004-01-10 09-05-07.csv";
constexpr const char* kStamp = "2004-01-10,09:05:07";

// Runs the event loop in short slices until `condition` holds or the bound passes.
template <typename Condition>
bool WaitFor(Condition condition, int boundMs = kBoundMs) {
  const QDeadlineTimer deadline(boundMs);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// Lets the event loop run for a while, to show that something does not happen.
void ProcessFor(int ms) {
  WaitFor([] { return false; }, ms);
}

std::string Command(const char* code, int32_t first, int count) {
  char text[32];
  std::snprintf(text, sizeof text, "RDS %s%05d %d\r\n", code, first, count);
  return text;
}

std::string Header(const char* code, int32_t first, int32_t count) {
  std::string text = "YYYY-MM-DD,HH:MM:SS";
  char column[16];
  for (int32_t device = first; device < first + count; ++device) {
    std::snprintf(column, sizeof column, ",%s%05d", code, device);
    text += column;
  }
  return text + "\r\n";
}

// "," + value for every device, as the simulator defines them.
std::string Values(int kind, int32_t first, int32_t count, bool unsignedValues,
                   const ValuePattern& pattern = {}, uint64_t answerCount = 0) {
  std::string text;
  for (int32_t device = first; device < first + count; ++device) {
    const uint16_t value = ControllerSimulator::ValueOf(pattern, kind, device, answerCount);
    text += ",";
    text += unsignedValues ? std::to_string(value) : std::to_string(static_cast<int16_t>(value));
  }
  return text;
}

std::string Row(int kind, int32_t first, int32_t count, bool unsignedValues = false) {
  return kStamp + Values(kind, first, count, unsignedValues) + "\r\n";
}

std::string ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

int CountLines(const std::string& text) {
  int lines = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
    ++lines;
  }
  return lines;
}

// The main window against an in-process controller simulator on loopback, with the log in a
// temporary current directory and the settings file in that directory too.
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

    settings_.IPAddress = "127.0.0.1";
    settings_.PortNo = sim_->Port();
    settings_.Interval = 0;
    settings_.TimeOut = 1000;
    settings_.DeviceName = 0;
    settings_.DeviceStart = 100;
    settings_.DeviceNum = 20;
    settings_.Unsigned = 0;
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

  std::string IniText(const MonitorSettings& s) const {
    return "[Setup]\nIPAddress=" + s.IPAddress + "\nPortNo=" + std::to_string(s.PortNo) +
           "\nInterval=" + std::to_string(s.Interval) + "\nTimeOut=" + std::to_string(s.TimeOut) +
           "\nDeviceName=" + std::to_string(s.DeviceName) +
           "\nDeviceStart=" + std::to_string(s.DeviceStart) +
           "\nDeviceNum=" + std::to_string(s.DeviceNum) +
           "\nUnsigned=" + std::to_string(s.Unsigned) + "\n";
  }

  // Writes the settings file first: the window must never come up with the default address.
  void CreateForm() {
    QFile ini(IniPath());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const std::string text = IniText(settings_);
    ASSERT_EQ(ini.write(text.data(), static_cast<qint64>(text.size())),
              static_cast<qint64>(text.size()));
    ini.close();
    form_ =
        std::make_unique<TForm1>(TForm1::Environment{nullptr, &clock_, IniPath().toStdString()});
    ASSERT_EQ(form_->Settings(), settings_);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }

  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  void ClickRun() {
    ASSERT_TRUE(form_->Settings().IPAddress == "127.0.0.1" ||
                form_->Settings().IPAddress == "0.0.0.0");
    Click(form_->Button2);
  }

  std::string Status() const { return form_->Edit2->text().toStdString(); }
  QString LogPath() const { return workDir_.filePath(QString::fromLatin1(kLogName)); }
  std::string Log() const { return ReadFile(LogPath()); }

  bool WaitForLogLines(int lines, int boundMs = kBoundMs) {
    return WaitFor([&] { return CountLines(Log()) >= lines; }, boundMs);
  }
  bool WaitForCommands(size_t n, int boundMs = kBoundMs) {
    return WaitFor([&] { return sim_->CommandCount() >= n; }, boundMs);
  }
  bool WaitForStatus(const std::string& text, int boundMs = kBoundMs) {
    return WaitFor([&] { return Status() == text; }, boundMs);
  }

  void ExpectStartDisplay() {
    EXPECT_FALSE(form_->Label1->isVisible());
    EXPECT_TRUE(form_->Button2->isEnabled());
    EXPECT_TRUE(form_->Button3->isEnabled());
  }
  void ExpectRunningDisplay() {
    EXPECT_TRUE(form_->Label1->isVisible());
    EXPECT_FALSE(form_->Button2->isEnabled());
    EXPECT_TRUE(form_->Button3->isEnabled());
  }
  void ExpectStoppedDisplay() {
    EXPECT_FALSE(form_->Label1->isVisible());
    EXPECT_TRUE(form_->Button2->isEnabled());
    EXPECT_FALSE(form_->Button3->isEnabled());
  }

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

// --- Window and controls ---

using MainWindowLayoutTest = MainWindowTest;

TEST_F(MainWindowLayoutTest, WindowHasVersionCaptionAndFixedClientSizeTest) {
  CreateForm();
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Varnel Ver 0.1 2004-01-10"));
  EXPECT_EQ(form_->size(), QSize(324, 124));
  EXPECT_EQ(form_->minimumSize(), QSize(324, 124));
  EXPECT_EQ(form_->maximumSize(), QSize(324, 124));
  const Qt::WindowFlags flags = form_->windowFlags();
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
}

TEST_F(MainWindowLayoutTest, ControlsHaveDesignedGeometryAndCaptionsTest) {
  CreateForm();
  struct Expected {
    QPushButton* button;
    const char* caption;
    QRect geometry;
  };
  const Expected buttons[] = {
      {form_->Button4, "設定", {8, 44, 75, 25}},
      {form_->Button2, "実行", {157, 44, 75, 25}},
      {form_->Button3, "停止", {239, 44, 75, 25}},
      {form_->Button1, "終了", {9, 85, 75, 25}},
      {form_->Button5, "バージョン", {239, 85, 75, 25}},
  };
  for (const Expected& e : buttons) {
    SCOPED_TRACE(e.caption);
    EXPECT_EQ(e.button->text(), QString::fromUtf8(e.caption));
    EXPECT_EQ(e.button->geometry(), e.geometry);
    EXPECT_FALSE(e.button->isDefault());
    EXPECT_FALSE(e.button->autoDefault());
    EXPECT_TRUE(e.button->isEnabled());
  }
  EXPECT_EQ(form_->Label10->text(), QStringLiteral("ステータス"));
  EXPECT_EQ(form_->Label10->pos(), QPoint(22, 21));
  EXPECT_EQ(form_->Label1->text(), QStringLiteral("実行中"));
  EXPECT_EQ(form_->Label1->pos(), QPoint(102, 53));
  EXPECT_EQ(form_->Edit2->geometry(), QRect(95, 15, 219, 20));
  EXPECT_TRUE(form_->Edit2->isReadOnly());
  EXPECT_TRUE(form_->Edit2->text().isEmpty());
}

TEST_F(MainWindowLayoutTest, TabVisitsButtonsInOrderAndSkipsStatusLineTest) {
  CreateForm();
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  form_->Button4->setFocus(Qt::TabFocusReason);
  const QWidget* expected[] = {form_->Button2, form_->Button3, form_->Button1, form_->Button5,
                               form_->Button4};
  for (const QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
  EXPECT_FALSE(form_->Edit2->focusPolicy() & Qt::TabFocus);
}

// --- Displays ---

using MainWindowDisplayTest = MainWindowTest;

TEST_F(MainWindowDisplayTest, StartDisplayHidesLabelAndEnablesRunAndStopTest) {
  CreateForm();
  ExpectStartDisplay();
  EXPECT_EQ(form_->LogFileName(), kLogName);
}

TEST_F(MainWindowDisplayTest, StopRightAfterStartClearsStatusAndSendsNothingTest) {
  CreateForm();
  // Something in the status line to clear.
  ASSERT_TRUE(sim_->SendUnsolicited("127.0.0.1", form_->UDPEndpoint1().BoundPort(), "00000\r\n"));
  ASSERT_TRUE(WaitForStatus("Unexpected-UDP-DataReceived 7Bytes. Abandond."));

  Click(form_->Button3);
  EXPECT_EQ(Status(), "");
  ExpectStoppedDisplay();
  EXPECT_FALSE(form_->Timer1.Enabled());
  ProcessFor(200);
  EXPECT_EQ(sim_->CommandCount(), 0u);
  EXPECT_FALSE(QFile::exists(LogPath()));
}

TEST_F(MainWindowDisplayTest, RunSendsFirstRequestBeforeShowingRunningTest) {
  sim_->SetFault({Fault::Kind::kSilent, 0});
  CreateForm();
  // The first request must be on the wire when the label appears.
  bool sentBeforeShown = false;
  bool shown = false;
  struct ShowWatcher : QObject {
    std::function<void()> onShow;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Show) onShow();
      return false;
    }
  } watcher;
  watcher.onShow = [&] {
    shown = true;
    sentBeforeShown = sim_->WaitForCommands(1, 2s);
  };
  form_->Label1->installEventFilter(&watcher);
  ClickRun();
  form_->Label1->removeEventFilter(&watcher);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(sentBeforeShown);
  ExpectRunningDisplay();
  EXPECT_EQ(Status(), "");
  EXPECT_TRUE(form_->Timer1.Enabled());
}

// --- Cycles against an answering controller ---

using MainWindowCycleTest = MainWindowTest;

TEST_F(MainWindowCycleTest, TwentyRegistersAreReadAsEightEightFourOneRowPerCycleTest) {
  settings_.Interval = 1;
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForLogLines(3)) << Log();
  // A third cycle may be under way; only whole cycles are compared.
  const std::vector<std::string> commands = sim_->ReceivedCommands();
  ASSERT_GE(commands.size(), 6u);
  for (size_t cycle = 0; cycle < 2; ++cycle) {
    EXPECT_EQ(commands[cycle * 3 + 0], Command("DM", 100, 8));
    EXPECT_EQ(commands[cycle * 3 + 1], Command("DM", 108, 8));
    EXPECT_EQ(commands[cycle * 3 + 2], Command("DM", 116, 4));
  }
  const std::string log = Log();
  const std::string expected = Header("DM", 100, 20) + Row(0, 100, 20) + Row(0, 100, 20);
  EXPECT_EQ(log.substr(0, expected.size()), expected);
  EXPECT_EQ(Status(), "");
  ExpectRunningDisplay();
}

TEST_F(MainWindowCycleTest, ZeroIntervalRunsExactlyOneCycleTest) {
  settings_.Interval = 0;
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForLogLines(2)) << Log();
  ProcessFor(1500);
  EXPECT_EQ(sim_->CommandCount(), 3u);
  EXPECT_EQ(Log(), Header("DM", 100, 20) + Row(0, 100, 20));
}

TEST_F(MainWindowCycleTest, SignedRowShowsNegativeValuesTest) {
  settings_.DeviceNum = 8;
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForLogLines(2)) << Log();
  const std::string expected = Header("DM", 100, 8) + Row(0, 100, 8, false);
  EXPECT_EQ(Log(), expected);
  // DM104 is 33080 on the wire, beyond the signed range.
  EXPECT_NE(expected.find(",-32456"), std::string::npos);
}

TEST_F(MainWindowCycleTest, UnsignedRowShowsValuesAsReceivedTest) {
  settings_.DeviceNum = 8;
  settings_.Unsigned = 1;
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForLogLines(2)) << Log();
  const std::string expected = Header("DM", 100, 8) + Row(0, 100, 8, true);
  EXPECT_EQ(Log(), expected);
  EXPECT_NE(expected.find(",33080"), std::string::npos);
}

TEST_F(MainWindowCycleTest, TemporaryMemoryIsReadWithTmCodeTest) {
  settings_.DeviceName = 1;
  settings_.DeviceStart = 7;
  settings_.DeviceNum = 3;
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForLogLines(2)) << Log();
  EXPECT_EQ(sim_->ReceivedCommands(), std::vector<std::string>{"RDS TM00007 3\r\n"});
  EXPECT_EQ(Log(), Header("TM", 7, 3) + Row(1, 7, 3));
}

TEST_F(MainWindowCycleTest, UnknownKindSendsBlanksAndErrorAnswerStallsTest) {
  settings_.DeviceName = 5;
  settings_.DeviceStart = 10;
  settings_.DeviceNum = 8;
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForStatus("Unexpected-UDP-NumberBytes 4Bytes. Abandond."));
  EXPECT_EQ(sim_->ReceivedCommands(), std::vector<std::string>{"RDS   00010 8\r\n"});
  EXPECT_FALSE(QFile::exists(LogPath()));
}

TEST_F(MainWindowCycleTest, RunTwiceWritesTwoHeadersTest) {
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForLogLines(2)) << Log();
  Click(form_->Button3);
  ExpectStoppedDisplay();
  ClickRun();
  ASSERT_TRUE(WaitForLogLines(4)) << Log();
  EXPECT_EQ(Log(),
            Header("DM", 100, 20) + Row(0, 100, 20) + Header("DM", 100, 20) + Row(0, 100, 20));
}

TEST_F(MainWindowCycleTest, LateReplyIsTakenForRequestInFlightTest) {
  settings_.DeviceNum = 8;
  settings_.TimeOut = 100;
  const ValuePattern counter{ValuePattern::Kind::kCounter, 0};
  sim_->SetPattern(counter);
  sim_->SetDelay(300ms);
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForLogLines(2)) << Log();
  const std::string taken = "Unexpected-UDP-DataReceived 49Bytes. Abandond.";
  ASSERT_TRUE(WaitFor([&] {
    return sim_->CommandCount() >= 2 && sim_->RepliesSent() == sim_->CommandCount() &&
           Status() == taken;
  })) << Status();
  // The answer to the first command (counter 0) filled the row; the later ones were dropped.
  EXPECT_EQ(Log(), Header("DM", 100, 8) + kStamp + Values(0, 100, 8, false, counter, 0) + "\r\n");
  const std::vector<std::string> commands = sim_->ReceivedCommands();
  for (const std::string& command : commands) EXPECT_EQ(command, Command("DM", 100, 8));
}

// --- Faults ---

using MainWindowFaultTest = MainWindowTest;

TEST_F(MainWindowFaultTest, SilentControllerIsAskedAgainAndAgainTest) {
  settings_.DeviceNum = 8;
  settings_.TimeOut = 100;
  sim_->SetFault({Fault::Kind::kSilent, 0});
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForCommands(4));
  EXPECT_EQ(Status(), "UDP-Unresponced. Retrying.");
  for (const std::string& command : sim_->ReceivedCommands()) {
    EXPECT_EQ(command, Command("DM", 100, 8));
  }
  EXPECT_FALSE(QFile::exists(LogPath()));
  ExpectRunningDisplay();
}

TEST_F(MainWindowFaultTest, ReplyOneByteShortStallsWithoutRetryTest) {
  settings_.DeviceNum = 8;
  settings_.TimeOut = 100;
  settings_.Interval = 1;
  sim_->SetFault({Fault::Kind::kBadLength, 0});
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForStatus("Unexpected-UDP-NumberBytes 48Bytes. Abandond."));
  // Neither the time-out nor the repeat timer may ask again while the cycle stalls.
  ProcessFor(1300);
  EXPECT_EQ(sim_->CommandCount(), 1u);
  EXPECT_EQ(Status(), "Unexpected-UDP-NumberBytes 48Bytes. Abandond.");
  EXPECT_FALSE(QFile::exists(LogPath()));
}

TEST_F(MainWindowFaultTest, DatagramWhileIdleIsReportedAndDroppedTest) {
  CreateForm();
  ASSERT_TRUE(
      sim_->SendUnsolicited("127.0.0.1", form_->UDPEndpoint1().BoundPort(), "00001 00002\r\n"));
  ASSERT_TRUE(WaitForStatus("Unexpected-UDP-DataReceived 13Bytes. Abandond."));
  ExpectStartDisplay();
  EXPECT_FALSE(QFile::exists(LogPath()));
  EXPECT_EQ(sim_->CommandCount(), 0u);
}

TEST_F(MainWindowFaultTest, AnswerFromAnotherAddressIsNeverTakenTest) {
  ASSERT_NE(sim_->AltPort(), 0) << "127.0.0.2 could not be bound";
  settings_.DeviceNum = 8;
  settings_.TimeOut = 100;
  sim_->SetFault({Fault::Kind::kAltAddress, 0});
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitForStatus("Unexpected-UDP-DataReceived 49Bytes. Abandond."));
  // Still awaited: the request goes out again and again.
  ASSERT_TRUE(WaitForCommands(4));
  EXPECT_GE(sim_->RepliesSent(), 1u);
  for (const std::string& command : sim_->ReceivedCommands()) {
    EXPECT_EQ(command, Command("DM", 100, 8));
  }
  EXPECT_TRUE(form_->Cycle().State().AwaitingReply);
  EXPECT_FALSE(QFile::exists(LogPath()));
}

TEST_F(MainWindowFaultTest, RunAfterStallStartsHeaderOnItsOwnLineTest) {
  settings_.TimeOut = 2000;
  // The first answer comes late enough to turn the next ones bad before it is taken.
  sim_->SetDelay(300ms);
  CreateForm();
  ClickRun();
  ASSERT_TRUE(sim_->WaitForCommands(1, 2s));
  sim_->SetFault({Fault::Kind::kBadLength, 0});
  ASSERT_TRUE(WaitForStatus("Unexpected-UDP-NumberBytes 48Bytes. Abandond."));
  const std::string unfinished = Header("DM", 100, 20) + kStamp + Values(0, 100, 8, false);
  ASSERT_EQ(Log(), unfinished);

  sim_->SetFault({Fault::Kind::kNone, 0});
  Click(form_->Button3);
  ClickRun();
  ASSERT_TRUE(WaitForLogLines(4)) << Log();
  EXPECT_EQ(Log(), unfinished + "\r\n" + Header("DM", 100, 20) + Row(0, 100, 20));
}

TEST_F(MainWindowFaultTest, NullAddressIsReportedAndDisplayStaysAtStartTest) {
  errorsExpected_ = true;
  settings_.IPAddress = "0.0.0.0";
  CreateForm();
  ClickRun();
  EXPECT_EQ(errors_, std::vector<std::string>{"Null Remote Address"});
  ExpectStartDisplay();
  EXPECT_FALSE(form_->Timer1.Enabled());
  EXPECT_FALSE(form_->Timer2.Enabled());
  ProcessFor(200);
  EXPECT_EQ(sim_->CommandCount(), 0u);
}

TEST_F(MainWindowFaultTest, LogErrorInReplyFromMainLoopReachesErrorBoxTest) {
  errorsExpected_ = true;
  settings_.DeviceNum = 8;
  // A directory under the log's name: the log can be neither opened nor created.
  ASSERT_TRUE(QDir(workDir_.path()).mkdir(QString::fromLatin1(kLogName)));
  CreateForm();
  ClickRun();
  ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); }));
  EXPECT_EQ(errors_,
            std::vector<std::string>{std::string("ファイル ") + kLogName + " を作成できません"});
  // The program goes on with the cycle stalled: nothing more is asked.
  ProcessFor(300);
  EXPECT_EQ(sim_->CommandCount(), 1u);
  ExpectRunningDisplay();
}

// --- Stop and close ---

using MainWindowStopTest = MainWindowTest;

TEST_F(MainWindowStopTest, StopWhileAnsweringReturnsWithRowCompleteTest) {
  sim_->SetDelay(100ms);
  CreateForm();
  ClickRun();
  EXPECT_EQ(CountLines(Log()), 0);
  Click(form_->Button3);
  // The click returns only once the cycle's row end is written.
  EXPECT_EQ(Log(), Header("DM", 100, 20) + Row(0, 100, 20));
  EXPECT_EQ(sim_->CommandCount(), 3u);
  EXPECT_EQ(Status(), "");
  ExpectStoppedDisplay();
  EXPECT_FALSE(form_->Timer1.Enabled());
}

TEST_F(MainWindowStopTest, LogErrorInsideStopWaitEndsStopAtErrorBoxTest) {
  errorsExpected_ = true;
  sim_->SetDelay(100ms);
  ASSERT_TRUE(QDir(workDir_.path()).mkdir(QString::fromLatin1(kLogName)));
  CreateForm();
  ClickRun();
  Click(form_->Button3);
  EXPECT_EQ(errors_,
            std::vector<std::string>{std::string("ファイル ") + kLogName + " を作成できません"});
  // The error left the wait, so Stop's remaining steps did not run.
  ExpectRunningDisplay();
  EXPECT_TRUE(form_->Timer1.Enabled());
}

TEST_F(MainWindowStopTest, StopWhileSilentReturnsAndResendsGoOnTest) {
  settings_.DeviceNum = 8;
  settings_.TimeOut = 100;
  sim_->SetFault({Fault::Kind::kSilent, 0});
  CreateForm();
  ClickRun();
  QElapsedTimer clock;
  clock.start();
  Click(form_->Button3);
  // Only that it came back at all: the wait's own bound is a second.
  EXPECT_LT(clock.elapsed(), 10000);
  EXPECT_EQ(Status(), "");
  ExpectStoppedDisplay();
  const size_t atStop = sim_->CommandCount();
  ASSERT_TRUE(WaitForCommands(atStop + 2));
  ASSERT_TRUE(WaitForStatus("UDP-Unresponced. Retrying."));
  // A resend after Stop arms the repeat timer again.
  EXPECT_TRUE(form_->Timer1.Enabled());
}

TEST_F(MainWindowStopTest, ExitWhileRunningWritesSettingsBeforeTheWaitTest) {
  settings_.DeviceNum = 8;
  settings_.TimeOut = 100;
  sim_->SetFault({Fault::Kind::kSilent, 0});
  CreateForm();
  ClickRun();
  MonitorSettings changed = form_->Settings();
  changed.Interval = 4;
  changed.TimeOut = 150;
  changed.DeviceName = 1;
  changed.DeviceStart = 200;
  changed.DeviceNum = 30;
  changed.Unsigned = 1;
  form_->Settings() = changed;

  // Looked at from inside the wait, which lasts its full second against a silent controller.
  std::string iniDuringWait;
  bool stillOpenDuringWait = false;
  QTimer::singleShot(300, form_.get(), [&] {
    iniDuringWait = ReadFile(IniPath());
    stillOpenDuringWait = form_->isVisible();
  });
  Click(form_->Button1);
  EXPECT_TRUE(stillOpenDuringWait);
  EXPECT_EQ(iniDuringWait, IniText(changed));
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(ReadFile(IniPath()), IniText(changed));
}

TEST_F(MainWindowStopTest, CloseWritesCurrentSettingsObjectTest) {
  CreateForm();
  form_->Settings().IPAddress = "127.0.0.9";
  form_->Settings().PortNo = 9999;
  form_->Settings().DeviceStart = -5;
  EXPECT_TRUE(form_->close());
  MonitorSettings expected = settings_;
  expected.IPAddress = "127.0.0.9";
  expected.PortNo = 9999;
  expected.DeviceStart = -5;
  EXPECT_EQ(ReadFile(IniPath()), IniText(expected));
  EXPECT_EQ(sim_->CommandCount(), 0u);
}

}  // namespace
