// The logger's rows as the plant's systems take them: through a site broker bridged to a
// central one, into a time-series database, and from fifty loggers at once. Every server is
// the test's own, on 127.0.0.1 with free ports; the simulator runs in-process.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/logger/broker_support.h"
#include "tests/test_support.h"
#include "tools/sim/controller_simulator.h"

namespace {

using namespace broker_test;

const QString kLogger = QStringLiteral(VARNEL_LOGGER_EXECUTABLE);

// One HTTP/1.0 exchange with 127.0.0.1:port: the status code and the body (0: no answer).
std::pair<int, QByteArray> Http(uint16_t port, const QByteArray& method, const QByteArray& target,
                                const QByteArray& body = {}) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port);
  if (!socket.waitForConnected(kBoundMs)) return {0, {}};
  socket.write(method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\n\r\n" + body);
  QByteArray answer;
  const QDeadlineTimer deadline(kBoundMs);
  while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
    socket.waitForReadyRead(100);
    answer += socket.readAll();
  }
  answer += socket.readAll();
  const qsizetype bodyAt = answer.indexOf("\r\n\r\n");
  return {answer.mid(9, 3).toInt(), bodyAt < 0 ? QByteArray() : answer.mid(bodyAt + 4)};
}

QByteArray Query(const QString& text) {
  return "/query?db=plant&q=" + QUrl::toPercentEncoding(text);
}

class BrokerConsumersTest : public SimulatorFixture {
 protected:
  // A logger of its own config (NAME.ini) and folder (NAME/) publishing to the broker.
  bool StartLogger(ChildProcess& logger, const std::string& name, uint16_t brokerPort,
                   const std::string& mqtt, int cycles) {
    const std::string config = Path(name + ".ini");
    WriteFileText(config,
                  "[Setup]\nIPAddress=127.0.0.1\nPortNo=" + std::to_string(simulator_->Port()) +
                      "\nInterval=1\nTimeOut=1000\nDeviceStart=100\nDeviceNum=4\n"
                      "[MQTT]\nHost=127.0.0.1\nPort=" +
                      std::to_string(brokerPort) + "\nKeepAlive=5\n" + mqtt);
    logger.MergeErrors();
    return logger.Start(kLogger, {"--config", QString::fromStdString(config), "--output",
                                  QString::fromStdString(Path(name)), "--cycles",
                                  QString::number(cycles), "--sync", "none"});
  }
};

// The site broker forwards varnel/# to the central one with QoS 1 and a persistent session;
// the central broker is killed for a few cycles and started again on its port with its
// persistence: its subscriber gets every row, in order.
TEST_F(BrokerConsumersTest, SiteBrokerBridgesEveryRowToTheCentreAcrossItsOutage) {
  Broker central(Path("central"), "allow_anonymous true\n");
  ASSERT_TRUE(central.Start());
  Broker site(Path("site"), "allow_anonymous true\nconnection centre\naddress 127.0.0.1:" +
                                std::to_string(central.Port()) +
                                "\ntopic varnel/# out 1\ncleansession false\n"
                                "bridge_protocol_version mqttv311\nrestart_timeout 1\n");
  ASSERT_TRUE(site.Start());
  ChildProcess subscriber;
  ASSERT_TRUE(Subscribe(subscriber, central.Port(), "varnel/+/rows"));
  ChildProcess logger;
  ASSERT_TRUE(StartLogger(logger, "line1", site.Port(), "", 10));
  ASSERT_TRUE(WaitForRows(subscriber, 2)) << site.Output().toStdString();
  central.Kill();
  QThread::msleep(4000);
  ASSERT_TRUE(central.Start());
  ASSERT_TRUE(logger.WaitForExit(kBoundMs));
  const std::string journal = logger.Output().toStdString();
  EXPECT_NE(journal.find("10 rows published, 0 rows unsent"), std::string::npos) << journal;
  ASSERT_TRUE(WaitForRows(subscriber, 10)) << subscriber.Output().toStdString();
  const std::vector<Received> received = ParseRows(subscriber.Output());
  ExpectEveryRowArrived(received, Path("line1"));
  // The logger never lost its broker: one stream, so first copies are in log order throughout.
  for (const Received& r : received) EXPECT_FALSE(r.replay);
}

// Format=influx payloads, as a subscriber received them, posted to a real time-series
// database's write endpoint: it counts exactly the rows, and a second post changes nothing.
TEST_F(BrokerConsumersTest, InfluxPayloadsAreCountedOnceByATimeSeriesDatabase) {
  if (QStandardPaths::findExecutable("influxd").isEmpty()) {
    GTEST_SKIP() << "influxd (Debian's influxdb) is not installed";
  }
  Broker broker(Path("broker"), "allow_anonymous true\n");
  ASSERT_TRUE(broker.Start());
  ChildProcess subscriber;
  ASSERT_TRUE(Subscribe(subscriber, broker.Port(), "varnel/line1/rows"));
  ChildProcess logger;
  ASSERT_TRUE(StartLogger(logger, "line1", broker.Port(), "Format=influx\n", 5));
  ASSERT_TRUE(logger.WaitForExit(kBoundMs));
  const std::size_t rows = CsvRows(Path("line1")).size();
  ASSERT_GT(rows, 0u);
  // The payloads, one a line after the topic.
  QByteArray lines;
  const QByteArray prefix = "varnel/line1/rows ";
  const QDeadlineTimer deadline(kBoundMs);
  for (std::size_t count = 0; count < rows && !deadline.hasExpired();) {
    subscriber.WaitForLine(QStringLiteral("\x01"), 50);
    lines.clear();
    count = 0;
    for (const QByteArray& line : subscriber.Output().split('\n')) {
      if (!line.startsWith(prefix)) continue;
      lines += line.mid(prefix.size()) + "\n";
      ++count;
    }
  }
  ASSERT_EQ(lines.count('\n'), static_cast<qsizetype>(rows)) << lines.toStdString();

  const std::string db = Path("influxdb");
  const uint16_t httpPort = FreePort();
  WriteFileText(
      Path("influxdb.conf"),
      "reporting-disabled = true\nbind-address = \"127.0.0.1:" + std::to_string(FreePort()) +
          "\"\n[meta]\ndir = \"" + db + "/meta\"\n[data]\ndir = \"" + db + "/data\"\nwal-dir = \"" +
          db + "/wal\"\nquery-log-enabled = false\n[http]\nbind-address = \"127.0.0.1:" +
          std::to_string(httpPort) + "\"\nlog-enabled = false\n[monitor]\nstore-enabled = false\n");
  ChildProcess influxd;
  influxd.MergeErrors();
  ASSERT_TRUE(influxd.Start("influxd", {"-config", QString::fromStdString(Path("influxdb.conf"))}));
  ASSERT_TRUE(WaitForListener(influxd, httpPort)) << influxd.Output().toStdString();
  ASSERT_EQ(Http(httpPort, "POST", Query("CREATE DATABASE plant")).first, 200);
  const auto count = [&] {
    const auto [status, body] = Http(httpPort, "GET", Query("SELECT COUNT(*) FROM varnel"));
    EXPECT_EQ(status, 200) << body.toStdString();
    const QJsonArray values = QJsonDocument::fromJson(body)["results"][0]["series"][0]["values"]
                                  .toArray()
                                  .at(0)
                                  .toArray();
    // Time, then one count for each of the four devices: all the same.
    EXPECT_EQ(values.size(), 5) << body.toStdString();
    for (int i = 2; i < values.size(); ++i) EXPECT_EQ(values[i].toInteger(), values[1].toInteger());
    return values.at(1).toInteger(-1);
  };
  for (int post = 0; post < 2; ++post) {
    SCOPED_TRACE(post == 0 ? "first post" : "the same rows again");
    EXPECT_EQ(Http(httpPort, "POST", "/write?db=plant&precision=ns", lines).first, 204);
    EXPECT_EQ(count(), static_cast<qint64>(rows));
  }
  influxd.Kill();
}

// Fifty loggers, each its own config, folder and topic, poll one simulator and publish to one
// broker: one subscriber of varnel/# gets every row of every logger's CSV.
TEST_F(BrokerConsumersTest, FiftyLoggersAllArriveAtOneSubscriber) {
  constexpr int kLoggers = 50;
  Broker broker(Path("broker"), "allow_anonymous true\n");
  ASSERT_TRUE(broker.Start());
  ChildProcess subscriber;
  ASSERT_TRUE(Subscribe(subscriber, broker.Port(), "varnel/#"));
  std::vector<std::unique_ptr<ChildProcess>> loggers;
  for (int i = 0; i < kLoggers; ++i) {
    loggers.push_back(std::make_unique<ChildProcess>());
    const std::string name = "line" + std::to_string(i);
    ASSERT_TRUE(
        StartLogger(*loggers.back(), name, broker.Port(), "Topic=varnel/" + name + "\n", 3));
  }
  std::size_t rows = 0;
  for (int i = 0; i < kLoggers; ++i) {
    ChildProcess& logger = *loggers[static_cast<std::size_t>(i)];
    ASSERT_TRUE(logger.WaitForExit(kBoundMs)) << "logger " << i;
    EXPECT_EQ(logger.ExitCode(), 0) << logger.Output().toStdString();
    EXPECT_NE(logger.Output().indexOf("3 rows published, 0 rows unsent"), -1)
        << logger.Output().toStdString();
    rows += CsvRows(Path("line" + std::to_string(i))).size();
  }
  EXPECT_EQ(rows, std::size_t{3} * kLoggers);
  ASSERT_TRUE(WaitForRows(subscriber, rows));
  std::map<std::string, std::vector<Received>> byTopic;
  for (Received& r : ParseRows(subscriber.Output())) byTopic[r.topic].push_back(std::move(r));
  for (int i = 0; i < kLoggers; ++i) {
    const std::string name = "line" + std::to_string(i);
    SCOPED_TRACE(name);
    ExpectEveryRowArrived(byTopic["varnel/" + name + "/rows"], Path(name));
  }
}

}  // namespace
