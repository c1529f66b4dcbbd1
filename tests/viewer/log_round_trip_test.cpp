// What the programs write, the viewer reads back, value for value.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "monitor/csv_log.h"
#include "monitor/log_format.h"
#include "tests/viewer/log_text.h"
#include "viewer/log_columns.h"
#include "viewer/log_parser.h"

namespace {

using Values = std::vector<uint16_t>;

struct Row {
  LocalDateTime stamp;
  Values values;
};

// Across a minute, an hour, a day and a year, with the extremes of both value ranges.
const std::vector<Row> kRows = {
    {{2004, 1, 10, 9, 5, 8}, {0, 1, 32767}},
    {{2004, 1, 10, 9, 5, 59}, {32768, 65535, 12345}},
    {{2004, 1, 10, 9, 59, 59}, {65534, 100, 40000}},
    {{2004, 1, 10, 23, 59, 59}, {7, 8, 9}},
    {{2004, 12, 31, 23, 59, 59}, {65535, 0, 32768}},
    {{2005, 1, 1, 0, 0, 0}, {1, 2, 3}},
};

std::string ReadAll(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class LogRoundTripTest : public ::testing::TestWithParam<bool> {
 protected:
  // Reads the file as the viewer does and compares it with kRows.
  void ExpectReadBack(const std::string& text, bool unsignedValues) {
    LogColumns log;
    LogParser parser(&log);
    parser.Feed(text);
    EXPECT_EQ(parser.SkippedLines(), 0u);
    EXPECT_EQ(parser.PendingBytes(), 0u);
    ASSERT_EQ(log.DeviceCount(), 3);
    EXPECT_EQ(log.DeviceName(0), QStringLiteral("DM00100"));
    EXPECT_EQ(log.DeviceName(2), QStringLiteral("DM00102"));
    ASSERT_EQ(log.RowCount(), kRows.size());
    for (size_t r = 0; r < kRows.size(); ++r) {
      const LocalDateTime& t = kRows[r].stamp;
      EXPECT_EQ(log.Times()[r], LocalMs(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second))
          << "row " << r;
      for (int d = 0; d < 3; ++d) {
        const uint16_t slot = kRows[r].values[static_cast<size_t>(d)];
        const int32_t expected =
            unsignedValues ? int32_t{slot} : int32_t{static_cast<int16_t>(slot)};
        EXPECT_EQ(log.Values(d)[r], expected) << "row " << r << " device " << d;
      }
    }
  }

  QTemporaryDir dir_;
};

// The monitor's way (header, then each row's values piece by piece and its line end) and the
// logger's (whole rows in one append), each into a log of its own.
TEST_P(LogRoundTripTest, MonitorsAndLoggersLogsReadBackValueForValue) {
  const bool unsignedValues = GetParam();
  ASSERT_TRUE(dir_.isValid());
  const QString path = dir_.filePath(QString::fromStdString(LogFormat::FileName(kRows[0].stamp)));
  CsvLog log(path.toStdString());
  log.WriteHeaderRow(0, 100, 3);
  for (const Row& row : kRows) {
    log.AppendValues(CsvLog::MakeRowStamp(row.stamp),
                     Values(row.values.begin(), row.values.begin() + 1), unsignedValues);
    log.AppendValues("", Values(row.values.begin() + 1, row.values.end()), unsignedValues);
    log.EndRow();
  }
  ExpectReadBack(ReadAll(path), unsignedValues);

  const QString whole = dir_.filePath(QStringLiteral("whole.csv"));
  std::string header;
  CsvLog::AppendHeaderText(header, 0, 100, 3);
  std::string rows;
  for (const Row& row : kRows) CsvLog::AppendRowText(rows, row.stamp, row.values, unsignedValues);
  CsvLog(whole.toStdString()).AppendRows(header, false, rows, false);
  ExpectReadBack(ReadAll(whole), unsignedValues);
}

INSTANTIATE_TEST_SUITE_P(SignedAndUnsigned, LogRoundTripTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Unsigned" : "Signed"; });

}  // namespace
