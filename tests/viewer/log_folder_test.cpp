#include "viewer/log_folder.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <ostream>
#include <string>
#include <vector>

namespace {

const QDate kToday(2004, 1, 12);

struct SpanCase {
  const char* name;
  LogFolder::Span span;
  std::vector<const char*> files;  // modified one second apart, in this order
  std::string chosen;              // file names joined by blanks, oldest first
};

void PrintTo(const SpanCase& c, std::ostream* out) { *out << c.name; }

class LogFolderSpanTest : public ::testing::TestWithParam<SpanCase> {};

TEST_P(LogFolderSpanTest, ChoosesTheLogsOfTheSpanInTimeOrder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QDateTime base(QDate(2004, 1, 1), QTime(0, 0));
  int age = 0;
  for (const char* name : GetParam().files) {
    QFile file(dir.filePath(QString::fromUtf8(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.setFileTime(base.addSecs(++age), QFileDevice::FileModificationTime));
  }
  std::string chosen;
  for (const QString& path : LogFolder::Select(LogFolder::List(dir.path()), GetParam().span)) {
    EXPECT_TRUE(QFileInfo(path).isAbsolute());
    chosen += (chosen.empty() ? "" : " ") + QFileInfo(path).fileName().toStdString();
  }
  EXPECT_EQ(chosen, GetParam().chosen);
}

const std::vector<const char*> kWeek = {"2004-01-12.csv",          "2004-01-10.csv",
                                        "2004-01-11 08-00-00.csv", "2004-01-11.csv",
                                        "2004-01-05.csv",          "notes.txt"};

INSTANTIATE_TEST_SUITE_P(
    Spans, LogFolderSpanTest,
    ::testing::Values(
        SpanCase{"NewestAlone", {}, kWeek, "2004-01-12.csv"},
        SpanCase{"LastThreeDaysByStamp", LogFolder::Span::Days(3, kToday), kWeek,
                 "2004-01-10.csv 2004-01-11.csv 2004-01-11 08-00-00.csv 2004-01-12.csv"},
        SpanCase{"RangeThatEnded",
                 LogFolder::Span::Range(QDate(2004, 1, 11), QDate(2004, 1, 10), kToday), kWeek,
                 "2004-01-10.csv 2004-01-11.csv 2004-01-11 08-00-00.csv"},
        SpanCase{"DaysWithoutLogsTakeTheOneBefore",
                 LogFolder::Span::Range(QDate(2004, 1, 6), QDate(2004, 1, 9), kToday), kWeek,
                 "2004-01-05.csv"},
        SpanCase{"SpanBeforeEveryLogTakesThemAll", LogFolder::Span::Days(2, QDate(2003, 12, 1)),
                 kWeek,
                 "2004-01-05.csv 2004-01-10.csv 2004-01-11.csv 2004-01-11 08-00-00.csv "
                 "2004-01-12.csv"},
        SpanCase{"UnstampedByModification",
                 LogFolder::Span::Days(1, QDate(2004, 1, 1)),
                 {"b.csv", "a.csv"},
                 "b.csv a.csv"}),
    [](const ::testing::TestParamInfo<SpanCase>& info) { return info.param.name; });

TEST(LogFolderTest, ARangeThatReachesTodayHasNoEnd) {
  EXPECT_TRUE(LogFolder::Span::Range(QDate(2004, 1, 1), kToday, kToday).last.isNull());
  EXPECT_EQ(LogFolder::Span::Range(QDate(2004, 1, 1), kToday.addDays(-1), kToday).last,
            kToday.addDays(-1));
  EXPECT_FALSE(LogFolder::Span::Days(1, kToday).NewestOnly());
  EXPECT_EQ(LogFolder::Span::Days(1, kToday).first, kToday);
}

}  // namespace
