#include "viewer/local_stamp.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/viewer/log_text.h"

namespace {

TEST(LocalStampTest, FormatsWhatItParses) {
  LocalStamp stamp;
  for (const char* text : {"2004-01-10,09:05:08", "1999-12-31,23:59:59", "2024-02-29,00:00:00",
                           "2026-07-01,12:30:01"}) {
    const std::string line = text;
    int64_t ms = 0;
    ASSERT_TRUE(stamp.ToMs(line.substr(0, 10), line.substr(11), &ms)) << text;
    EXPECT_EQ(stamp.Format(ms), line);
  }
}

TEST(LocalStampTest, SecondsWithinAMinuteShareOneLookUpYetStayExact) {
  LocalStamp stamp;
  int64_t first = 0;
  int64_t last = 0;
  ASSERT_TRUE(stamp.ToMs("2004-01-10", "09:05:00", &first));
  ASSERT_TRUE(stamp.ToMs("2004-01-10", "09:05:59", &last));
  EXPECT_EQ(last - first, 59'000);
  EXPECT_EQ(first, LocalMs(2004, 1, 10, 9, 5, 0));
  int64_t next = 0;
  ASSERT_TRUE(stamp.ToMs("2004-01-10", "09:06:00", &next));
  EXPECT_EQ(next, LocalMs(2004, 1, 10, 9, 6, 0));
}

TEST(LocalStampTest, RefusesWhatIsNoDateOrTime) {
  LocalStamp stamp;
  int64_t ms = 0;
  EXPECT_FALSE(stamp.ToMs("2004-01-1", "09:05:08", &ms));
  EXPECT_FALSE(stamp.ToMs("2004/01/10", "09:05:08", &ms));
  EXPECT_FALSE(stamp.ToMs("2004-00-10", "09:05:08", &ms));
  EXPECT_FALSE(stamp.ToMs("2004-01-10", "9:05:08", &ms));
  EXPECT_FALSE(stamp.ToMs("2004-01-10", "09:05:61", &ms));
  EXPECT_TRUE(stamp.ToMs("2004-01-10", "09:05:60", &ms));
  EXPECT_TRUE(LocalStamp::LooksLikeDate("0000-99-99"));
  EXPECT_FALSE(LocalStamp::LooksLikeDate("YYYY-MM-DD"));
  EXPECT_FALSE(LocalStamp::LooksLikeTime("HH:MM:SS"));
}

}  // namespace
