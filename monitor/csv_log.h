#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "monitor/clock.h"

// The CSV data log of one program run. Every operation opens the file, appends and closes it,
// so the file is never held open; an existing file is only ever appended to.
class CsvLog {
 public:
  explicit CsvLog(std::string fileName);

  // "2004-01-10 09-05-07.csv"
  static std::string MakeFileName(const LocalDateTime& t);
  // "2004-01-10,09:05:08"
  static std::string MakeRowStamp(const LocalDateTime& t);

  const std::string& FileName() const;

  // "YYYY-MM-DD,HH:MM:SS", one column per device ("DM00100", ...), CR LF. Starts a new line
  // first when the file ends in an unfinished row.
  void WriteHeaderRow(uint8_t deviceName, int32_t deviceStart, int32_t deviceNum);
  // The stamp (empty to continue the current row) and "," + value per value, no line end.
  // A non-empty stamp starts a new line first when the file ends in an unfinished row.
  void AppendValues(const std::string& stamp, std::span<const uint16_t> values,
                    bool unsignedValues);
  // CR LF.
  void EndRow();

  // All three throw Exception when the file cannot be opened or created
  // ("ファイル <name> を作成できません") or the text cannot be written whole
  // ("ファイル <name> に書き込めません"); a failed write leaves the file as it was before.

 private:
  std::string fileName_;
};
