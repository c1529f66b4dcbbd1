#include <gtest/gtest.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tools/sim/controller_simulator.h"

namespace {

// Bounds for a slow machine or the sanitizer build; they only matter when something hangs.
constexpr int kStartBoundMs = 10000;
constexpr int kRowsBoundMs = 20000;
constexpr int kExitBoundMs = 15000;

constexpr int kDeviceStart = 100;
constexpr int kDeviceNum = 20;

template <typename Condition>
bool WaitFor(Condition condition, int boundMs) {
  const QDeadlineTimer deadline(boundMs);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
  return true;
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Runs a short-lived tool to its end; false when it failed. Its standard output goes to *output.
bool RunTool(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment, QByteArray* output = nullptr) {
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(program, arguments);
  if (!process.waitForFinished(5000)) {
    process.kill();
    process.waitForFinished(5000);
    return false;
  }
  if (output != nullptr) *output = process.readAllStandardOutput();
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

std::string ExpectedHeader() {
  std::string text = "YYYY-MM-DD,HH:MM:SS";
  char column[16];
  for (int device = kDeviceStart; device < kDeviceStart + kDeviceNum; ++device) {
    std::snprintf(column, sizeof column, ",DM%05d", device);
    text += column;
  }
  return text + "\r\n";
}

// The simulator's values for the configured devices, logged signed.
std::string ExpectedValues() {
  std::string text;
  for (int device = kDeviceStart; device < kDeviceStart + kDeviceNum; ++device) {
    const uint16_t value = ControllerProtocol::ValueOf(ValuePattern{}, 0, device, 0);
    text += "," + std::to_string(static_cast<int16_t>(value));
  }
  return text;
}

// The monitor as the operator runs it: its own copy beside its settings file, on a private X
// server, with the simulator as the controller on loopback.
class MonitorAgainstSimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfbPath_ = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    xdotoolPath_ = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xvfbPath_.isEmpty() || xdotoolPath_.isEmpty()) {
      GTEST_SKIP() << "Xvfb or xdotool is not installed (scripts/install-deps.sh installs both)";
    }
    ASSERT_TRUE(workDir_.isValid());
  }

  void TearDown() override {
    // The monitor first, so it never outlives its display or its controller.
    monitor_.Kill();
    xvfb_.Kill();
    simulator_.Kill();
  }

  // Starts the simulator on a port the system picks; returns the port, 0 on failure.
  int StartSimulator() {
    if (!simulator_.Start(QString::fromUtf8(VARNEL_SIM_EXECUTABLE),
                          {QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("--port"), QStringLiteral("0")})) {
      return 0;
    }
    const QString address =
        simulator_.WaitForLine(QStringLiteral("varnel-sim listening on "), kStartBoundMs);
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^127\\.0\\.0\\.1:(\\d+)$")).match(address);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
  }

  // Starts a private X server. The server picks a free display number itself and reports it
  // only once it accepts clients, so neither a server of a test run beside this one (which
  // could take a number between a look at its lock file and the start) nor one still coming up
  // is ever taken for this test's. Without -noreset the server resets whenever its last client
  // leaves and refuses connections meanwhile: the monitor, starting just as one xdotool call of
  // FindWindow ends, then finds no display. False when none came up.
  bool StartDisplay() {
    if (!xvfb_.Start(xvfbPath_,
                     {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("640x480x24")})) {
      return false;
    }
    const QString number = xvfb_.WaitForLine(QString(), kStartBoundMs);
    bool isNumber = false;
    number.toInt(&isNumber);
    if (!isNumber) return false;
    display_ = QStringLiteral(":") + number;
    return true;
  }

  QProcessEnvironment DisplayEnvironment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The suites run on the offscreen platform; the monitor must use the X server.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("DISPLAY"), display_);
    return environment;
  }

  // The monitor's window id, once it is mapped; empty when it did not come up in time.
  QString FindWindow() {
    QString window;
    WaitFor(
        [&] {
          QByteArray found;
          RunTool(xdotoolPath_,
                  {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                   QStringLiteral("--name"), QStringLiteral("Varnel Ver")},
                  DisplayEnvironment(), &found);
          window = QString::fromLatin1(found).split('\n', Qt::SkipEmptyParts).value(0);
          return !window.isEmpty() || !monitor_.Running();
        },
        kStartBoundMs);
    return window;
  }

  bool ClickAt(const QString& window, int x, int y) {
    return RunTool(
        xdotoolPath_,
        {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x),
         QString::number(y), QStringLiteral("click"), QStringLiteral("1")},
        DisplayEnvironment());
  }

  // The log the monitor wrote into its working directory; empty while there is none.
  QString LogPath() const {
    const QStringList logs =
        QDir(workDir_.path()).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
    return logs.isEmpty() ? QString() : workDir_.filePath(logs.first());
  }

  static int CountLines(const QByteArray& text) { return static_cast<int>(text.count("\r\n")); }

  QString xvfbPath_;
  QString xdotoolPath_;
  QString display_;
  QTemporaryDir workDir_;
  ChildProcess simulator_;
  ChildProcess xvfb_;
  ChildProcess monitor_;
};

TEST_F(MonitorAgainstSimulatorTest, RunLogsSimulatorValuesAndExitKeepsSettingsTest) {
  const int port = StartSimulator();
  ASSERT_GT(port, 0) << "the simulator did not report its port";
  ASSERT_TRUE(StartDisplay()) << "no X display could be started";

  const QString program = workDir_.filePath(QStringLiteral("varnel"));
  ASSERT_TRUE(QFile::copy(QString::fromUtf8(VARNEL_EXECUTABLE), program));
  ASSERT_TRUE(QFile::setPermissions(
      program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
  const QByteArray ini =
      "[Setup]\nIPAddress=127.0.0.1\nPortNo=" + QByteArray::number(port) +
      "\nInterval=1\nTimeOut=100\nDeviceName=0\nDeviceStart=" + QByteArray::number(kDeviceStart) +
      "\nDeviceNum=" + QByteArray::number(kDeviceNum) + "\nUnsigned=0\n";
  const QString iniPath = workDir_.filePath(QStringLiteral("varnel.ini"));
  ASSERT_TRUE(WriteFile(iniPath, ini));

  ASSERT_TRUE(monitor_.Start(program, {}, DisplayEnvironment(), workDir_.path()));
  const QString window = FindWindow();
  ASSERT_FALSE(window.isEmpty()) << "the monitor's window did not appear";

  // Run; clicked again only if the first click came before the window took input.
  bool rows = false;
  for (int attempt = 0; attempt < 3 && !rows; ++attempt) {
    ASSERT_TRUE(ClickAt(window, 194, 56));
    rows = WaitFor([&] { return CountLines(ReadFile(LogPath())) >= 3; },
                   attempt == 2 ? kRowsBoundMs : kRowsBoundMs / 4);
  }
  ASSERT_TRUE(rows) << "no two data rows in the log: " << ReadFile(LogPath()).toStdString();

  // Exit.
  ASSERT_TRUE(ClickAt(window, 46, 97));
  ASSERT_TRUE(monitor_.WaitForExit(kExitBoundMs)) << "the monitor did not end after Exit";
  EXPECT_EQ(monitor_.ExitStatus(), QProcess::NormalExit);
  EXPECT_EQ(monitor_.ExitCode(), 0);

  const QString logPath = LogPath();
  EXPECT_TRUE(
      QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}-\\d{2}-\\d{2}\\.csv$"))
          .match(QFileInfo(logPath).fileName())
          .hasMatch())
      << QFileInfo(logPath).fileName().toStdString();
  const std::string log = ReadFile(logPath).toStdString();
  ASSERT_TRUE(log.starts_with(ExpectedHeader())) << log;
  // Exit waits for the cycle in flight, so the last row is complete too.
  ASSERT_TRUE(log.ends_with("\r\n")) << log;
  std::vector<std::string> rowsWritten;
  for (size_t at = ExpectedHeader().size(); at < log.size();) {
    const size_t end = log.find("\r\n", at);
    rowsWritten.push_back(log.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_GE(rowsWritten.size(), 2u) << log;
  const QRegularExpression stampPattern(
      QStringLiteral("^(\\d{4}-\\d{2}-\\d{2},\\d{2}:\\d{2}:\\d{2})(.*)$"));
  for (const std::string& row : rowsWritten) {
    SCOPED_TRACE(row);
    const QRegularExpressionMatch match = stampPattern.match(QString::fromStdString(row));
    ASSERT_TRUE(match.hasMatch());
    EXPECT_TRUE(
        QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd,HH:mm:ss")).isValid());
    EXPECT_EQ(match.captured(2).toStdString(), ExpectedValues());
  }

  // Written back at close: the section with its eight keys, in order, with what it was given.
  EXPECT_EQ(ReadFile(iniPath), ini);
}

}  // namespace
