#include "logger/unattended_logger.h"

#include <QThread>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <limits>

#include "base/handler_guard.h"
#include "logger/mqtt_config.h"
#include "logger/row_publisher.h"
#include "monitor/clock.h"
#include "monitor/csv_log.h"
#include "monitor/logger_conduct.h"
#include "monitor/read_command.h"
#include "monitor/read_cycle.h"
#include "net/udp_endpoint.h"

namespace {

constexpr int kStopRetries = 20;
constexpr unsigned long kStopRetryMs = 250;
// The whole stop: a full disk's retries, then publishing what it can.
constexpr int kStopBudgetMs = kStopRetries * static_cast<int>(kStopRetryMs);

std::string DeviceName(const MonitorSettings& s, int64_t device) {
  return std::string(DeviceCode(s.DeviceName)) + FormatDeviceNumber(device);
}

// Each line starts with the monitor's text, so operators recognise it, and says what the
// logger does about it.
std::string DropText(LoggerConduct::Drop why) {
  switch (why) {
    case LoggerConduct::Drop::kWrongSender:
      return "Unexpected-UDP-DataReceived (a datagram from another sender than the controller; "
             "dropped)";
    case LoggerConduct::Drop::kNotAwaited:
      return "Unexpected-UDP-DataReceived (a datagram while no request is awaited; dropped)";
    case LoggerConduct::Drop::kWrongSize:
      return "Unexpected-UDP-NumberBytes (a reply of another size than asked for; dropped, the "
             "request stays awaited)";
    case LoggerConduct::Drop::kMalformed:
      return "Unexpected-UDP-DataReceived (a reply not in the controller's layout; dropped, the "
             "request stays awaited)";
  }
  return {};
}

std::string DropDetail(LoggerConduct::Drop why, int32_t numberBytes, const std::string& fromIP,
                       int32_t port) {
  if (why == LoggerConduct::Drop::kWrongSender) return fromIP + ":" + std::to_string(port);
  return StatusJournal::Count(static_cast<uint64_t>(std::max(numberBytes, 0)), "byte", "bytes");
}

}  // namespace

UnattendedLogger::UnattendedLogger(const LoggerOptions& options, const MonitorSettings& settings,
                                   Environment environment)
    : options_(options),
      settings_(settings),
      environment_(environment),
      poller_(environment.Poll, timer1_, timer2_, timer3_),
      journal_(environment.Journal, poller_.LocalTime()) {
  // Interval 0 is one row; its cycle is still tried again each second until it completes.
  if (settings_.Interval == 0) {
    oneRow_ = true;
    rowsWanted_ = 1;
    settings_.Interval = 1;
  }
  if (options_.Cycles) {
    rowsWanted_ = rowsWanted_ == 0 ? *options_.Cycles : std::min(rowsWanted_, *options_.Cycles);
  }

  RowWriter::Setup setup;
  setup.Directory = options_.OutputDir;
  setup.RotateDaily = options_.Rotation == LoggerOptions::Rotate::kDaily;
  setup.Sync = options_.Durability == LoggerOptions::Sync::kRow;
  setup.DeviceName = settings_.DeviceName;
  setup.DeviceStart = settings_.DeviceStart;
  setup.DeviceNum = settings_.DeviceNum;
  setup.UnsignedValues = settings_.Unsigned == 1;
  setup.Lock = environment.Lock;
  if (environment_.Publish != nullptr && !environment_.Publish->Host.empty()) {
    setup.RowWritten = [this](const std::string& file, uint64_t end, uint64_t row) {
      if (publisher_) publisher_->RowWritten(std::filesystem::path(file).filename(), end, row);
    };
  }
  writer_ = std::make_unique<RowWriter>(setup, poller_.LocalTime().Now(), journal_);
  if (setup.RowWritten) {
    RowPublisher::Setup publish;
    publish.Config = *environment_.Publish;
    publish.Folder = options_.OutputDir;
    publish.FirstFile = std::filesystem::path(writer_->CurrentFile()).filename();
    for (int64_t i = 0; i < settings_.DeviceNum; ++i) {
      publish.Devices.push_back(DeviceName(settings_, int64_t{settings_.DeviceStart} + i));
    }
    publish.Kind = DeviceCode(settings_.DeviceName);
    publish.Interval = oneRow_ ? 0 : settings_.Interval;
    publish.Unsigned = settings_.Unsigned == 1;
    publish.Version = "0.1";
    publisher_ = std::make_unique<RowPublisher>(publish, journal_);
  }

  poller_.Endpoint().OnInvalidHost = [this](bool&) {
    journal_.Occurred(StatusJournal::Kind::kCycle,
                      "UDP-InvalidHost (the controller's host name cannot be resolved now)");
  };
  LoggerConduct::Sinks sinks;
  sinks.Row = [this](const LocalDateTime& stamp, const std::vector<uint16_t>& values) {
    RowComplete(stamp, values);
  };
  sinks.Failure = [this](const std::string& message) {
    journal_.Occurred(StatusJournal::Kind::kCycle,
                      message +
                          " (the send failed; the cycle is given up and started again at "
                          "the next interval)");
  };
  sinks.Dropped = [this](LoggerConduct::Drop why, int32_t numberBytes, const std::string& fromIP,
                         int32_t port) {
    journal_.Occurred(StatusJournal::Kind::kCycle, DropText(why),
                      DropDetail(why, numberBytes, fromIP, port));
  };
  poller_.Assemble(
      settings_,
      std::make_unique<LoggerConduct>(poller_.Endpoint().EphemeralPortCount(), std::move(sinks)),
      [this](const std::string& text) { Status(text); });
  // An error that leaves a handler reaches the journal, and polling goes on.
  previousReporter_ = HandlerGuard::SetReporter(
      [this](const std::string& message) { journal_.Line("error: " + message); });
  backlogTimer_.setInterval(1000);
  QObject::connect(&backlogTimer_, &QTimer::timeout,
                   [this] { HandlerGuard::Run([this] { WriteBacklog(); }); });
}

UnattendedLogger::~UnattendedLogger() { HandlerGuard::SetReporter(previousReporter_); }

void UnattendedLogger::Start() {
  const int64_t last = int64_t{settings_.DeviceStart} + settings_.DeviceNum - 1;
  const std::string cadence =
      oneRow_ ? "one row" : "every " + std::to_string(settings_.Interval) + " s";
  journal_.Line("varnel-logger 0.1: " + DeviceName(settings_, settings_.DeviceStart) + "-" +
                DeviceName(settings_, last) + " from " + settings_.IPAddress + ":" +
                std::to_string(settings_.PortNo) + ", " + cadence + " (time-out " +
                std::to_string(settings_.TimeOut) + " ms) into " + options_.OutputDir +
                (options_.Rotation == LoggerOptions::Rotate::kDaily ? ", a file a day" : "") +
                (options_.Durability == LoggerOptions::Sync::kRow ? ", each row synced" : ""));
  // Set before the first send, so that a failed one is tried again at the right tick.
  timer1_.SetInterval(ReadCycle::RepeatMilliseconds(settings_.Interval));
  if (publisher_) publisher_->Start();
  poller_.Cycle().BeginMonitoring(nullptr);
}

void UnattendedLogger::Status(const std::string& text) {
  // The empty text only says that a reply was taken; the cycle's only other text is the
  // time-out's.
  if (text.empty()) return;
  journal_.Occurred(StatusJournal::Kind::kCycle, text + " (no answer within " +
                                                     std::to_string(settings_.TimeOut) +
                                                     " ms; the request is sent again)");
}

void UnattendedLogger::RowComplete(const LocalDateTime& stamp,
                                   const std::vector<uint16_t>& values) {
  journal_.RowCompleted();
  writer_->Add(stamp, values);
  if (writer_->Backlog() > 0) {
    if (!backlogTimer_.isActive()) backlogTimer_.start();
    if (writer_->Full() && !stopping_) {
      poller_.Cycle().SetPaused(true);
      journal_.Line("backlog full: polling paused until the log can be written");
    }
    return;
  }
  if (rowsWanted_ > 0 && writer_->Written() >= static_cast<uint64_t>(rowsWanted_)) Finish(0);
}

void UnattendedLogger::WriteBacklog() {
  if (!writer_->Flush()) return;
  backlogTimer_.stop();
  if (!stopping_ && poller_.Cycle().Paused()) {
    poller_.Cycle().SetPaused(false);
    journal_.Line("polling resumed");
  }
  if (rowsWanted_ > 0 && writer_->Written() >= static_cast<uint64_t>(rowsWanted_)) Finish(0);
}

void UnattendedLogger::Stop() {
  if (stopping_ || finished_) return;
  stopping_ = true;
  stopping_since_.start();
  poller_.Cycle().SetPaused(true);
  try {
    poller_.Cycle().StopWait();
  } catch (const std::exception& error) {
    journal_.Line(std::string("error: ") + error.what());
  }
  if (finished_) return;
  timer1_.SetEnabled(false);
  timer2_.SetEnabled(false);
  // Rows still in memory get a few seconds for the log to become writable again.
  for (int attempt = 0; !writer_->Flush() && attempt < kStopRetries; ++attempt) {
    QThread::msleep(kStopRetryMs);
  }
  if (writer_->Backlog() == 0) {
    Finish(0);
    return;
  }
  journal_.Line(StatusJournal::Count(writer_->Backlog(), "row", "rows") +
                " could not be written to " + writer_->CurrentFile());
  Finish(1);
}

void UnattendedLogger::Finish(int status) {
  if (finished_) return;
  finished_ = true;
  timer1_.SetEnabled(false);
  timer2_.SetEnabled(false);
  backlogTimer_.stop();
  poller_.Cycle().SetPaused(true);
  if (publisher_) {
    const int64_t spent = stopping_since_.isValid() ? stopping_since_.elapsed() : 0;
    publisher_->Stop(static_cast<int>(std::max<int64_t>(0, kStopBudgetMs - spent)));
  }
  journal_.Line(Summary());
  if (OnFinished) OnFinished(status);
}

uint64_t UnattendedLogger::Requests() const { return poller_.Cycle().Stats().Requests; }

std::string UnattendedLogger::Summary() const {
  const ReadCycle::Counters& c = poller_.Cycle().Stats();
  return "stopped: " + StatusJournal::Count(writer_->Written(), "row", "rows") + " written, " +
         StatusJournal::Count(c.Requests, "request", "requests") + ", " +
         StatusJournal::Count(c.Resends, "resend", "resends") + ", " +
         StatusJournal::Count(c.Dropped, "datagram", "datagrams") + " dropped, " +
         StatusJournal::Count(c.Failures + writer_->FailedWrites(), "error", "errors") +
         (publisher_ ? ", " + StatusJournal::Count(publisher_->Published(), "row", "rows") +
                           " published, " +
                           StatusJournal::Count(publisher_->Unsent(), "row", "rows") + " unsent"
                     : "");
}
