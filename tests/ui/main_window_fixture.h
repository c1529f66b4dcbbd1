#pragma once

// The main window with the log and the settings file in a temporary current directory: over
// the fake socket layer, with a controller behind it that answers as the simulator would and
// timers fired by hand, or over real sockets.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/monitor_settings.h"
#include "base/handler_guard.h"
#include "monitor/clock.h"
#include "monitor/timer.h"
#include "tests/fakes/fake_socket_api.h"
#include "tests/test_support.h"
#include "tools/sim/controller_protocol.h"
#include "tools/sim/controller_simulator.h"
#include "ui/main_window.h"

namespace main_window_fixture {

using Texts = std::vector<std::string>;

class FixedClock final : public Clock {
 public:
  LocalDateTime Now() const override { return {2004, 1, 10, 9, 5, 7}; }
};

inline constexpr const char* kLogName = "2004-01-10 09-05-07.csv";
inline constexpr const char* kStamp = "2004-01-10,09:05:07";
inline const std::string kCannotCreate = std::string("ファイル ") + kLogName + " を作成できません";

inline std::string Command(const char* code, int32_t first, int count) {
  return QString::asprintf("RDS %s%05d %d\r\n", code, first, count).toStdString();
}

inline std::string Header(const char* code, int32_t first, int32_t count) {
  QString text = "YYYY-MM-DD,HH:MM:SS";
  for (int32_t device = first; device < first + count; ++device) {
    text += QString::asprintf(",%s%05d", code, device);
  }
  return (text + "\r\n").toStdString();
}

// "," + value for every device, as the simulator defines them.
inline std::string Values(int kind, int32_t first, int32_t count, bool unsignedValues = false,
                          const ValuePattern& pattern = {}, uint64_t answerCount = 0) {
  std::string text;
  for (int32_t device = first; device < first + count; ++device) {
    const uint16_t value = ControllerProtocol::ValueOf(pattern, kind, device, answerCount);
    text += "," +
            (unsignedValues ? std::to_string(value) : std::to_string(static_cast<int16_t>(value)));
  }
  return text;
}

inline std::string Row(int kind, int32_t first, int32_t count, bool unsignedValues = false) {
  return kStamp + Values(kind, first, count, unsignedValues) + "\r\n";
}

// The fake socket layer with a controller behind it: it answers a request with what the
// simulator answers (values, "E1" for what it cannot read, a fault's bad length or other
// address). Answers are queued as the fake queues any datagram, so they arrive when the test
// dispatches events, or inside the Stop/close wait.
class FakeController final : public FakeSocketApi {
 public:
  static constexpr const char* kOtherAddress = "127.0.0.2";

  // How each request is answered as it is sent; kSilent (the default) leaves answering to the
  // test.
  void AnswerEach(Fault::Kind fault) { answerEach_ = fault; }
  void SetPattern(const ValuePattern& pattern) { pattern_ = pattern; }
  // Queues the answer to the index-th request sent.
  void Answer(size_t index, Fault::Kind fault = Fault::Kind::kNone) {
    const SentDatagram& request = Sent().at(index);
    // The counter pattern counts the readable commands before this one, as the simulator does.
    uint64_t readable = 0;
    for (size_t at = 0; at < index; ++at) readable += Readable(Sent()[at].bytes) ? 1 : 0;
    int kind = 0;
    int32_t first = 0;
    int count = 0;
    std::string answer = ControllerProtocol::kErrorAnswer;
    if (ControllerProtocol::ParseCommand(request.bytes, kind, first, count)) {
      std::vector<uint16_t> values;
      for (int i = 0; i < count; ++i) {
        values.push_back(ControllerProtocol::ValueOf(pattern_, kind, first + i, readable));
      }
      answer = ControllerProtocol::BuildReply(values);
    }
    if (fault == Fault::Kind::kBadLength) answer.pop_back();
    Deliver(answer, fault == Fault::Kind::kAltAddress ? kOtherAddress : request.toIp,
            request.toPort);
  }
  void AnswerLast(Fault::Kind fault = Fault::Kind::kNone) { Answer(Sent().size() - 1, fault); }

  Texts Requests() const {
    Texts bytes;
    for (const SentDatagram& sent : Sent()) bytes.push_back(sent.bytes);
    return bytes;
  }

  int SendTo(SocketHandle handle, const char* data, int length, int flags,
             const SockAddrIn& to) override {
    const size_t before = Sent().size();
    const int result = FakeSocketApi::SendTo(handle, data, length, flags, to);
    if (Sent().size() > before && answerEach_ != Fault::Kind::kSilent) AnswerLast(answerEach_);
    return result;
  }

 private:
  static bool Readable(const std::string& bytes) {
    int kind = 0;
    int32_t first = 0;
    int count = 0;
    return ControllerProtocol::ParseCommand(bytes, kind, first, count);
  }

  Fault::Kind answerEach_ = Fault::Kind::kSilent;
  ValuePattern pattern_;
};

// What the windows share, with either socket layer.
class MainWindowFixtureBase : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(workDir_.isValid());
    previousDir_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(workDir_.path()));
    previousReporter_ = HandlerGuard::SetReporter(
        [this](const std::string& message) { errors_.push_back(message); });
    previousQuitOnClose_ = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
  }

  void TearDown() override {
    form_.reset();
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

  // Builds the window on settings_ over `sockets` (null: real ones), writing the settings file
  // first so that it never comes up with the default address, and clicks Run when asked.
  void CreateForm(SocketApi* sockets, bool run) {
    ASSERT_TRUE(settings_.IPAddress == "127.0.0.1" || settings_.IPAddress == "0.0.0.0");
    QFile ini(IniPath());
    const QByteArray text = QByteArray::fromStdString(IniText(settings_));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                ini.write(text) == text.size());
    ini.close();
    form_ =
        std::make_unique<TForm1>(TForm1::Environment{{sockets, &clock_}, IniPath().toStdString()});
    ASSERT_EQ(form_->Settings(), settings_);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    Created();
    if (run) Click(form_->Button2);
  }
  // Called once a window is shown, before Run.
  virtual void Created() {}

  static void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  std::string Status() const { return form_->Edit2->text().toStdString(); }
  QString LogPath() const { return workDir_.filePath(QString::fromLatin1(kLogName)); }
  std::string Log() const { return ReadFileText(LogPath().toStdString()); }
  bool NoLog() const { return !QFile::exists(LogPath()); }
  // A directory under the log's name: the log can be neither opened nor created.
  void BlockTheLog() { ASSERT_TRUE(QDir(workDir_.path()).mkdir(QString::fromLatin1(kLogName))); }

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
  MonitorSettings settings_{"127.0.0.1", 8501, 0, 1000, 0, 100, 20, 0};
  std::unique_ptr<TForm1> form_;
};

// Holds back what real time would fire: in the tests over the fakes a timer fires only when
// the test fires it. Timer3 is let through, as a failure, so that a forgotten bound cannot keep
// a Stop/close wait going for ever.
class RealTimersHeld final : public QObject {
 public:
  void Hold(TForm1& form) {
    bound_ = &form.Timer3;
    for (TTimer* timer : {&form.Timer1, &form.Timer2, &form.Timer3})
      timer->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Timer) return false;
    if (watched != bound_) return true;
    ADD_FAILURE() << "a Stop/close wait lasted until its real bound";
    return false;
  }

 private:
  QObject* bound_ = nullptr;
};

// The window over the fake controller; nothing sleeps.
class MainWindowTest : public MainWindowFixtureBase {
 protected:
  void CreateForm(bool run = false) { MainWindowFixtureBase::CreateForm(&api_, run); }
  void Created() override { held_.Hold(*form_); }
  // Eight registers, one request a cycle, and a short time-out.
  void CreateSmallAndRun(Fault::Kind fault = Fault::Kind::kNone) {
    settings_.DeviceNum = 8;
    settings_.TimeOut = 100;
    api_.AnswerEach(fault);
    CreateForm(true);
  }

  // Lets every queued answer arrive. An answer taken may send the next request, whose answer
  // is queued in turn, and one dispatch leaves what is queued meanwhile to the next: a cycle of
  // 20 registers needs three.
  static void Settle() {
    for (int pass = 0; pass < 16; ++pass) QCoreApplication::sendPostedEvents();
  }
  // Runs a timer's handler as its expiry does, inside the handler guard.
  static void Fire(TTimer& timer) {
    if (timer.OnTimer) HandlerGuard::Run(timer.OnTimer);
  }
  // Lets one period of `timer` pass: it fires if a real one would (enabled, period above 0).
  static bool Elapse(TTimer& timer) {
    if (!timer.Enabled() || timer.Interval() <= 0) return false;
    Fire(timer);
    return true;
  }
  // Lets a while pass for every timer, the time-out first, then answers what that sent.
  void ElapseAll() {
    Elapse(form_->Timer2);
    Elapse(form_->Timer1);
    Settle();
  }
  // Ends the next Stop/close wait at its bound at once: Timer3's expiry is queued so that the
  // wait dispatches it.
  void QueueBound() {
    QTimer::singleShot(0, form_.get(), [this] { Elapse(form_->Timer3); });
  }

  FakeController api_;
  RealTimersHeld held_;
};

}  // namespace main_window_fixture
