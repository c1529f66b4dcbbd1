#include "viewer/log_parser.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/viewer/log_text.h"
#include "viewer/log_columns.h"

namespace {

const std::string kHeader = "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101,DM00102\r\n";

struct LineCase {
  const char* name;
  std::string text;
  std::string columns;  // ColumnsText of the result
  size_t skipped = 0;
  size_t firstSkipped = 0;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }

class LogParserLinesTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LogParserLinesTest, ReadsEveryKindOfLine) {
  const LineCase& c = GetParam();
  LogColumns log;
  LogParser parser(&log);
  parser.Feed(c.text);
  EXPECT_EQ(ColumnsText(log), c.columns);
  EXPECT_EQ(parser.SkippedLines(), c.skipped);
  EXPECT_EQ(parser.FirstSkippedLine(), c.firstSkipped);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LogParserLinesTest,
    ::testing::Values(
        LineCase{"AsTheProgramsWriteIt",
                 kHeader + "2004-01-10,09:05:08,12,-1,300\r\n2004-01-10,09:05:09,13,-1,301\r\n",
                 "DM00100=12,13 DM00101=-1,-1 DM00102=300,301"},
        LineCase{"LineFeedsAlone",
                 kHeader.substr(0, kHeader.size() - 2) + "\n2004-01-10,09:05:08,1,2,3\n",
                 "DM00100=1 DM00101=2 DM00102=3"},
        LineCase{"SignedAndUnsignedExtremes",
                 kHeader + "2004-01-10,09:05:08,-32768,32767,65535\r\n",
                 "DM00100=-32768 DM00101=32767 DM00102=65535"},
        LineCase{"RowEndedEarlyByAStall",
                 kHeader + "2004-01-10,09:05:08,12\r\n2004-01-10,09:05:09,13,-1,301\r\n",
                 "DM00100=12,13 DM00101=_,-1 DM00102=_,301"},
        LineCase{"DeviceKeepsItsColumnAcrossHeaderBlocks",
                 "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101\r\n2004-01-10,09:05:08,1,2\r\n"
                 "YYYY-MM-DD,HH:MM:SS,DM00101,TM00007\r\n2004-01-10,09:06:00,3,4\r\n",
                 "DM00100=1,_ DM00101=2,3 TM00007=_,4"},
        LineCase{"LongAndNegativeDeviceNumbers",
                 "YYYY-MM-DD,HH:MM:SS,DM123456,DM-00003\r\n2004-01-10,09:05:08,1,2\r\n",
                 "DM123456=1 DM-00003=2"},
        LineCase{"HeaderWithoutDevicesNamesValuesByPosition",
                 "YYYY-MM-DD,HH:MM:SS\r\n2004-01-10,09:05:08,5,6\r\n", "#1=5 #2=6"},
        LineCase{"RowsBeforeAnyHeader",
                 "2004-01-10,09:05:08,5\r\n" + kHeader + "2004-01-10,09:05:09,1,2,3\r\n",
                 "#1=5,_ DM00100=_,1 DM00101=_,2 DM00102=_,3"},
        LineCase{"ValuesBeyondTheHeader",
                 "YYYY-MM-DD,HH:MM:SS,DM00100\r\n2004-01-10,09:05:08,1,2\r\n", "DM00100=1 #2=2"},
        LineCase{"EmptyFieldIsAMissingValue", kHeader + "2004-01-10,09:05:08,1,,3\r\n",
                 "DM00100=1 DM00101=_ DM00102=3"},
        LineCase{"RowContinuingAnUnfinishedRow",
                 kHeader + "2004-01-10,09:05:08,12,-12004-01-10,09:05:09,13,-1,301\r\n",
                 "DM00100=12,13 DM00101=-1,-1 DM00102=_,301"},
        LineCase{"StampInAFieldOfItsOwnStartsTheNextRow",
                 kHeader + "2004-01-10,09:05:08,7,2004-01-10,09:05:09,13\r\n",
                 "DM00100=7,13 DM00101=_,_ DM00102=_,_"},
        LineCase{"HeaderContinuingAnUnfinishedRow",
                 kHeader + "2004-01-10,09:05:08,12YYYY-MM-DD,HH:MM:SS,TM00001\r\n"
                           "2004-01-10,09:05:09,9\r\n",
                 "DM00100=12,_ DM00101=_,_ DM00102=_,_ TM00001=_,9"},
        LineCase{"LinesThatAreNeitherAreSkippedAndCounted",
                 kHeader + "hello\r\n\r\n2004-01-10,09:05:08,1,abc,3\r\n"
                           "2004-01-10,09:05:09,4,5,6\r\n",
                 "DM00100=4 DM00101=5 DM00102=6", 3, 2},
        LineCase{"ImpossibleDatesAndTimesAreSkipped",
                 kHeader + "2004-13-10,09:05:08,1\r\n2004-02-30,09:05:08,1\r\n"
                           "2004-01-10,24:00:00,1\r\n2004-01-10,09:60:00,1\r\n"
                           "2004-1-10,09:05:08,1\r\n",
                 "DM00100= DM00101= DM00102=", 5, 2},
        LineCase{"ValuesBeyond32BitsAreSkipped",
                 kHeader + "2004-01-10,09:05:08,2147483648\r\n2004-01-10,09:05:08,-2147483648\r\n"
                           "2004-01-10,09:05:08,+5\r\n2004-01-10,09:05:08,-\r\n",
                 "DM00100= DM00101= DM00102=", 4, 2},
        LineCase{"AStampAloneOrACaptionAloneIsSkipped",
                 kHeader + "2004-01-10\r\nYYYY-MM-DD\r\n2004-01-10,09:05:08,1,2,3,x2004-01-10\r\n",
                 "DM00100= DM00101= DM00102=", 3, 2}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.name; });

TEST(LogParserTest, StampsAreLocalTimes) {
  LogColumns log;
  LogParser parser(&log);
  parser.Feed(kHeader +
              "2004-01-10,09:05:08,1\r\n2004-01-10,23:59:59,1\r\n2004-01-11,00:00:00,1\r\n");
  ASSERT_EQ(log.RowCount(), 3u);
  EXPECT_EQ(log.Times()[0], LocalMs(2004, 1, 10, 9, 5, 8));
  EXPECT_EQ(log.Times()[1], LocalMs(2004, 1, 10, 23, 59, 59));
  EXPECT_EQ(log.Times()[2], LocalMs(2004, 1, 11, 0, 0, 0));
}

TEST(LogParserTest, UnfinishedLastLineIsTakenOnceComplete) {
  LogColumns log;
  LogParser parser(&log);
  parser.Feed(kHeader + "2004-01-10,09:05:08,12,-1");
  EXPECT_EQ(log.RowCount(), 0u);
  EXPECT_EQ(parser.PendingBytes(), std::string("2004-01-10,09:05:08,12,-1").size());
  parser.Feed(",300\r");
  EXPECT_EQ(log.RowCount(), 0u);
  parser.Feed("\n");
  EXPECT_EQ(ColumnsText(log), "DM00100=12 DM00101=-1 DM00102=300");
  EXPECT_EQ(parser.PendingBytes(), 0u);
  EXPECT_EQ(parser.SkippedLines(), 0u);
}

TEST(LogParserTest, ByteByByteGivesTheSameColumnsAsAtOnce) {
  const std::string text = kHeader +
                           "2004-01-10,09:05:08,12,-1,300\r\n"
                           "2004-01-10,09:05:09,13,-12004-01-10,09:05:10,14,0,1\r\n"
                           "junk\r\n"
                           "YYYY-MM-DD,HH:MM:SS,TM00001\r\n2004-01-10,09:05:11,65535\r\n";
  LogColumns whole;
  LogParser wholeParser(&whole);
  wholeParser.Feed(text);
  LogColumns pieces;
  LogParser pieceParser(&pieces);
  for (const char c : text) pieceParser.Feed(std::string_view(&c, 1));
  EXPECT_EQ(ColumnsText(pieces), ColumnsText(whole));
  EXPECT_EQ(pieces.RowCount(), 4u);
  EXPECT_EQ(pieceParser.SkippedLines(), 1u);
  EXPECT_EQ(pieceParser.HeaderRows(), 2u);
  EXPECT_EQ(pieceParser.DataRows(), 4u);
}

TEST(LogParserTest, OverlongLineIsSkippedWithoutBeingKept) {
  LogColumns log;
  LogParser parser(&log);
  parser.Feed(kHeader);
  const std::string chunk(LogParser::kMaxLineBytes / 4, '1');
  for (int i = 0; i < 6; ++i) {
    parser.Feed(chunk);
    EXPECT_LE(parser.PendingBytes(), LogParser::kMaxLineBytes);
  }
  parser.Feed("\r\n2004-01-10,09:05:08,1,2,3\r\n");
  EXPECT_EQ(parser.SkippedLines(), 1u);
  EXPECT_EQ(parser.FirstSkippedLine(), 2u);
  EXPECT_EQ(ColumnsText(log), "DM00100=1 DM00101=2 DM00102=3");
}

TEST(LogParserTest, ResetForgetsLinesColumnsAndCounts) {
  LogColumns log;
  LogParser parser(&log);
  parser.Feed(kHeader + "junk\r\n2004-01-10,09:05:08,1,2,3\r\n2004-01-10,09:05:09,4");
  parser.Reset();
  EXPECT_EQ(log.RowCount(), 0u);
  EXPECT_EQ(log.DeviceCount(), 0);
  EXPECT_EQ(parser.SkippedLines(), 0u);
  EXPECT_EQ(parser.PendingBytes(), 0u);
  // No block survives the reset: values are named by position again.
  parser.Feed(",5\r\n2004-01-10,09:05:10,6\r\n");
  EXPECT_EQ(parser.SkippedLines(), 1u);
  EXPECT_EQ(ColumnsText(log), "#1=6");
}

TEST(LogParserTest, ExpectedSizeReservesTheColumnsOnce) {
  std::string text = kHeader;
  for (int i = 0; i < 1000; ++i) text += "2004-01-10,09:05:08,1,2,3\r\n";
  LogColumns log;
  LogParser parser(&log);
  parser.ExpectBytes(text.size());
  parser.Feed(std::string_view(text).substr(0, text.size() / 10));
  const size_t reserved = log.MemoryBytes();
  parser.Feed(std::string_view(text).substr(text.size() / 10));
  EXPECT_EQ(log.RowCount(), 1000u);
  // Sized from the first tenth: no regrowth, and little room to spare.
  EXPECT_EQ(log.MemoryBytes(), reserved);
  EXPECT_LT(log.MemoryBytes(), 1100u * (3 * 4 + 8));
}

}  // namespace
