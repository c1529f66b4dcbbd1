#include "viewer/log_columns.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/viewer/log_text.h"

namespace {

constexpr int32_t kMissing = LogColumns::kMissing;

TEST(LogColumnsTest, DeviceAddedLaterIsMissingInEarlierRows) {
  LogColumns log;
  const int first = log.AddDevice(QStringLiteral("DM00100"));
  log.AppendRow(1000, std::vector<int32_t>{12});
  const int second = log.AddDevice(QStringLiteral("DM00200"));
  log.AppendRow(2000, std::vector<int32_t>{13, 7});
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(ColumnsText(log), "DM00100=12,13 DM00200=_,7");
  EXPECT_EQ(log.AddDevice(QStringLiteral("DM00100")), 0);
  EXPECT_EQ(log.FindDevice(QStringLiteral("DM00200")), 1);
  EXPECT_EQ(log.FindDevice(QStringLiteral("DM00300")), -1);
}

TEST(LogColumnsTest, ShortRowLeavesTheOtherDevicesMissing) {
  LogColumns log;
  log.AddDevice(QStringLiteral("A"));
  log.AddDevice(QStringLiteral("B"));
  log.AppendRow(0, std::vector<int32_t>{5});
  EXPECT_EQ(ColumnsText(log), "A=5 B=_");
}

TEST(LogColumnsTest, LatestValueSkipsMissingValues) {
  LogColumns log;
  log.AddDevice(QStringLiteral("A"));
  log.AddDevice(QStringLiteral("B"));
  log.AppendRow(0, std::vector<int32_t>{1, 65535});
  log.AppendRow(1, std::vector<int32_t>{-32768, kMissing});
  EXPECT_EQ(log.LatestValue(0), -32768);
  EXPECT_EQ(log.LatestValue(1), 65535);
  const int never = log.AddDevice(QStringLiteral("C"));
  EXPECT_FALSE(log.LatestValue(never).has_value());
}

TEST(LogColumnsTest, TimesAscendUntilOneGoesBack) {
  LogColumns log;
  log.AddDevice(QStringLiteral("A"));
  log.AppendRow(1000, std::vector<int32_t>{1});
  log.AppendRow(1000, std::vector<int32_t>{2});
  EXPECT_TRUE(log.TimesAscending());
  log.AppendRow(999, std::vector<int32_t>{3});
  EXPECT_FALSE(log.TimesAscending());
  log.Clear();
  EXPECT_TRUE(log.TimesAscending());
  EXPECT_EQ(log.RowCount(), 0u);
  EXPECT_EQ(log.DeviceCount(), 0);
}

TEST(LogColumnsTest, ValuesTakeFourBytesAndTimesEight) {
  LogColumns log;
  for (int d = 0; d < 10; ++d) log.AddDevice(QString::number(d));
  log.Reserve(1000);
  const std::vector<int32_t> row(10, 1);
  for (int r = 0; r < 1000; ++r) log.AppendRow(r, row);
  EXPECT_EQ(log.MemoryBytes(), 1000u * (10 * 4 + 8));
}

}  // namespace
