#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// A place in the logs of one folder: the file's name (no folder), the byte offset where a row
// starts and that row's number in its file (1: its first data row).
struct LogPosition {
  std::string File;
  uint64_t Offset = 0;
  uint64_t Row = 1;

  // Log names are their start's date and time, so names order files by age.
  bool operator<(const LogPosition& other) const {
    return File != other.File ? File < other.File : Offset < other.Offset;
  }
  bool operator==(const LogPosition& other) const {
    return File == other.File && Offset == other.Offset;
  }
};

// Reads the rows of a folder's logs back, oldest first, from a position up to an end, across
// files, in bounded chunks: it holds one chunk of one file, never a backlog. Headers are
// skipped; only whole lines are rows. A file it holds open stays readable when it is removed.
class LogRowReader {
 public:
  static constexpr std::size_t kChunkBytes = std::size_t{64} << 10;

  struct Row {
    std::string Line;  // without its line ending
    LogPosition At;
    LogPosition Next;
  };
  enum class Result { kRow, kWait, kEnd };

  // Reads from `from` up to `end` (excluded); without an end, as far as the logs go.
  LogRowReader(std::string folder, LogPosition from, std::optional<LogPosition> end);
  ~LogRowReader();
  LogRowReader(const LogRowReader&) = delete;
  LogRowReader& operator=(const LogRowReader&) = delete;

  // The next row; kWait when there is none yet before `writtenEnd` (the end of what the
  // writer has put in the logs, when it is known), kEnd when the end is reached.
  Result Next(Row* row, const std::optional<LogPosition>& writtenEnd = std::nullopt);
  const LogPosition& Position() const { return position_; }
  const std::optional<LogPosition>& End() const { return end_; }

  // A file that is gone before its rows were read: its name and the first row not read.
  std::function<void(const std::string& file, uint64_t firstRow)> OnMissing;

  // The log names of the folder after `after`, the nearest first; empty when there is none.
  static std::string NextLogFile(const std::string& folder, const std::string& after);
  static bool IsLogName(const std::string& name);

 private:
  bool Open();
  void Close();
  // Moves to the next file; false when there is none (yet).
  bool Advance();

  std::string folder_;
  LogPosition position_;
  std::optional<LogPosition> end_;
  int fd_ = -1;
  std::string openFile_;
  std::string chunk_;  // bytes of the file from chunkOffset_ on
  uint64_t chunkOffset_ = 0;
};
