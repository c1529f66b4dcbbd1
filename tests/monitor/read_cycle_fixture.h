#pragma once

// The read cycle over the fake socket layer, with timers fired by hand and a set clock.

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/handler_guard.h"
#include "monitor/clock.h"
#include "monitor/csv_log.h"
#include "monitor/cycle_timer.h"
#include "monitor/logger_conduct.h"
#include "monitor/monitor_conduct.h"
#include "monitor/poller.h"
#include "monitor/read_cycle.h"
#include "net/udp_endpoint.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_cycle_timer.h"
#include "tests/fakes/fake_socket_api.h"

namespace read_cycle_fixture {

using Texts = std::vector<std::string>;

using ::FakeClock;
using ::FakeTimer;

inline std::vector<int> Sequence(int first, int count) {
  std::vector<int> values;
  for (int i = 0; i < count; ++i) values.push_back(first + i);
  return values;
}

// Each value as printf `format` gives it, joined, then `end`.
inline std::string Join(const std::vector<int>& values, const char* format, std::string end) {
  std::string text;
  for (const int v : values) text += QString::asprintf(format, v).toStdString();
  return text + end;
}
// Five-digit fields separated by blanks, CR LF after the last: 6 * fields + 1 bytes.
inline std::string Reply(const std::vector<int>& fields) {
  return Join(fields, " %05d", "\r\n").substr(1);
}
inline std::string Header(int start, int num) {
  return "YYYY-MM-DD,HH:MM:SS" + Join(Sequence(start, num), ",DM%05d", "\r\n");
}
inline std::string Values(int first, int count) { return Join(Sequence(first, count), ",%d", ""); }
inline const std::string kStamp = "2004-01-10,09:05:08";
inline std::string Row(int first, int count) { return kStamp + Values(first, count) + "\r\n"; }
inline std::string Request(int first, int count) {
  return "RDS DM00" + std::to_string(first) + " " + std::to_string(count) + "\r\n";
}
inline const std::string kUnexpected13 = "Unexpected-UDP-DataReceived 13Bytes. Abandond.";

class ReadCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    settings.IPAddress = "127.0.0.1";
    settings.PortNo = 8501;
    settings.DeviceStart = 100;
    settings.DeviceNum = 20;
    previousReporter_ =
        HandlerGuard::SetReporter([this](const std::string& m) { errors.push_back(m); });
    Build(dir_.filePath("log.csv").toStdString());
  }
  void TearDown() override { HandlerGuard::SetReporter(previousReporter_); }

  void Build(const std::string& logPath) {
    log_ = std::make_unique<CsvLog>(logPath);
    // Every wait is bounded: a loop that does not end when it should is left by force.
    auto pass = [this] {
      if (++passes > 50) throw std::runtime_error("StopWait did not end");
      if (dispatch) dispatch();
    };
    auto status = [this](const std::string& text) { statuses.push_back(text); };
    std::unique_ptr<ReadCycle::Conduct> conduct;
    if (unattended) {
      LoggerConduct::Sinks sinks;
      sinks.Row = [this](const LocalDateTime& stamp, const std::vector<uint16_t>& values) {
        std::string row;
        CsvLog::AppendRowText(row, stamp, values, settings.Unsigned == 1);
        rows.push_back(row);
      };
      sinks.Failure = [this](const std::string& message) { failures.push_back(message); };
      sinks.Dropped = [this](LoggerConduct::Drop why, int32_t n, const std::string& ip,
                             int32_t port) {
        drops.push_back(DropNames[static_cast<int>(why)] + std::string(" ") + std::to_string(n) +
                        " " + ip + ":" + std::to_string(port));
      };
      conduct = std::make_unique<LoggerConduct>(api.EphemeralPortCount(), std::move(sinks));
    } else {
      conduct = std::make_unique<MonitorConduct>(*log_);
    }
    cycle = &poller.Assemble(settings, std::move(conduct), status, pass);
  }
  // The headless logger's cycle: whole rows handed on, replies matched to their request.
  void BuildUnattended() {
    unattended = true;
    Build(log_->FileName());
  }
  // A log in a directory that does not exist: it can be neither opened nor created. Returns
  // the error that writing to it raises.
  std::string UseUncreatableLog() {
    const std::string path = dir_.filePath("missing/log.csv").toStdString();
    Build(path);
    return "ファイル " + path + " を作成できません";
  }

  void Run() {
    cycle->BeginMonitoring([this] { ++shownRunning; });
  }
  void Deliver(const std::string& bytes, const std::string& from = "127.0.0.1") {
    api.Deliver(bytes, from, 8501);
    QCoreApplication::sendPostedEvents();
  }
  // Answers the request in flight with one value per device, each the device's own number.
  void AnswerLast() {
    const std::string& last = api.Sent().back().bytes;
    Deliver(Reply(Sequence(std::stoi(last.substr(6, 5)), last[12] - '0')));
  }
  Texts SentBytes() const {
    Texts bytes;
    for (const auto& d : api.Sent()) bytes.push_back(d.bytes);
    return bytes;
  }
  const std::string& LogPath() const { return log_->FileName(); }
  std::string LogText() const {
    QFile file(QString::fromStdString(log_->FileName()));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("(none)");
  }
  // The cycle's flags and the resend timer, e.g. "busy awaiting timer2".
  std::string Flags() const {
    return std::string(cycle->State().CycleBusy ? "busy" : "idle") +
           (cycle->State().AwaitingReply ? " awaiting" : "") + (timer2.Enabled() ? " timer2" : "");
  }

  FakeSocketApi api;
  MonitorSettings settings;
  FakeTimer timer1, timer2, timer3;
  FakeClock clock;
  Poller poller{{&api, &clock}, timer1, timer2, timer3};
  TUDPEndpoint& endpoint = poller.Endpoint();
  Texts statuses;
  Texts errors;
  std::function<void()> dispatch;
  int passes = 0;
  int shownRunning = 0;
  ReadCycle* cycle = nullptr;
  bool unattended = false;  // the headless logger's conduct
  Texts rows;               // unattended: each complete row as the log would hold it
  Texts failures;           // unattended: errors that gave a cycle up
  Texts drops;              // unattended: "why bytes sender:port" of each datagram not taken
  static constexpr const char* DropNames[] = {"sender", "unawaited", "size", "layout"};

 private:
  QTemporaryDir dir_;
  std::unique_ptr<CsvLog> log_;
  HandlerGuard::Reporter previousReporter_;
};

}  // namespace read_cycle_fixture
