#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>

#include "monitor/clock.h"

class FolderLock;
class StatusJournal;

// Where the logger's rows go: files named after the moment they start in one folder, a header
// at the start of each run and each file, each row in one append (with --sync, on stable
// storage before it counts as written). A row that cannot be written stays in memory, in order,
// and is written before any later row as soon as writing works again; none is ever dropped.
class RowWriter {
 public:
  static constexpr std::size_t kDefaultBacklogLimit = std::size_t{64} << 20;

  struct Setup {
    std::string Directory;
    bool RotateDaily = true;  // a row stamped on another day than its file starts a new file
    bool Sync = true;
    uint8_t DeviceName = 0;
    int32_t DeviceStart = 0;
    int32_t DeviceNum = 0;
    bool UnsignedValues = false;
    // Rows kept while the log cannot be written; at this bound polling pauses.
    std::size_t BacklogLimit = kDefaultBacklogLimit;
    // The folder's lock, checked before each write; none in tests that need no lock.
    FolderLock* Lock = nullptr;
    // Told of each row once it is in the file (and synced): the file, the byte offset just
    // after the row and the row's number in the file (1: its first data row).
    std::function<void(const std::string& file, uint64_t end, uint64_t row)> RowWritten;
  };
  // The first file is named after `start`, the moment the run began. The newest log already
  // in the folder loses the remains of a row that a killed run left unfinished.
  RowWriter(Setup setup, const LocalDateTime& start, StatusJournal& journal);

  // Queues the row, then writes what can be written.
  void Add(const LocalDateTime& stamp, std::span<const uint16_t> values);
  // Writes what is queued, oldest first; true when nothing is left.
  bool Flush();

  std::size_t Backlog() const { return queue_.size(); }
  std::size_t BacklogBytes() const { return queuedBytes_; }
  bool Full() const { return queuedBytes_ >= setup_.BacklogLimit; }
  uint64_t Written() const { return written_; }
  uint64_t FailedWrites() const { return failedWrites_; }
  const std::string& CurrentFile() const { return file_; }

 private:
  struct Row {
    LocalDateTime stamp;
    std::string text;
  };

  void StartFile(const LocalDateTime& moment);
  void ReportRows(std::size_t rows, std::size_t batchBytes);
  void CutUnfinishedRow(const std::string& file);
  // Whether this logger may write in the folder: the lock is still the folder's, or was taken
  // again after the folder was made anew. Throws what keeps it from writing.
  void CheckLock();

  Setup setup_;
  StatusJournal& journal_;
  std::string header_;
  std::string file_;
  LocalDateTime fileDay_;
  bool headerDue_ = true;
  bool announced_ = false;  // the current file was named in the journal
  std::deque<Row> queue_;
  std::size_t queuedBytes_ = 0;
  bool backlog_ = false;  // a write failed and rows are waiting
  uint64_t writtenBeforeBacklog_ = 0;
  uint64_t written_ = 0;
  uint64_t failedWrites_ = 0;
  uint64_t fileRows_ = 0;  // data rows of the current file written by this run
};
