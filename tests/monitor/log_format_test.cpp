#include "monitor/log_format.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
