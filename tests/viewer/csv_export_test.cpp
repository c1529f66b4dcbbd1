#include "viewer/csv_export.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/viewer/log_text.h"
#include "viewer/log_columns.h"
#include "viewer/log_parser.h"

namespace {

const std::string kLog =
    "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101,DM00102\r\n"
    "2004-01-10,09:05:08,12,-1,300\r\n"
    "2004-01-10,09:05:09,13\r\n"
    "YYYY-MM-DD,HH:MM:SS,DM00102\r\n"
    "2004-01-10,09:05:10,302\r\n"
    "2004-01-10,09:05:11,65535\r\n";

class CsvExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    parser_.Feed(kLog);
  }

  std::string Export(const QList<int>& devices, double from, double to, long long* rows) {
    const QString path = dir_.filePath(QStringLiteral("out.csv"));
    QString error;
    *rows = WriteCsvExport(log_, devices, from, to, path, &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    return ReadFileText(path.toStdString());
  }

  QTemporaryDir dir_;
  LogColumns log_;
  LogParser parser_{&log_};
};

TEST_F(CsvExportTest, WritesTheChosenDevicesInTheLogFormat) {
  long long rows = 0;
  const std::string text = Export({0, 2}, 0, 1e15, &rows);
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(text,
            "YYYY-MM-DD,HH:MM:SS,DM00100,DM00102\r\n"
            "2004-01-10,09:05:08,12,300\r\n"
            "2004-01-10,09:05:09,13\r\n"
            "2004-01-10,09:05:10,,302\r\n"
            "2004-01-10,09:05:11,,65535\r\n");
}

TEST_F(CsvExportTest, KeepsOnlyRowsInTheTimeRangeWithAnyValue) {
  long long rows = 0;
  const auto from = static_cast<double>(LocalMs(2004, 1, 10, 9, 5, 9));
  const auto to = static_cast<double>(LocalMs(2004, 1, 10, 9, 5, 10));
  EXPECT_EQ(Export({1}, from, to, &rows), "YYYY-MM-DD,HH:MM:SS,DM00101\r\n");
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(Export({0, 1}, from, to, &rows),
            "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101\r\n2004-01-10,09:05:09,13\r\n");
  EXPECT_EQ(rows, 1);
}

TEST_F(CsvExportTest, ReadsBackAsTheSameValues) {
  long long rows = 0;
  const std::string text = Export({0, 1, 2}, 0, 1e15, &rows);
  LogColumns again;
  LogParser parser(&again);
  parser.Feed(text);
  EXPECT_EQ(parser.SkippedLines(), 0u);
  EXPECT_EQ(ColumnsText(again), ColumnsText(log_));
  EXPECT_EQ(std::vector<int64_t>(again.Times().begin(), again.Times().end()),
            std::vector<int64_t>(log_.Times().begin(), log_.Times().end()));
}

TEST_F(CsvExportTest, UnwritablePathIsReportedAndNothingIsLeft) {
  const QString path = dir_.filePath(QStringLiteral("no/such/folder/out.csv"));
  QString error;
  EXPECT_EQ(WriteCsvExport(log_, {0}, 0, 1e15, path, &error), -1);
  EXPECT_TRUE(error.contains(path)) << error.toStdString();
  EXPECT_FALSE(QFile::exists(path));
}

}  // namespace
