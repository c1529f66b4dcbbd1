// The real varnel-logger publishing to a real mosquitto broker that the test starts on
// 127.0.0.1 with a free port and its own config, against the simulator in-process.

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/test_support.h"
#include "tools/sim/controller_simulator.h"

namespace {

namespace fs = std::filesystem;

constexpr int kBoundMs = 30000;
const QString kLogger = QStringLiteral(VARNEL_LOGGER_EXECUTABLE);

uint16_t FreePort() {
  QTcpServer server;
  server.listen(QHostAddress::LocalHost, 0);
  return server.serverPort();
}

bool RunTool(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  return process.waitForFinished(kBoundMs) && process.exitCode() == 0;
}

std::string UserName() {
  const passwd* entry = ::getpwuid(::geteuid());
  return entry != nullptr ? entry->pw_name : "root";
}

// One mosquitto of the test's own: its config, password file and persistence in a folder of
// the test, listening on 127.0.0.1 only.
class Broker {
 public:
  Broker(const std::string& folder, const std::string& extra) : folder_(folder), port_(FreePort()) {
    fs::create_directories(folder_);
    WriteFileText(folder_ + "/mosquitto.conf",
                  "listener " + std::to_string(port_) +
                      " 127.0.0.1\npersistence true\nautosave_interval 1\npersistence_location " +
                      folder_ + "/\n" +
                      // Run as root, it would change to the system's broker user otherwise.
                      "user " + UserName() + "\n" + extra);
  }
  bool Start() {
    process_ = std::make_unique<ChildProcess>();
    process_->MergeErrors();
    if (!process_->Start("mosquitto",
                         {"-c", QString::fromStdString(folder_ + "/mosquitto.conf")})) {
      return false;
    }
    const QDeadlineTimer deadline(kBoundMs);
    while (!deadline.hasExpired() && process_->Running()) {
      QTcpSocket probe;
      probe.connectToHost(QHostAddress::LocalHost, port_);
      if (probe.waitForConnected(200)) return true;
      QThread::msleep(50);
    }
    return false;
  }
  void Signal(int signal) { ::kill(static_cast<pid_t>(process_->Pid()), signal); }
  void Kill() {
    Signal(SIGKILL);
    process_->WaitForExit(kBoundMs);
  }
  uint16_t Port() const { return port_; }

 private:
  std::string folder_;
  uint16_t port_;
  std::unique_ptr<ChildProcess> process_;
};

// A received row: its file, number, replay flag and the CSV line it stands for.
struct Received {
  std::string file;
  int row = 0;
  bool replay = false;
  std::string line;
};

std::vector<Received> ParseRows(const QByteArray& output) {
  static const std::regex message(
      R"re(\{"time":"(\d{4}-\d\d-\d\d)T(\d\d:\d\d:\d\d)[+-]\d\d:\d\d","file":"([^"]+)","row":(\d+),"replay":(true|false),"values":\{([^}]*)\}\})re");
  static const std::regex value(R"re("DM\d+":(-?\d+))re");
  std::vector<Received> rows;
  std::istringstream lines(output.toStdString());
  for (std::string text; std::getline(lines, text);) {
    std::smatch m;
    if (!std::regex_match(text, m, message)) continue;
    Received r{m[3], std::stoi(m[4]), m[5] == "true", std::string(m[1]) + "," + std::string(m[2])};
    const std::string values = m[6];
    for (auto it = std::sregex_iterator(values.begin(), values.end(), value);
         it != std::sregex_iterator(); ++it) {
      r.line += "," + (*it)[1].str();
    }
    rows.push_back(r);
  }
  return rows;
}

class BrokerPublishingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SimulatorOptions options;
    options.port = 0;
    options.pattern = {ValuePattern::Kind::kCounter, 0};
    simulator_ = std::make_unique<ControllerSimulator>(options);
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    folder_ = dir_.filePath("logs").toStdString();
  }

  std::string Path(const std::string& name) const {
    return dir_.filePath(name.c_str()).toStdString();
  }

  std::string Config(uint16_t brokerPort, const std::string& extra = {}) {
    const std::string path = Path("line1.ini");
    WriteFileText(path,
                  "[Setup]\nIPAddress=127.0.0.1\nPortNo=" + std::to_string(simulator_->Port()) +
                      "\nInterval=1\nTimeOut=100\nDeviceStart=100\nDeviceNum=4\n"
                      "[MQTT]\nHost=127.0.0.1\nPort=" +
                      std::to_string(brokerPort) + "\nKeepAlive=5\n" + extra);
    return path;
  }

  bool StartLogger(ChildProcess& logger, const std::string& config, const QStringList& extra = {}) {
    logger.MergeErrors();
    return logger.Start(kLogger, QStringList{"--config", QString::fromStdString(config), "--output",
                                             QString::fromStdString(folder_)} +
                                     extra);
  }

  // A persistent QoS 1 subscriber: its session outlives the broker's restarts.
  bool Subscribe(ChildProcess& subscriber, uint16_t port) {
    subscriber.MergeErrors();
    if (!subscriber.Start("mosquitto_sub",
                          {"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1", "-c", "-i",
                           "test-subscriber", "-t", "varnel/line1/rows"})) {
      return false;
    }
    // Subscribed, and the session saved, before anything is published.
    QThread::msleep(1500);
    return subscriber.Running();
  }

  // Every data row of every log, keyed by file and row number, in file order.
  std::vector<Received> CsvRows() const {
    std::vector<Received> rows;
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      if (entry.path().extension() == ".csv") names.insert(entry.path().filename());
    }
    for (const std::string& name : names) {
      std::istringstream lines(ReadFileText(folder_ + "/" + name));
      int row = 0;
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with("YYYY")) continue;
        rows.push_back({name, ++row, false, line});
      }
    }
    return rows;
  }

  // Distinct rows received, by file and number: read from the new output only, without a
  // regular expression, since a replay brings tens of thousands.
  bool WaitForRows(ChildProcess& subscriber, std::size_t count) {
    const QDeadlineTimer deadline(kBoundMs);
    std::set<std::pair<std::string, int>> distinct;
    qsizetype done = 0;
    while (!deadline.hasExpired()) {
      const QByteArray output = subscriber.Output();
      qsizetype end = 0;
      while ((end = output.indexOf('\n', done)) >= 0) {
        const std::string line = output.mid(done, end - done).toStdString();
        done = end + 1;
        const std::size_t file = line.find("\"file\":\"");
        const std::size_t row = line.find("\"row\":");
        if (file == std::string::npos || row == std::string::npos) continue;
        distinct.insert({line.substr(file + 8, line.find('"', file + 8) - file - 8),
                         std::atoi(line.c_str() + row + 6)});
      }
      if (distinct.size() >= count) return true;
      // Without an event loop the child's output is only taken in by a wait.
      subscriber.WaitForLine(QStringLiteral("\x01"), 50);
    }
    return false;
  }

  // Every CSV row arrived with its values; first copies of live rows and of replayed rows
  // each come in log order. Returns the number of duplicates.
  int ExpectEveryRowArrived(const std::vector<Received>& received) {
    const std::vector<Received> csv = CsvRows();
    std::map<std::pair<std::string, int>, std::string> sent;
    int duplicates = 0;
    std::pair<std::string, int> lastLive;
    std::pair<std::string, int> lastReplay;
    for (const Received& r : received) {
      const auto key = std::make_pair(r.file, r.row);
      if (!sent.emplace(key, r.line).second) {
        ++duplicates;
        continue;
      }
      auto& last = r.replay ? lastReplay : lastLive;
      EXPECT_LT(last, key) << r.file << " row " << r.row;
      last = key;
    }
    for (const Received& row : csv) {
      const auto found = sent.find({row.file, row.row});
      if (found == sent.end()) {
        ADD_FAILURE() << "not received: " << row.file << " row " << row.row;
      } else {
        EXPECT_EQ(found->second, row.line);
      }
    }
    EXPECT_EQ(sent.size(), csv.size());
    return duplicates;
  }

  QTemporaryDir dir_;
  std::string folder_;
  std::unique_ptr<ControllerSimulator> simulator_;
};

TEST_F(BrokerPublishingTest, SubscriberGetsTheCsvRowsValueForValueInOrder) {
  Broker broker(Path("broker"), "allow_anonymous true\n");
  ASSERT_TRUE(broker.Start());
  ChildProcess subscriber;
  ASSERT_TRUE(Subscribe(subscriber, broker.Port()));
  ChildProcess logger;
  ASSERT_TRUE(StartLogger(logger, Config(broker.Port()), {"--cycles", "5"}));
  ASSERT_TRUE(logger.WaitForExit(kBoundMs));
  EXPECT_EQ(logger.ExitCode(), 0);
  EXPECT_NE(logger.Output().indexOf("5 rows published, 0 rows unsent"), -1)
      << logger.Output().toStdString();
  ASSERT_TRUE(WaitForRows(subscriber, 5)) << subscriber.Output().toStdString();
  const std::vector<Received> received = ParseRows(subscriber.Output());
  const std::vector<Received> csv = CsvRows();
  ASSERT_EQ(received.size(), csv.size());
  for (std::size_t i = 0; i < csv.size(); ++i) {
    EXPECT_EQ(received[i].line, csv[i].line);
    EXPECT_EQ(received[i].row, csv[i].row);
    EXPECT_FALSE(received[i].replay);
  }
}

TEST_F(BrokerPublishingTest, BrokerKilledForSeveralCyclesLosesNoRow) {
  Broker broker(Path("broker"), "allow_anonymous true\n");
  ASSERT_TRUE(broker.Start());
  ChildProcess subscriber;
  ASSERT_TRUE(Subscribe(subscriber, broker.Port()));
  ChildProcess logger;
  ASSERT_TRUE(StartLogger(logger, Config(broker.Port()), {"--cycles", "10"}));
  ASSERT_TRUE(WaitForRows(subscriber, 2));
  broker.Kill();
  QThread::msleep(4000);
  ASSERT_TRUE(broker.Start());
  ASSERT_TRUE(logger.WaitForExit(kBoundMs));
  const std::string journal = logger.Output().toStdString();
  EXPECT_NE(journal.find("10 rows written"), std::string::npos) << journal;
  EXPECT_NE(journal.find("0 rows unsent"), std::string::npos) << journal;
  EXPECT_NE(journal.find("cleared: MQTT broker"), std::string::npos) << journal;
  ASSERT_TRUE(WaitForRows(subscriber, 10));
  const int duplicates = ExpectEveryRowArrived(ParseRows(subscriber.Output()));
  EXPECT_LE(duplicates, 64);
}

// A backlog of an earlier run (50,000 rows) replays; the logger is killed in the middle and
// started again: every row arrives, and it resumes from the kept position, not the start.
TEST_F(BrokerPublishingTest, LoggerKilledDuringAReplayResumesWithoutLoss) {
  Broker broker(Path("broker"), "allow_anonymous true\nmax_queued_messages 0\n");
  ASSERT_TRUE(broker.Start());
  fs::create_directories(folder_);
  constexpr int kBacklog = 50000;
  std::string old = "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101,DM00102,DM00103\r\n";
  for (int i = 0; i < kBacklog; ++i) {
    old += "2020-01-01,00:00:00," + std::to_string(i) + ",1,2,3\r\n";
  }
  WriteFileText(folder_ + "/2020-01-01 00-00-00.csv", old);
  WriteFileText(folder_ + "/.varnel-publish",
                "varnel-publish 1\nfrom 0\t1\t2020-01-01 00-00-00.csv\n");
  ChildProcess subscriber;
  ASSERT_TRUE(Subscribe(subscriber, broker.Port()));
  const std::string config = Config(broker.Port());
  // The first row of the old log not yet acknowledged, as the kept position says.
  const auto keptRow = [&]() -> long {
    const std::string kept = ReadFileText(folder_ + "/.varnel-publish");
    std::smatch from;
    if (!std::regex_search(kept, from, std::regex("from \\d+\t(\\d+)\t2020-01-01"))) return 0;
    return std::stol(from[1]);
  };
  long resumeRow = 0;
  {
    ChildProcess logger;
    ASSERT_TRUE(StartLogger(logger, config));
    ASSERT_TRUE(WaitForRows(subscriber, kBacklog / 5));
    // Killed once the position was kept at least once during the replay (once a second).
    const QDeadlineTimer deadline(kBoundMs);
    while (keptRow() <= 1 && !deadline.hasExpired()) QThread::msleep(20);
    ::kill(static_cast<pid_t>(logger.Pid()), SIGKILL);
    logger.WaitForExit(kBoundMs);
    resumeRow = keptRow();
  }
  ASSERT_GT(resumeRow, 1);
  const std::size_t beforeRestart = ParseRows(subscriber.Output()).size();
  ChildProcess logger;
  ASSERT_TRUE(StartLogger(logger, config));
  ASSERT_TRUE(WaitForRows(subscriber, kBacklog + 3));
  ::kill(static_cast<pid_t>(logger.Pid()), SIGTERM);
  ASSERT_TRUE(logger.WaitForExit(kBoundMs));
  EXPECT_NE(logger.Output().indexOf(" 0 rows unsent"), -1) << logger.Output().toStdString();
  const std::vector<Received> received = ParseRows(subscriber.Output());
  const int duplicates = ExpectEveryRowArrived(received);
  // Resumed from the kept position: only rows after it can come twice.
  EXPECT_LE(static_cast<std::size_t>(duplicates),
            beforeRestart - static_cast<std::size_t>(resumeRow - 1));
}

// Each bad broker: logging goes on untouched, and the journal names the cause.
TEST_F(BrokerPublishingTest, BadBrokersLeaveTheCsvAloneAndTheJournalNamesTheCause) {
  const std::string certs = Path("certs");
  fs::create_directories(certs);
  const auto ssl = [&](const QStringList& arguments) { return RunTool("openssl", arguments); };
  const QString c = QString::fromStdString(certs);
  // A CA of the test's own, a server certificate for localhost signed by it, and a stranger CA.
  ASSERT_TRUE(ssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                   "/CN=test-ca", "-keyout", c + "/ca.key", "-out", c + "/ca.pem"}));
  ASSERT_TRUE(ssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                   "/CN=other-ca", "-keyout", c + "/other.key", "-out", c + "/other.pem"}));
  ASSERT_TRUE(ssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
                   c + "/server.key", "-out", c + "/server.csr"}));
  WriteFileText(certs + "/san.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
  ASSERT_TRUE(ssl({"x509", "-req", "-in", c + "/server.csr", "-CA", c + "/ca.pem", "-CAkey",
                   c + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile", c + "/san.ext",
                   "-out", c + "/server.pem"}));
  WriteFileText(certs + "/passwords", "");
  ASSERT_TRUE(RunTool("mosquitto_passwd", {"-b", c + "/passwords", "logger", "right"}));
  WriteFileText(certs + "/wrong", "wrong\n");
  WriteFileText(certs + "/right", "right\n");
  const std::string tls = "cafile " + certs + "/ca.pem\ncertfile " + certs +
                          "/server.pem\nkeyfile " + certs + "/server.key\nallow_anonymous true\n";
  const struct {
    const char* name;
    std::string brokerConfig;
    std::string mqtt;
    bool stop;
    const char* cause;  // empty: published
  } cases[] = {
      {"wrong password", "password_file " + certs + "/passwords\nallow_anonymous false\n",
       "Username=logger\nPasswordFile=" + certs + "/wrong\n", false, "refused the connection"},
      {"right password", "password_file " + certs + "/passwords\nallow_anonymous false\n",
       "Username=logger\nPasswordFile=" + certs + "/right\n", false, ""},
      {"TLS with the test's CA", tls, "Host=localhost\nCAFile=" + certs + "/ca.pem\n", false, ""},
      {"TLS with another CA", tls, "CAFile=" + certs + "/other.pem\n", false, "TLS"},
      {"broker stopped", "allow_anonymous true\n", "", true, "stopped answering"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    fs::remove_all(folder_);
    Broker broker(Path(std::string("broker-") + k.name), k.brokerConfig);
    ASSERT_TRUE(broker.Start());
    std::string mqtt = k.mqtt;
    // A later Host wins nowhere: the first key does, so the case's own comes first.
    std::string config = Config(broker.Port(), mqtt);
    if (mqtt.starts_with("Host=")) {
      WriteFileText(config,
                    std::regex_replace(ReadFileText(config), std::regex("Host=127.0.0.1\n"), ""));
    }
    ChildProcess logger;
    ASSERT_TRUE(StartLogger(logger, config, {"--cycles", k.stop ? "12" : "4", "--sync", "none"}));
    if (k.stop) {
      QThread::msleep(1500);
      broker.Signal(SIGSTOP);
    }
    ASSERT_TRUE(logger.WaitForExit(kBoundMs));
    if (k.stop) broker.Signal(SIGCONT);
    const std::string journal = logger.Output().toStdString();
    const std::size_t rows = k.stop ? 12 : 4;
    EXPECT_EQ(CsvRows().size(), rows);
    EXPECT_NE(journal.find(std::to_string(rows) + " rows written"), std::string::npos) << journal;
    if (std::string(k.cause).empty()) {
      EXPECT_NE(journal.find(std::to_string(rows) + " rows published, 0 rows unsent"),
                std::string::npos)
          << journal;
    } else {
      EXPECT_NE(journal.find(k.cause), std::string::npos) << journal;
    }
    broker.Kill();
  }
}

}  // namespace
