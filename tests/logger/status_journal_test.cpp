#include "logger/status_journal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tests/fakes/fake_clock.h"
#include "tests/test_support.h"

namespace {

using namespace std::chrono_literals;
using Kind = StatusJournal::Kind;

class StatusJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock.Time = {2026, 12, 9, 10, 0, 1};
    file_ = std::tmpfile();
    ASSERT_NE(file_, nullptr);
  }
  void TearDown() override { std::fclose(file_); }
  std::string Lines() { return ReadStream(file_); }

  FakeClock clock;
  std::FILE* file_ = nullptr;
};

// A controller silent for a day gives two lines: when it starts and when it clears.
TEST_F(StatusJournalTest, RepeatedConditionIsPrintedOnceAndOnceMoreWhenItClears) {
  StatusJournal journal(file_, clock);
  for (int i = 0; i < 864000; ++i) journal.Occurred(Kind::kCycle, "UDP-Unresponced. Retrying.");
  clock.Steady += 24h + 3h;
  clock.Time = {2026, 12, 10, 13, 0, 2};
  journal.RowCompleted();  // a row with time-outs in it: not yet clear
  journal.RowCompleted();
  journal.RowCompleted();
  EXPECT_EQ(Lines(),
            "2026-12-09 10:00:01 UDP-Unresponced. Retrying.\n"
            "2026-12-10 13:00:02 cleared: UDP-Unresponced. Retrying. (864000 times in 1 d 3 h)\n");
}

// Conditions are told apart by their text; storage ones clear at the next write that works.
TEST_F(StatusJournalTest, ConditionsClearEachByTheirOwnRule) {
  StatusJournal journal(file_, clock);
  journal.Occurred(Kind::kCycle, "Unexpected-UDP-DataReceived 7Bytes. Abandond.");
  journal.Occurred(Kind::kCycle, "Unexpected-UDP-DataReceived 13Bytes. Abandond.");
  journal.Occurred(Kind::kStorage, "ファイル x.csv に書き込めません");
  clock.Steady += 75s;
  journal.StorageWorks();
  journal.RowCompleted();
  journal.Occurred(Kind::kCycle, "Unexpected-UDP-DataReceived 7Bytes. Abandond.");
  journal.RowCompleted();
  journal.RowCompleted();
  const std::string stamp = "2026-12-09 10:00:01 ";
  EXPECT_EQ(Lines(), stamp + "Unexpected-UDP-DataReceived 7Bytes. Abandond.\n" + stamp +
                         "Unexpected-UDP-DataReceived 13Bytes. Abandond.\n" + stamp +
                         "ファイル x.csv に書き込めません\n" + stamp +
                         "cleared: ファイル x.csv に書き込めません (once in 1 min 15 s)\n" + stamp +
                         "cleared: Unexpected-UDP-DataReceived 13Bytes. Abandond. (once in 1 min "
                         "15 s)\n" +
                         stamp +
                         "cleared: Unexpected-UDP-DataReceived 7Bytes. Abandond. (2 times in 1 min "
                         "15 s)\n");
}

TEST(StatusJournalDurationTest, TwoUnitsAtMost) {
  EXPECT_EQ(StatusJournal::Duration(0s), "0 s");
  EXPECT_EQ(StatusJournal::Duration(59s), "59 s");
  EXPECT_EQ(StatusJournal::Duration(60s), "1 min");
  EXPECT_EQ(StatusJournal::Duration(3599s), "59 min 59 s");
  EXPECT_EQ(StatusJournal::Duration(3600s), "1 h");
  EXPECT_EQ(StatusJournal::Duration(7500s), "2 h 5 min");
  EXPECT_EQ(StatusJournal::Duration(24h), "1 d");
  EXPECT_EQ(StatusJournal::Duration(48h + 59min), "2 d");
}

// A spray of datagrams of every size is one condition: its first line names the first size, the
// cleared line the first few with their counts and how many other sizes came.
TEST_F(StatusJournalTest, DetailsOfAConditionAreCollectedNotPrintedEach) {
  StatusJournal journal(file_, clock);
  const std::string condition = "Unexpected-UDP-NumberBytes (dropped)";
  for (int size = 1; size <= 2048; ++size) {
    journal.Occurred(Kind::kCycle, condition, StatusJournal::Count(size, "byte", "bytes"));
  }
  journal.Occurred(Kind::kCycle, condition, "2 bytes");
  clock.Steady += 2s;
  journal.RowCompleted();
  journal.RowCompleted();
  const std::string stamp = "2026-12-09 10:00:01 ";
  EXPECT_EQ(Lines(), stamp + condition + " (1 byte)\n" + stamp + "cleared: " + condition +
                         " (2049 times in 2 s: 1 byte once, 2 bytes 2 times, 3 bytes once, 4 "
                         "bytes once and 2044 more)\n");
}

}  // namespace
