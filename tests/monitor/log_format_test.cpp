#include "monitor/log_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct StampCase {
  const char* date;
  const char* time;
  bool read;
};

// Only the shape is the format's: the calendar is the reader's to judge.
TEST(LogFormatTest, ReadsAStampOfTheWrittenShapeOnly) {
  for (const StampCase& c : {
           StampCase{"2004-01-10", "09:05:08", true},
           StampCase{"2004-13-40", "29:65:61", true},
           StampCase{"2004-1-10", "09:05:08", false},
           StampCase{"2004-01-10 ", "09:05:08", false},
           StampCase{"2004/01/10", "09:05:08", false},
           StampCase{"2004-01-10", "09-05-08", false},
           StampCase{"2004-01-10", "9:05:08", false},
           StampCase{"2004-01-1x", "09:05:08", false},
           StampCase{"YYYY-MM-DD", "HH:MM:SS", false},
       }) {
    SCOPED_TRACE(std::string(c.date) + "," + c.time);
    LocalDateTime t;
    EXPECT_EQ(LogFormat::ReadStamp(c.date, c.time, &t), c.read);
  }
  LocalDateTime t;
  ASSERT_TRUE(LogFormat::ReadStamp("0999-12-31", "23:59:60", &t));
  EXPECT_EQ(LogFormat::Stamp(t), "0999-12-31,23:59:60");
}

TEST(LogFormatTest, RowIsStampThenOneFieldPerValueThenCrLf) {
  const std::vector<uint16_t> values{0, 1, 32767, 32768, 65535};
  std::string row;
  LogFormat::AppendRow(row, {2004, 1, 10, 9, 5, 8}, values, false);
  LogFormat::AppendRow(row, {2004, 1, 10, 9, 5, 9}, values, true);
  LogFormat::AppendRow(row, {2004, 1, 10, 9, 5, 10}, {}, true);
  EXPECT_EQ(row,
            "2004-01-10,09:05:08,0,1,32767,-32768,-1\r\n"
            "2004-01-10,09:05:09,0,1,32767,32768,65535\r\n"
            "2004-01-10,09:05:10\r\n");
}

TEST(LogFormatTest, ValueFieldsHoldAnyValueWhole) {
  std::string fields;
  for (const int32_t value : {0, -1, INT32_MIN, INT32_MAX})
    LogFormat::AppendValueField(fields, value);
  EXPECT_EQ(fields, ",0,-1,-2147483648,2147483647");
  char text[LogFormat::kMaxValueFieldLength];
  EXPECT_EQ(std::string(text, LogFormat::ValueFieldTo(text, 32768, false)), ",-32768");
}

}  // namespace
