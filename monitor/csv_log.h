#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

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

  // The most device columns a header may have. The command's device field has five digits, so
  // no controller has more devices; a larger DeviceNum from the INI file is refused instead of
  // writing gigabytes of header.
  static constexpr int32_t kMaxHeaderDevices = 100000;

  // The header row, CR LF included, appended to `out`.
  static void AppendHeaderText(std::string& out, uint8_t deviceName, int32_t deviceStart,
                               int32_t deviceNum);
  // A whole data row: stamp, "," + value per value, CR LF, appended to `out`.
  static void AppendRowText(std::string& out, const LocalDateTime& stamp,
                            std::span<const uint16_t> values, bool unsignedValues);

  // "YYYY-MM-DD,HH:MM:SS", one column per device ("DM00100", ...), CR LF. Starts a new line
  // first when the file ends in an unfinished row.
  void WriteHeaderRow(uint8_t deviceName, int32_t deviceStart, int32_t deviceNum);
  // The stamp (empty to continue the current row) and "," + value per value, no line end.
  // A non-empty stamp starts a new line first when the file ends in an unfinished row.
  void AppendValues(const std::string& stamp, std::span<const uint16_t> values,
                    bool unsignedValues);
  // CR LF.
  void EndRow();

  // Whole rows in one write: `header` first when `withHeader` is set or the file is missing or
  // empty, then `rows`. With `sync` the data (and a new file's name) reach stable storage before
  // it returns. For files written only this way: a file that ends inside a line holds the
  // remains of an append that was cut off, and they are removed first; returns how many bytes
  // that removed. Errors also say which step failed and why: "(create: ...)", "(open: ...)",
  // "(write: ...)", "(sync: ...)".
  std::size_t AppendRows(std::string_view header, bool withHeader, std::string_view rows,
                         bool sync);
  // Removes the remains of a cut-off append at the end of an existing file written by
  // AppendRows; the bytes removed (0 for a file that ends a line or cannot be opened).
  static std::size_t CutUnfinishedRow(const std::string& fileName);

  // All of them throw Exception when the file cannot be opened or created
  // ("ファイル <name> を作成できません") or the text cannot be written whole
  // ("ファイル <name> に書き込めません"); a failed write leaves the file as it was before. A
  // header beyond kMaxHeaderDevices columns is refused ("個数 <n> は上限 100000 を超えています").

 private:
  std::string fileName_;
};
