#pragma once

#include <QTimer>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "logger/log_row_reader.h"
#include "logger/mqtt_config.h"
#include "logger/publish_position.h"
#include "logger/row_payload.h"

class BrokerClient;
class StatusJournal;

// Publishes every row of the folder's logs to the broker, from the files themselves: a row
// goes out only once it is in the log, and the last acknowledged row is kept in the folder, so
// broker outages, restarts and kills lose nothing while the files exist. Live rows go first;
// rows of a backlog (an earlier run's, or those written while the broker was away) fill in
// behind, oldest first, flagged as replay, in the window's part that live rows leave free.
class RowPublisher {
 public:
  // Messages sent and not yet acknowledged, at most; replay leaves kLiveReserve of them to
  // live rows.
  static constexpr std::size_t kWindow = 64;
  static constexpr std::size_t kLiveReserve = 16;
  // Stretches of unacknowledged rows kept apart; beyond it a backlog is not split off again and
  // live rows wait behind it.
  static constexpr std::size_t kMaxStretches = 16;

  struct Setup {
    MqttConfig Config;
    std::string Folder;
    std::string FirstFile;             // the name of this run's first log
    std::vector<std::string> Devices;  // the header's names, in column order
    std::string Kind;                  // "DM" or "TM"
    int32_t Interval = 1;
    bool Unsigned = false;
    std::string Version;
  };

  RowPublisher(Setup setup, StatusJournal& journal);
  ~RowPublisher();
  RowPublisher(const RowPublisher&) = delete;
  RowPublisher& operator=(const RowPublisher&) = delete;

  void Start();
  // A row is in the log (synced, when rows are): the file's name, the end of the row in it and
  // the row's number.
  void RowWritten(const std::string& file, uint64_t end, uint64_t row);
  // Publishes what it can within `ms`, keeps the position, says it goes offline and ends the
  // session.
  void Stop(int ms);

  uint64_t Published() const { return published_; }
  uint64_t Unsent() const { return unsent_; }

 private:
  struct InFlight {
    int Mid = 0;
    LogPosition Next;
    bool Acked = false;
  };
  struct Stream {
    std::unique_ptr<LogRowReader> Reader;
    LogPosition Acked;  // its first row not acknowledged
    std::optional<LogPosition> End;
    std::deque<InFlight> Flight;
    bool Done = false;  // read up to its end
  };

  Stream MakeStream(LogPosition from, std::optional<LogPosition> end);
  void Connected();
  void Trouble(const std::string& cause);
  void Pump();
  bool SendFrom(Stream& stream, bool replay);
  void Acknowledged(int mid);
  void Missing(const std::string& file, uint64_t firstRow);
  void SaveNow();
  void PublishStatus();
  void PublishMeta();
  std::size_t InFlightCount() const;
  std::string OldestStamp();

  Setup setup_;
  StatusJournal& journal_;
  std::unique_ptr<BrokerClient> client_;
  RowPayload payload_;
  PublishPosition position_;
  std::deque<Stream> streams_;                  // oldest first; the last one (no end) is live
  LogPosition written_;                         // just after the last row in the logs
  std::map<std::string, uint64_t> rowsInFile_;  // known row counts, for rows lost with a file
  std::set<std::string> reportedMissing_;
  QTimer saveTimer_;
  bool dirty_ = false;
  bool stopped_ = false;
  bool pumping_ = false;
  bool publishing_ = false;
  std::vector<int> early_;  // acknowledged inside Publish
  uint64_t published_ = 0;
  uint64_t unsent_ = 0;
  std::string topicRows_;
  std::string topicStatus_;
  std::string topicMeta_;
};
