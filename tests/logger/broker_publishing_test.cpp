// The real varnel-logger publishing to a real mosquitto broker that the test starts on
// 127.0.0.1 with a free port and its own config, against the simulator in-process.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/logger/broker_support.h"
#include "tests/test_support.h"
#include "tools/sim/controller_simulator.h"

namespace {

using namespace broker_test;

const QString kLogger = QStringLiteral(VARNEL_LOGGER_EXECUTABLE);

class BrokerPublishingTest : public SimulatorFixture {
 protected:
  void SetUp() override {
    SimulatorFixture::SetUp();
    folder_ = dir_.filePath("logs").toStdString();
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

  bool Subscribe(ChildProcess& subscriber, uint16_t port) {
    return broker_test::Subscribe(subscriber, port, "varnel/line1/rows");
  }

  std::vector<Received> CsvRows() const { return broker_test::CsvRows(folder_); }

  int ExpectEveryRowArrived(const std::vector<Received>& received,
                            std::vector<std::pair<std::string, int>>* repeated = nullptr) const {
    return broker_test::ExpectEveryRowArrived(received, folder_, repeated);
  }

  std::string folder_;
};

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
  ChildProcess logger;
  ASSERT_TRUE(StartLogger(logger, config));
  ASSERT_TRUE(WaitForRows(subscriber, kBacklog + 3));
  ::kill(static_cast<pid_t>(logger.Pid()), SIGTERM);
  ASSERT_TRUE(logger.WaitForExit(kBoundMs));
  EXPECT_NE(logger.Output().indexOf(" 0 rows unsent"), -1) << logger.Output().toStdString();
  // Every row the broker took is on its way to the subscriber.
  ASSERT_TRUE(WaitForRows(subscriber, CsvRows().size()));
  // Resumed from the kept position: only rows from it on can come twice, however late the
  // killed logger's last messages arrive.
  std::vector<std::pair<std::string, int>> repeated;
  ExpectEveryRowArrived(ParseRows(subscriber.Output()), &repeated);
  for (const auto& [file, row] : repeated) {
    if (file == "2020-01-01 00-00-00.csv") {
      EXPECT_GE(row, resumeRow);
    }
  }
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
