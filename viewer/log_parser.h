#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/local_stamp.h"

class LogColumns;

// Reads the text of a log, piece by piece as it arrives, into columns. It takes the format as
// the programs write it and whatever else a file may hold:
// - header rows "YYYY-MM-DD,HH:MM:SS,DM00100,..." (any number, each starting a block whose
//   devices may differ; a device keeps its column across blocks);
// - data rows "2004-01-10,09:05:08,12,-1,300", with fewer values than their header when a
//   stalled cycle ended them early, and values beyond the header's devices (or before any
//   header) in columns named "#<position>";
// - a row or header that continues an unfinished row on the same line, as older files hold;
// - a last line without its line end, which waits until the line end arrives;
// - lines that are none of these: skipped whole and counted.
// Lines end with CR LF or LF.
class LogParser {
 public:
  // Longer lines are skipped: they cannot be a log's, and memory stays bounded.
  static constexpr size_t kMaxLineBytes = size_t{1} << 20;

  explicit LogParser(LogColumns* columns);

  // How large the whole text is expected to be; lets the columns be sized once.
  void ExpectBytes(uint64_t totalBytes);
  void Feed(std::string_view bytes);
  // Forgets every line and empties the columns, to read a file again from its start.
  void Reset();
  // The file fed so far is complete and another one follows: a last line without its line
  // end is dropped and counted as skipped (a logger's torn append, which would give wrong
  // values), and the next file's rows before its first header are unnamed again.
  void FinishFile();

  size_t HeaderRows() const { return headerRows_; }
  size_t DataRows() const { return dataRows_; }
  size_t SkippedLines() const { return skippedLines_; }
  // Line number (from 1) of the first skipped line; 0 when none was skipped.
  size_t FirstSkippedLine() const { return firstSkippedLine_; }
  // Bytes of the last line that still waits for its line end.
  size_t PendingBytes() const { return discarding_ ? 0 : pending_.size(); }

 private:
  struct Piece {
    bool header = false;
    int64_t timeMs = 0;
    size_t first = 0;  // field index of the first device name or value
    size_t end = 0;    // one past the last
  };

  void TakeLine(std::string_view line);
  bool SplitPieces();
  bool TakePlainRow(std::string_view line);
  void ApplyHeader(const Piece& piece);
  void AppendValues(int64_t timeMs, std::span<const int32_t> values);
  int UnnamedDevice(size_t position);
  void Skip();
  void ReserveOnce();

  LogColumns* columns_;
  LocalStamp stamp_;
  std::vector<std::string_view> fields_;
  std::vector<int32_t> values_;  // the value of each field of a row, by field index
  std::vector<Piece> pieces_;
  std::vector<int> blockDevices_;  // column of each device of the current header block
  bool blockInOrder_ = false;      // and they are columns 0, 1, 2, ...
  std::vector<int> unnamedDevices_;
  std::vector<int32_t> plain_;
  std::vector<int32_t> rowValues_;
  std::vector<int> touched_;
  std::string pending_;
  bool discarding_ = false;
  uint64_t expectedBytes_ = 0;
  uint64_t parsedBytes_ = 0;
  bool reserved_ = false;
  size_t lineNumber_ = 0;
  size_t headerRows_ = 0;
  size_t dataRows_ = 0;
  size_t skippedLines_ = 0;
  size_t firstSkippedLine_ = 0;
};
