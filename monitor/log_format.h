#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "monitor/clock.h"
#include "monitor/read_command.h"

// The layout of a log, as the monitor and the logger write it and the viewer reads it:
//   YYYY-MM-DD,HH:MM:SS,DM00100,DM00101   a header: the caption, then a column per device
//   2004-01-10,09:05:08,12,-1             a row: the stamp, then "," + value per device
// every line ending in CR LF, in a file named after the moment it was begun.
class LogFormat {
 public:
  static constexpr std::string_view kDateCaption = "YYYY-MM-DD";
  static constexpr std::string_view kTimeCaption = "HH:MM:SS";
  // A header's first two columns, where a row has its stamp.
  static constexpr std::string_view kHeaderCaption = "YYYY-MM-DD,HH:MM:SS";
  static constexpr char kSeparator = ',';
  static constexpr std::string_view kLineEnd = "\r\n";

  // A stamp's date and time as a reader recognises them; '9' stands for a digit.
  static constexpr std::string_view kDateShape = "9999-99-99";
  static constexpr std::string_view kTimeShape = "99:99:99";
  static constexpr size_t kDateLength = kDateShape.size();
  static constexpr size_t kTimeLength = kTimeShape.size();
  // "2004-01-10,09:05:08": the date, the separator, the time.
  static constexpr size_t kStampLength = kDateLength + 1 + kTimeLength;

  // "2004-01-10 09-05-07.csv"
  static std::string FileName(const LocalDateTime& t);
  // "2004-01-10,09:05:08"
  static std::string Stamp(const LocalDateTime& t);
  static void AppendStamp(std::string& out, const LocalDateTime& t);
  // The date "2004-01-10" and time "09:05:08" of a stamp; false unless both have their shape.
  // The numbers are not checked against the calendar.
  static bool ReadStamp(std::string_view date, std::string_view time, LocalDateTime* t);
  static bool HasShape(std::string_view text, std::string_view shape);

  // "," + a 16-bit slot in decimal (see FormatValue), written to `out`, which has room for
  // kMaxValueFieldLength characters; returns its end.
  static constexpr size_t kMaxValueFieldLength = 1 + kMaxValueLength;
  static char* ValueFieldTo(char* out, uint16_t slot, bool unsignedValue);
  // "," + any value in decimal.
  static void AppendValueField(std::string& out, int32_t value);
  // A whole row: the stamp, "," + value per value, CR LF.
  static void AppendRow(std::string& out, const LocalDateTime& stamp,
                        std::span<const uint16_t> values, bool unsignedValues);
};
