#include "tools/soak_check/soak_log_check.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// DM00007 and DM00008 give 28693 and 32792, which a signed log holds as -32744.
const std::string kHeader = "YYYY-MM-DD,HH:MM:SS,DM00007,DM00008\r\n";
const std::string kRow1 = "2024-05-01,10:00:00,28693,-32744\r\n";
const std::string kRow2 = "2024-05-01,10:00:01,28693,-32744\r\n";

SoakLogCheck Checked(const std::string& log) {
  SoakLogCheck check(7, 2, false);
  check.CheckFile("a.csv", log);
  return check;
}

TEST(SoakLogCheckTest, ARightLogPassesWithItsFiguresSignedOrUnsigned) {
  const SoakLogCheck check = Checked(kHeader + kRow1 + kHeader + kRow2);
  EXPECT_TRUE(check.Passed());
  EXPECT_EQ(check.FiguresLine(), "files=1 headers=2 rows=2 bad=0 wrong=0 wrongrows=0 disorder=0");
  EXPECT_TRUE(check.Notes().empty());
  SoakLogCheck unsignedCheck(7, 2, true);
  unsignedCheck.CheckFile("a.csv", kHeader + "2024-05-01,10:00:00,28693,32792\r\n");
  EXPECT_TRUE(unsignedCheck.Passed()) << unsignedCheck.FiguresLine();
}

TEST(SoakLogCheckTest, EachWrongLineIsCountedAndNamed) {
  struct Case {
    std::string log;
    std::string figures;
    std::string firstNote;
  };
  for (const Case& c : {
           Case{kHeader + "2024-05-01,10:00:00,28693,-32744\n",
                "files=1 headers=1 rows=0 bad=1 wrong=0 wrongrows=0 disorder=0",
                "a.csv:2: no CR LF: 2024-05-01,10:00:00,28693,-32744"},
           Case{kHeader + "2024-05-01,10:00:00,28693",
                "files=1 headers=1 rows=0 bad=1 wrong=0 wrongrows=0 disorder=0",
                "a.csv:2: no CR LF: 2024-05-01,10:00:00,28693"},
           Case{kRow1 + kHeader, "files=1 headers=1 rows=1 bad=1 wrong=0 wrongrows=0 disorder=0",
                "a.csv:1: row before a header: 2024-05-01,10:00:00,28693,-32744"},
           Case{kHeader + "2024-05-01,10:00:00,28693\r\n",
                "files=1 headers=1 rows=1 bad=1 wrong=0 wrongrows=0 disorder=0",
                "a.csv:2: a value missing: 2024-05-01,10:00:00,28693"},
           Case{kHeader + "2024-05-01,10:00:00,28693,-32744,5\r\n" + kRow2,
                "files=1 headers=1 rows=2 bad=1 wrong=0 wrongrows=0 disorder=0",
                "a.csv:2: more values than devices: 2024-05-01,10:00:00,28693,-32744,5"},
           Case{kHeader + "2024-05-01,10:00:00,28693,-32742024-05-01,10:00:01,28693,-32744\r\n",
                "files=1 headers=1 rows=1 bad=1 wrong=0 wrongrows=0 disorder=0",
                "a.csv:2: not one row: 2024-05-01,10:00:00,28693,-32742024-05-01,10:00:01,28693,"
                "-32744"},
           Case{kHeader + "2024-05-01,10:00:00,28693,x\r\n",
                "files=1 headers=1 rows=1 bad=1 wrong=0 wrongrows=0 disorder=0",
                "a.csv:2: neither a header nor a row: 2024-05-01,10:00:00,28693,x"},
           Case{"YYYY-MM-DD,HH:MM:SS,DM00007\r\n",
                "files=1 headers=1 rows=0 bad=1 wrong=0 wrongrows=0 disorder=0",
                "a.csv:1: not the header of the devices polled: YYYY-MM-DD,HH:MM:SS,DM00007"},
           Case{kHeader + "2024-05-01,10:00:00,28693,32792\r\n",
                "files=1 headers=1 rows=1 bad=0 wrong=1 wrongrows=1 disorder=0",
                "a.csv:2: 1 wrong values: 2024-05-01,10:00:00,28693,32792"},
           Case{kHeader + kRow2 + kRow1,
                "files=1 headers=1 rows=2 bad=0 wrong=0 wrongrows=0 disorder=1",
                "a.csv:3: earlier than 2024-05-01,10:00:01: 2024-05-01,10:00:00,28693,-32744"},
       }) {
    SCOPED_TRACE(c.log);
    const SoakLogCheck check = Checked(c.log);
    EXPECT_FALSE(check.Passed());
    EXPECT_EQ(check.FiguresLine(), c.figures);
    ASSERT_FALSE(check.Notes().empty());
    EXPECT_EQ(check.Notes().front(), c.firstNote);
  }
}

TEST(SoakLogCheckTest, TimeOrderRunsAcrossFiles) {
  SoakLogCheck check(7, 2, false);
  check.CheckFile("a.csv", kHeader + kRow2);
  check.CheckFile("b.csv", kHeader + kRow1);
  EXPECT_EQ(check.Totals().disorder, 1u);
  EXPECT_EQ(check.Totals().files, 2u);
}

TEST(SoakLogCheckTest, CountRowsCountsEveryLineThatIsNotAHeader) {
  struct Case {
    std::string log;
    size_t rows;
  };
  for (const Case& c :
       {Case{"", 0}, Case{kHeader, 0}, Case{kHeader + kRow1 + kRow2, 2},
        Case{kHeader + kRow1 + "2024-05-01,10:00:01,286", 2}, Case{kHeader + "junk\r\n", 1},
        Case{kHeader + "2024-05-01,10:00:00,28693," + kHeader + kRow2, 2}}) {
    SCOPED_TRACE(c.log);
    EXPECT_EQ(SoakLogCheck::CountRows(c.log), c.rows);
  }
}

}  // namespace
