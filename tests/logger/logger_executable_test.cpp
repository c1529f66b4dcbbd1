// The real varnel-logger binary against the controller simulator on 127.0.0.1.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/test_support.h"
#include "tools/sim/controller_simulator.h"

namespace {

namespace fs = std::filesystem;

// Bounds for a slow machine or the sanitizer build; they only matter when something hangs.
constexpr int kStartBoundMs = 10000;
constexpr int kRunBoundMs = 30000;
constexpr int kDeviceStart = 100;
constexpr int kDeviceNum = 20;

const QString kLogger = QStringLiteral(VARNEL_LOGGER_EXECUTABLE);

// Waits, within the bound, until the child's output holds `text` anywhere.
bool WaitForText(ChildProcess& child, const QString& text, int boundMs) {
  const QDeadlineTimer deadline(boundMs);
  const QByteArray wanted = text.toUtf8();
  while (!child.Output().contains(wanted)) {
    if (deadline.hasExpired() || !child.Running()) return child.Output().contains(wanted);
    QThread::msleep(20);
  }
  return true;
}

struct LogCheck {
  int headers = 0;
  int rows = 0;
  std::vector<std::string> bad;  // every line that is neither
};

class LoggerExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SimulatorOptions options;
    options.port = 0;
    simulator_ = std::make_unique<ControllerSimulator>(options);
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    folder_ = dir_.filePath("logs");
  }

  std::string Config(int timeOut = 100, int deviceNum = kDeviceNum) {
    const std::string path = dir_.filePath("line1.ini").toStdString();
    WriteFileText(
        path, "[Setup]\nIPAddress=127.0.0.1\nPortNo=" + std::to_string(simulator_->Port()) +
                  "\nInterval=1\nTimeOut=" + std::to_string(timeOut) + "\nDeviceStart=" +
                  std::to_string(kDeviceStart) + "\nDeviceNum=" + std::to_string(deviceNum) + "\n");
    return path;
  }

  bool Start(ChildProcess& logger, const QStringList& extra = {}, const std::string& config = {}) {
    logger.MergeErrors();
    return logger.Start(
        kLogger, QStringList{"--config", QString::fromStdString(config.empty() ? Config() : config),
                             "--output", folder_, "--sync", "none"} +
                     extra);
  }

  // Every line of every log: the header, or a stamped row of the simulator's value for each
  // device, in order.
  LogCheck Check(int deviceNum = kDeviceNum, ValuePattern pattern = {}) const {
    std::string header = "YYYY-MM-DD,HH:MM:SS";
    std::string values;
    for (int d = kDeviceStart; d < kDeviceStart + deviceNum; ++d) {
      header += ",DM00" + std::to_string(d);
      const uint16_t value = ControllerProtocol::ValueOf(pattern, 0, d, 0);
      values += "," + std::to_string(static_cast<int16_t>(value));
    }
    const std::regex row(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)" + values);
    LogCheck check;
    for (const auto& entry : fs::directory_iterator(folder_.toStdString())) {
      if (entry.path().extension() != ".csv") continue;
      std::istringstream lines(ReadFileText(entry.path()));
      for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.back() != '\r') {
          check.bad.push_back(line);
          continue;
        }
        line.pop_back();
        if (line == header) {
          ++check.headers;
        } else if (std::regex_match(line, row)) {
          ++check.rows;
        } else {
          check.bad.push_back(line);
        }
      }
    }
    return check;
  }

  QTemporaryDir dir_;
  QString folder_;
  std::unique_ptr<ControllerSimulator> simulator_;
};

// With every fault the simulator has, the log holds only headers and whole rows of the
// right values; faults that answer nothing usable hold rows back until they end.
TEST_F(LoggerExecutableTest, EveryFaultGivesOnlyWholeRowsOfTheRightValues) {
  using Kind = Fault::Kind;
  const Fault faults[] = {{Kind::kTwice, 0}, {Kind::kDelay, 150},   {Kind::kUnsolicited, 20},
                          {Kind::kDrop, 3},  {Kind::kBadLength, 0}, {Kind::kAltAddress, 0},
                          {Kind::kSilent, 0}};
  for (const Fault& fault : faults) {
    SCOPED_TRACE(static_cast<int>(fault.kind));
    simulator_->SetFault(fault);
    ChildProcess logger;
    ASSERT_TRUE(Start(logger, {"--cycles", "2"}));
    ASSERT_FALSE(logger.WaitForLine("", 1500).isNull());
    QThread::msleep(1200);
    simulator_->SetFault({});
    ASSERT_TRUE(logger.WaitForExit(kRunBoundMs)) << logger.Output().toStdString();
    EXPECT_EQ(logger.ExitCode(), 0);
    EXPECT_NE(logger.Output().indexOf("stopped: 2 rows written"), -1);
  }
  const LogCheck check = Check();
  EXPECT_EQ(check.rows, 14);
  EXPECT_EQ(check.headers, 7);
  EXPECT_TRUE(check.bad.empty()) << check.bad.front();
}

// SIGTERM or SIGINT while a request waits: the cycle gets its second, then one summary line,
// exit 0, and the log holds exactly the rows the summary counts.
TEST_F(LoggerExecutableTest, SigtermOrSigintEndsWithASummaryOfWhatIsInTheLog) {
  simulator_->SetFault({Fault::Kind::kDelay, 350});
  int rowsBefore = 0;
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    ChildProcess logger;
    ASSERT_TRUE(Start(logger));
    ASSERT_FALSE(logger.WaitForLine("", kStartBoundMs).isNull());
    ASSERT_TRUE(simulator_->WaitForCommands(simulator_->CommandCount() + 8,
                                            std::chrono::milliseconds(kRunBoundMs)));
    ::kill(static_cast<pid_t>(logger.Pid()), signal);
    ASSERT_TRUE(logger.WaitForExit(kRunBoundMs));
    EXPECT_EQ(logger.ExitCode(), 0);
    const std::string output = logger.Output().toStdString();
    std::smatch summary;
    ASSERT_TRUE(
        std::regex_search(output, summary,
                          std::regex(R"(stopped: (\d+) rows? written, (\d+) requests?, )"
                                     R"((\d+) resends?, \d+ datagrams? dropped, 0 errors\n)")))
        << output;
    const int rows = Check().rows;
    EXPECT_EQ(rows - rowsBefore, std::stoi(summary[1]));
    EXPECT_GT(std::stoi(summary[3]), 0);
    rowsBefore = rows;
  }
}

// Answers are taken by the port they reach, not by their size or timing: a copy that comes
// after the next answer, a register that does not change under a long time-out, and lost
// answers each give rows of exactly the right values, every copy is discarded by the system
// before the logger sees it, and each lost answer costs exactly one resend.
TEST_F(LoggerExecutableTest, CopiesLossAndSteadyValuesGiveExactRowsAtOnce) {
  const struct {
    const char* name;
    ValuePattern pattern;
    Fault fault;
    int timeOut;
    int deviceNum;
  } cases[] = {
      {"copy after the next answer", {}, {Fault::Kind::kLateCopy, 60}, 100, 20},
      {"steady register", {ValuePattern::Kind::kConstant, 5}, {}, 3000, 1},
      {"every 20th answer lost", {}, {Fault::Kind::kDrop, 20}, 100, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder_.toStdString());
    simulator_->Stop();
    SimulatorOptions options;
    options.port = 0;
    options.pattern = c.pattern;
    options.fault = c.fault;
    simulator_ = std::make_unique<ControllerSimulator>(options);
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    ChildProcess logger;
    ASSERT_TRUE(Start(logger, {"--cycles", "3"}, Config(c.timeOut, c.deviceNum)));
    ASSERT_TRUE(logger.WaitForExit(kRunBoundMs)) << logger.Output().toStdString();
    EXPECT_EQ(logger.ExitCode(), 0);
    const std::string output = logger.Output().toStdString();
    std::smatch summary;
    ASSERT_TRUE(std::regex_search(output, summary,
                                  std::regex(R"(stopped: 3 rows written, (\d+) requests?, (\d+) )"
                                             R"(resends?, 0 datagrams dropped, 0 errors\n)")))
        << output;
    const int lost = c.fault.kind == Fault::Kind::kDrop
                         ? static_cast<int>(simulator_->CommandCount()) / c.fault.parameter
                         : 0;
    EXPECT_EQ(std::stoi(summary[2]), lost) << output;
    EXPECT_EQ(std::stoi(summary[1]), 3 * ((c.deviceNum + 7) / 8) + lost);
    const LogCheck check = Check(c.deviceNum, c.pattern);
    EXPECT_EQ(check.rows, 3);
    EXPECT_TRUE(check.bad.empty()) << check.bad.front();
  }
}

// Killed at any moment, the logger leaves only whole rows; the next run goes on in the same
// folder.
TEST_F(LoggerExecutableTest, KillNineAtRandomMomentsLeavesOnlyWholeRows) {
  std::mt19937 random(20261209u);
  for (int run = 0; run < 5; ++run) {
    ChildProcess logger;
    ASSERT_TRUE(Start(logger));
    ASSERT_FALSE(logger.WaitForLine("", kStartBoundMs).isNull());
    QThread::msleep(std::uniform_int_distribution<unsigned>(50, 1500)(random));
    ::kill(static_cast<pid_t>(logger.Pid()), SIGKILL);
    ASSERT_TRUE(logger.WaitForExit(kRunBoundMs));
  }
  const LogCheck check = Check();
  EXPECT_GT(check.rows, 0);
  EXPECT_TRUE(check.bad.empty()) << check.bad.front();
}

TEST_F(LoggerExecutableTest, SecondLoggerOnTheFolderNamesTheFirstAndExitsOne) {
  ChildProcess first;
  ASSERT_TRUE(Start(first));
  ASSERT_FALSE(first.WaitForLine("", kStartBoundMs).isNull());
  ChildProcess second;
  ASSERT_TRUE(Start(second));
  ASSERT_TRUE(second.WaitForExit(kRunBoundMs));
  EXPECT_EQ(second.ExitCode(), 1);
  EXPECT_EQ(second.Output().toStdString(), "varnel-logger: " + folder_.toStdString() +
                                               " is in use by another logger (process " +
                                               std::to_string(first.Pid()) + ")\n");
  // The lock file names its holder for people.
  EXPECT_EQ(ReadFileText(folder_.toStdString() + "/.varnel-logger.lock"),
            std::to_string(first.Pid()) + "\n");
}

// A folder removed and made again while a logger runs: the running logger takes the lock in the
// new folder before it writes there, or, when a second logger took it first, says so and writes
// nothing there. Never do both write in the same folder.
TEST_F(LoggerExecutableTest, FolderMadeAgainIsStillOneLoggersAlone) {
  ChildProcess first;
  ASSERT_TRUE(Start(first));
  ASSERT_TRUE(WaitForText(first, "logging to", kStartBoundMs));
  fs::remove_all(folder_.toStdString());
  fs::create_directory(folder_.toStdString());
  // The second logger reads one device less, so each row tells who wrote it.
  ChildProcess second;
  ASSERT_TRUE(Start(second, {}, Config(100, kDeviceNum - 1)));
  ASSERT_FALSE(second.WaitForLine("", kStartBoundMs).isNull());
  int writer = kDeviceNum - 1;
  if (second.WaitForExit(500)) {
    // The first logger came back first and holds the new folder.
    EXPECT_EQ(second.ExitCode(), 1);
    EXPECT_TRUE(WaitForText(first, "it is locked again", kRunBoundMs));
    writer = kDeviceNum;
  } else {
    EXPECT_TRUE(
        WaitForText(first, "another logger (process " + QString::number(second.Pid()), kRunBoundMs))
        << first.Output().toStdString();
    QThread::msleep(1200);
    ::kill(static_cast<pid_t>(second.Pid()), SIGTERM);
    ASSERT_TRUE(second.WaitForExit(kRunBoundMs));
  }
  ::kill(static_cast<pid_t>(first.Pid()), SIGKILL);
  ASSERT_TRUE(first.WaitForExit(kRunBoundMs));
  const LogCheck check = Check(writer);
  EXPECT_GT(check.rows, 0);
  EXPECT_TRUE(check.bad.empty()) << check.bad.front();
}

// Bad options, configs and folders: one line naming the problem (and for an option, where to
// look), status 2, nothing sent.
TEST_F(LoggerExecutableTest, BadSetupsExitTwoWithOneLineAndSendNothing) {
  const std::string config = Config();
  WriteFileText(dir_.filePath("file").toStdString(), "");
  const std::string noAddress = dir_.filePath("none.ini").toStdString();
  WriteFileText(noAddress, "[Setup]\nPortNo=8501\n");
  const std::string badRange = dir_.filePath("range.ini").toStdString();
  WriteFileText(badRange, "[Setup]\nIPAddress=127.0.0.1\nDeviceStart=99999\nDeviceNum=2\n");
  // A config that publishes, where the only libmosquitto to be found is not a library.
  const std::string publishing = dir_.filePath("publishing.ini").toStdString();
  WriteFileText(publishing, ReadFileText(config) + "[MQTT]\nHost=127.0.0.1\nPort=1\n");
  ASSERT_TRUE(QDir(dir_.path()).mkdir("lib"));
  WriteFileText(dir_.filePath("lib/libmosquitto.so.1").toStdString(), "");
  const QString c = QString::fromStdString(config);
  // Option errors add the line every Varnel program ends a bad command line with.
  const struct {
    QStringList arguments;
    const char* names;
    bool option;
    QString libraryPath = {};
  } cases[] = {
      {{}, "--config FILE is required", true},
      {{"--config", c, "--cycles", "0"}, "--cycles", true},
      {{"--config", c, "--rotate", "weekly"}, "--rotate", true},
      {{"--config", c, "--sync", "never"}, "--sync", true},
      {{"--config", c, "--bogus"}, "bogus", true},
      {{"--config", c, "extra"}, "extra", true},
      {{"--config", dir_.filePath("missing.ini")}, "missing.ini", false},
      {{"--config", QString::fromStdString(noAddress)}, "no IPAddress", false},
      {{"--config", QString::fromStdString(badRange)}, "99999 to 100000", false},
      {{"--config", c, "--output", dir_.filePath("file/logs")},
       "cannot make the output folder",
       false},
      {{"--config", QString::fromStdString(publishing)},
       "cannot load libmosquitto",
       false,
       dir_.filePath("lib")},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.arguments.join(' ').toStdString());
    ChildProcess logger;
    logger.MergeErrors();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!test.libraryPath.isEmpty()) environment.insert("LD_LIBRARY_PATH", test.libraryPath);
    ASSERT_TRUE(logger.Start(kLogger, test.arguments, environment, dir_.path()));
    ASSERT_TRUE(logger.WaitForExit(kRunBoundMs));
    EXPECT_EQ(logger.ExitCode(), 2);
    const std::string output = logger.Output().toStdString();
    EXPECT_EQ(output.rfind("varnel-logger: ", 0), 0u) << output;
    const std::string tryHelp = "Try 'varnel-logger --help' for more information.\n";
    const std::string firstLine = output.substr(0, output.find('\n') + 1);
    EXPECT_NE(firstLine.find(test.names), std::string::npos) << output;
    EXPECT_EQ(output.substr(firstLine.size()), test.option ? tryHelp : "") << output;
  }
  EXPECT_EQ(simulator_->CommandCount(), 0u);
}

}  // namespace
