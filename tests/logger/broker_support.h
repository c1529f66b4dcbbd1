#pragma once

// What the broker tests share: free loopback ports, a mosquitto of the test's own, the rows a
// subscriber received and the rows of a folder's logs.

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
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/test_support.h"
#include "tools/sim/controller_simulator.h"

namespace broker_test {

namespace fs = std::filesystem;

constexpr int kBoundMs = 30000;

inline uint16_t FreePort() {
  QTcpServer server;
  server.listen(QHostAddress::LocalHost, 0);
  return server.serverPort();
}

inline bool RunTool(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  return process.waitForFinished(kBoundMs) && process.exitCode() == 0;
}

inline std::string UserName() {
  const passwd* entry = ::getpwuid(::geteuid());
  return entry != nullptr ? entry->pw_name : "root";
}

// True once something accepts connections on 127.0.0.1:port, within the bound, while the
// process that should is running.
inline bool WaitForListener(ChildProcess& process, uint16_t port) {
  const QDeadlineTimer deadline(kBoundMs);
  while (!deadline.hasExpired() && process.Running()) {
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    if (probe.waitForConnected(200)) return true;
    QThread::msleep(50);
  }
  return false;
}

// One mosquitto of the test's own: its config, password file and persistence in a folder of
// the test, listening on 127.0.0.1 only. Started again, it listens on the same port.
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
    return process_->Start("mosquitto",
                           {"-c", QString::fromStdString(folder_ + "/mosquitto.conf")}) &&
           WaitForListener(*process_, port_);
  }
  void Signal(int signal) { ::kill(static_cast<pid_t>(process_->Pid()), signal); }
  void Kill() {
    Signal(SIGKILL);
    process_->WaitForExit(kBoundMs);
  }
  uint16_t Port() const { return port_; }
  QByteArray Output() { return process_->Output(); }

 private:
  std::string folder_;
  uint16_t port_;
  std::unique_ptr<ChildProcess> process_;
};

// A persistent QoS 1 subscriber (`mosquitto_sub -v`): its session outlives the broker's
// restarts, and it connects again by itself.
inline bool Subscribe(ChildProcess& subscriber, uint16_t port, const QString& topic,
                      const QString& id = QStringLiteral("test-subscriber")) {
  subscriber.MergeErrors();
  if (!subscriber.Start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1",
                                          "-c", "-i", id, "-v", "-t", topic})) {
    return false;
  }
  // Subscribed, and the session saved, before anything is published.
  QThread::msleep(1500);
  return subscriber.Running();
}

// A received row: its topic, file, number, replay flag and the CSV line it stands for.
struct Received {
  std::string topic;
  std::string file;
  int row = 0;
  bool replay = false;
  std::string line;
};

// The JSON rows of `mosquitto_sub -v` output.
inline std::vector<Received> ParseRows(const QByteArray& output) {
  static const std::regex message(
      R"re((\S+) \{"time":"(\d{4}-\d\d-\d\d)T(\d\d:\d\d:\d\d)[+-]\d\d:\d\d","file":"([^"]+)","row":(\d+),"replay":(true|false),"values":\{([^}]*)\}\})re");
  static const std::regex value(R"re("DM\d+":(-?\d+))re");
  std::vector<Received> rows;
  std::istringstream lines(output.toStdString());
  for (std::string text; std::getline(lines, text);) {
    std::smatch m;
    if (!std::regex_match(text, m, message)) continue;
    Received r{m[1], m[4], std::stoi(m[5]), m[6] == "true",
               std::string(m[2]) + "," + std::string(m[3])};
    const std::string values = m[7];
    for (auto it = std::sregex_iterator(values.begin(), values.end(), value);
         it != std::sregex_iterator(); ++it) {
      r.line += "," + (*it)[1].str();
    }
    rows.push_back(r);
  }
  return rows;
}

// Every data row of every log of a folder, in file order, numbered as the logger numbers them.
inline std::vector<Received> CsvRows(const std::string& folder) {
  std::vector<Received> rows;
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".csv") names.insert(entry.path().filename());
  }
  for (const std::string& name : names) {
    std::istringstream lines(ReadFileText(folder + "/" + name));
    int row = 0;
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.starts_with("YYYY")) continue;
      rows.push_back({{}, name, ++row, false, line});
    }
  }
  return rows;
}

// Distinct rows received, by topic, file and number: read from the new output only, without a
// regular expression, since a replay brings tens of thousands.
inline bool WaitForRows(ChildProcess& subscriber, std::size_t count, int boundMs = kBoundMs) {
  const QDeadlineTimer deadline(boundMs);
  std::set<std::tuple<std::string, std::string, int>> distinct;
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
      distinct.insert({line.substr(0, line.find(' ')),
                       line.substr(file + 8, line.find('"', file + 8) - file - 8),
                       std::atoi(line.c_str() + row + 6)});
    }
    if (distinct.size() >= count) return true;
    // Without an event loop the child's output is only taken in by a wait.
    subscriber.WaitForLine(QStringLiteral("\x01"), 50);
  }
  return false;
}

// Every row of the folder's logs arrived with its values; first copies of live rows and of
// replayed rows each come in log order. Returns the number of duplicates; the rows that came
// again go to `repeated`, when given.
inline int ExpectEveryRowArrived(const std::vector<Received>& received, const std::string& folder,
                                 std::vector<std::pair<std::string, int>>* repeated = nullptr) {
  std::map<std::pair<std::string, int>, std::string> sent;
  int duplicates = 0;
  std::pair<std::string, int> lastLive;
  std::pair<std::string, int> lastReplay;
  for (const Received& r : received) {
    const auto key = std::make_pair(r.file, r.row);
    if (!sent.emplace(key, r.line).second) {
      ++duplicates;
      if (repeated != nullptr) repeated->push_back(key);
      continue;
    }
    auto& last = r.replay ? lastReplay : lastLive;
    EXPECT_LT(last, key) << r.file << " row " << r.row;
    last = key;
  }
  const std::vector<Received> csv = CsvRows(folder);
  for (const Received& row : csv) {
    const auto found = sent.find({row.file, row.row});
    if (found == sent.end()) {
      ADD_FAILURE() << "not received: " << folder << "/" << row.file << " row " << row.row;
    } else {
      EXPECT_EQ(found->second, row.line);
    }
  }
  EXPECT_EQ(sent.size(), csv.size());
  return duplicates;
}

// A temporary folder and a simulator answering the counter pattern on 127.0.0.1, for the
// broker tests' fixtures.
class SimulatorFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SimulatorOptions options;
    options.port = 0;
    options.pattern = {ValuePattern::Kind::kCounter, 0};
    simulator_ = std::make_unique<ControllerSimulator>(options);
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
  }

  std::string Path(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }

  QTemporaryDir dir_;
  std::unique_ptr<ControllerSimulator> simulator_;
};

}  // namespace broker_test
