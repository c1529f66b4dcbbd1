#include "logger/row_publisher.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <algorithm>
#include <utility>

#include "logger/broker_client.h"
#include "logger/status_journal.h"

namespace {

constexpr int kSaveMs = 1000;

// Reads a stretch to its end (or to what is there), counting rows per file.
LogPosition Scan(const std::string& folder, const LogPosition& from,
                 const std::optional<LogPosition>& end, std::map<std::string, uint64_t>* rows,
                 uint64_t* count) {
  LogRowReader reader(folder, from, end);
  LogRowReader::Row row;
  while (reader.Next(&row) == LogRowReader::Result::kRow) {
    ++*count;
    uint64_t& known = (*rows)[row.At.File];
    known = std::max(known, row.At.Row);
  }
  return reader.Position();
}

}  // namespace

RowPublisher::RowPublisher(Setup setup, StatusJournal& journal)
    : setup_(std::move(setup)),
      journal_(journal),
      client_(std::make_unique<BrokerClient>(setup_.Config)),
      payload_(setup_.Config.Format, setup_.Devices, setup_.Config.LoggerName),
      position_(setup_.Folder),
      topicRows_(setup_.Config.Topic + "/rows"),
      topicStatus_(setup_.Config.Topic + "/status"),
      topicMeta_(setup_.Config.Topic + "/meta") {
  // Rows already in this run's first file (a restart within the same second) are not live.
  uint64_t ignored = 0;
  written_ = Scan(setup_.Folder, {setup_.FirstFile, 0, 1}, std::nullopt, &rowsInFile_, &ignored);
  if (written_.File.empty() || written_ < LogPosition{setup_.FirstFile, 0, 1}) {
    written_ = {setup_.FirstFile, 0, 1};
  }
  // What an earlier run left unacknowledged ends where this run's rows begin.
  std::vector<PublishPosition::Stretch> saved = position_.Load();
  for (PublishPosition::Stretch& stretch : saved) {
    if (!stretch.End || written_ < *stretch.End) stretch.End = written_;
    if (!(stretch.From < *stretch.End)) continue;
    Scan(setup_.Folder, stretch.From, stretch.End, &rowsInFile_, &unsent_);
    streams_.push_back(MakeStream(stretch.From, stretch.End));
  }
  while (streams_.size() > kMaxStretches) {
    // Joined: the rows between them go again (duplicates, never a loss).
    streams_[1] = MakeStream(streams_[0].Acked, streams_[1].End);
    streams_.pop_front();
  }
  streams_.push_back(MakeStream(written_, std::nullopt));

  client_->OnConnected = [this] { Connected(); };
  client_->OnTrouble = [this](const std::string& cause) { Trouble(cause); };
  client_->OnPublished = [this](int mid) { Acknowledged(mid); };
  journal_.OnChange = [this] { PublishStatus(); };
  saveTimer_.setInterval(kSaveMs);
  QObject::connect(&saveTimer_, &QTimer::timeout, [this] {
    if (dirty_) SaveNow();
  });
}

RowPublisher::~RowPublisher() { journal_.OnChange = nullptr; }

RowPublisher::Stream RowPublisher::MakeStream(LogPosition from, std::optional<LogPosition> end) {
  Stream stream;
  stream.Reader = std::make_unique<LogRowReader>(setup_.Folder, from, end);
  stream.Reader->OnMissing = [this](const std::string& file, uint64_t firstRow) {
    Missing(file, firstRow);
  };
  stream.Acked = std::move(from);
  stream.End = std::move(end);
  return stream;
}

void RowPublisher::Start() {
  const Setup& s = setup_;
  journal_.Line(
      "publishing rows to " + s.Config.Host + ":" + std::to_string(s.Config.Port) + " as " +
      topicRows_ + " (" + (s.Config.Format == MqttConfig::Payload::kJson ? "json" : "influx") +
      ", QoS " + std::to_string(s.Config.QoS) + (s.Config.CAFile.empty() ? "" : ", TLS") + ")" +
      (unsent_ > 0
           ? "; " + StatusJournal::Count(unsent_, "row", "rows") + " of earlier runs still to send"
           : ""));
  SaveNow();
  saveTimer_.start();
  client_->Start();
}

void RowPublisher::Connected() {
  journal_.BrokerWorks();
  // Rows written while the broker was away become a backlog of their own, so that the next
  // live row goes out at once instead of behind them.
  // A few rows go on as live: they hold nothing back.
  Stream& live = streams_.back();
  const bool long_lag = live.Acked.File != written_.File ||
                        written_.Row - std::min(written_.Row, live.Acked.Row) > kLiveReserve;
  if (live.Acked < written_ && long_lag && streams_.size() < kMaxStretches) {
    const LogPosition from = live.Acked;
    streams_.back() = MakeStream(from, written_);
    streams_.push_back(MakeStream(written_, std::nullopt));
  }
  PublishMeta();
  PublishStatus();
  Pump();
}

void RowPublisher::Trouble(const std::string& cause) {
  journal_.Occurred(StatusJournal::Kind::kBroker,
                    "MQTT broker " + setup_.Config.Host + ":" + std::to_string(setup_.Config.Port) +
                        ": " + cause +
                        " (rows stay in the log and are sent once it is back; retrying from 1 s "
                        "to 60 s)");
  // Whatever was in flight goes again from the last acknowledged row of each stretch.
  for (Stream& stream : streams_) {
    if (stream.Flight.empty() && !stream.Done) continue;
    stream = MakeStream(stream.Acked, stream.End);
  }
}

std::size_t RowPublisher::InFlightCount() const {
  std::size_t count = 0;
  for (const Stream& stream : streams_) count += stream.Flight.size();
  return count;
}

void RowPublisher::Pump() {
  if (!client_->Connected() || pumping_) return;
  pumping_ = true;
  // A stretch read to its end with nothing left in flight is done.
  for (std::size_t i = 0; i + 1 < streams_.size();) {
    if (streams_[i].Done && streams_[i].Flight.empty()) {
      streams_.erase(streams_.begin() + static_cast<std::ptrdiff_t>(i));
      dirty_ = true;
    } else {
      ++i;
    }
  }
  while (InFlightCount() < kWindow && SendFrom(streams_.back(), false)) {
  }
  for (std::size_t i = 0; i + 1 < streams_.size(); ++i) {
    if (streams_[i].Done) continue;
    while (InFlightCount() < kWindow - kLiveReserve && SendFrom(streams_[i], true)) {
    }
    break;  // oldest first: one stretch at a time
  }
  pumping_ = false;
}

bool RowPublisher::SendFrom(Stream& stream, bool replay) {
  if (stream.Done) return false;
  LogRowReader::Row row;
  const auto result =
      stream.Reader->Next(&row, stream.End ? std::nullopt : std::optional<LogPosition>(written_));
  if (result == LogRowReader::Result::kEnd) {
    stream.Done = true;
    if (stream.Flight.empty()) stream.Acked = stream.Reader->Position();
    return false;
  }
  if (result == LogRowReader::Result::kWait) return false;
  const auto message = payload_.Make(row.Line, row.At.File, row.At.Row, replay);
  if (!message) {
    // Not a row of these devices (a hand-edited file): nothing to send, not counted.
    if (stream.Flight.empty()) stream.Acked = row.Next;
    return true;
  }
  // A QoS 0 message can be reported sent inside Publish, before its id is known here.
  publishing_ = true;
  const int mid = client_->Publish(topicRows_, *message, setup_.Config.QoS, false);
  publishing_ = false;
  if (mid < 0) {
    early_.clear();
    stream = MakeStream(stream.Acked, stream.End);
    return false;
  }
  stream.Flight.push_back({mid, row.Next, false});
  for (const int done : std::exchange(early_, {})) Acknowledged(done);
  return true;
}

void RowPublisher::Acknowledged(int mid) {
  if (publishing_) {
    early_.push_back(mid);
    return;
  }
  for (auto it = streams_.begin(); it != streams_.end(); ++it) {
    auto found = std::find_if(it->Flight.begin(), it->Flight.end(),
                              [mid](const InFlight& f) { return f.Mid == mid; });
    if (found == it->Flight.end()) continue;
    found->Acked = true;
    ++published_;
    if (unsent_ > 0) --unsent_;
    while (!it->Flight.empty() && it->Flight.front().Acked) {
      it->Acked = it->Flight.front().Next;
      it->Flight.pop_front();
    }
    dirty_ = true;
    if (it->Done && it->Flight.empty() && it->End && !pumping_) {
      streams_.erase(it);
      if (streams_.size() == 1) PublishStatus();  // the backlog is sent
    }
    break;
  }
  if (!stopped_) Pump();
}

void RowPublisher::Missing(const std::string& file, uint64_t firstRow) {
  if (!reportedMissing_.insert(file).second) return;
  const auto known = rowsInFile_.find(file);
  if (known != rowsInFile_.end()) {
    if (known->second < firstRow) return;  // all of it was sent
    const uint64_t lost = known->second - firstRow + 1;
    unsent_ -= std::min(unsent_, lost);
    journal_.Line("MQTT: " + file + " was removed before " +
                  StatusJournal::Count(lost, "row", "rows") +
                  " of it were sent; they can no longer be sent; publishing goes on with the "
                  "next file");
    return;
  }
  journal_.Line("MQTT: " + file + " was removed before its rows from row " +
                std::to_string(firstRow) +
                " on were sent; they can no longer be sent; publishing goes on with the next file");
}

void RowPublisher::RowWritten(const std::string& file, uint64_t end, uint64_t row) {
  written_ = {file, end, row + 1};
  rowsInFile_[file] = row;
  ++unsent_;
  if (!stopped_) Pump();
}

void RowPublisher::SaveNow() {
  std::vector<PublishPosition::Stretch> stretches;
  for (const Stream& stream : streams_) stretches.push_back({stream.Acked, stream.End});
  std::string error;
  if (position_.Save(stretches, &error)) {
    dirty_ = false;
    journal_.StorageWorks();
  } else {
    journal_.Occurred(StatusJournal::Kind::kStorage,
                      "MQTT: " + error + " (the position is kept again in a second)");
  }
}

std::string RowPublisher::OldestStamp() {
  for (const Stream& stream : streams_) {
    LogRowReader reader(setup_.Folder, stream.Acked, stream.End);
    LogRowReader::Row row;
    if (reader.Next(&row, stream.End ? std::nullopt : std::optional<LogPosition>(written_)) ==
        LogRowReader::Result::kRow) {
      return RowPayload::IsoStamp(std::string_view(row.Line).substr(0, 19));
    }
  }
  return {};
}

void RowPublisher::PublishStatus() {
  if (!client_->Connected()) return;
  std::string conditions;
  for (const std::string& text : journal_.Conditions()) {
    conditions += (conditions.empty() ? "" : ",") + RowPayload::JsonString(text);
  }
  const std::string oldest = unsent_ > 0 ? OldestStamp() : std::string();
  const std::string status = "{\"state\":\"online\",\"conditions\":[" + conditions +
                             "],\"unsent\":" + std::to_string(unsent_) + ",\"oldest\":" +
                             (oldest.empty() ? "null" : RowPayload::JsonString(oldest)) + "}";
  client_->Publish(topicStatus_, status, 1, true);
}

void RowPublisher::PublishMeta() {
  std::string devices;
  for (const std::string& name : setup_.Devices) {
    devices += (devices.empty() ? "" : ",") + RowPayload::JsonString(name);
  }
  const std::string meta = "{\"devices\":[" + devices +
                           "],\"kind\":" + RowPayload::JsonString(setup_.Kind) +
                           ",\"interval\":" + std::to_string(setup_.Interval) +
                           ",\"signed\":" + (setup_.Unsigned ? "false" : "true") +
                           ",\"version\":" + RowPayload::JsonString(setup_.Version) + "}";
  client_->Publish(topicMeta_, meta, 1, true);
}

void RowPublisher::Stop(int ms) {
  const QDeadlineTimer deadline(ms);
  Pump();
  while (!deadline.hasExpired() && client_->Connected() && (unsent_ > 0 || InFlightCount() > 0)) {
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
  stopped_ = true;
  saveTimer_.stop();
  if (client_->Connected()) {
    client_->Publish(topicStatus_, R"({"state":"offline"})", 1, true);
    client_->FlushFor(std::max<int>(100, static_cast<int>(deadline.remainingTime())));
  }
  SaveNow();
  client_->Disconnect();
}
