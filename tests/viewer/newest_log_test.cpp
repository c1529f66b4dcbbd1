#include "viewer/newest_log.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct FolderCase {
  const char* name;
  // File names, each with its modification time in seconds after a fixed moment.
  std::vector<std::pair<const char*, int>> files;
  const char* newest;  // "" for none
};

void PrintTo(const FolderCase& c, std::ostream* out) { *out << c.name; }

class NewestLogTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(NewestLogTest, PicksTheLatestStampedName) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QDateTime base(QDate(2020, 1, 1), QTime(0, 0));
  for (const auto& [name, age] : GetParam().files) {
    QFile file(dir.filePath(QString::fromUtf8(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("YYYY-MM-DD,HH:MM:SS\r\n");
    // Written out first: closing with unwritten bytes would stamp the file with the present.
    ASSERT_TRUE(file.flush());
    ASSERT_TRUE(file.setFileTime(base.addSecs(age), QFileDevice::FileModificationTime));
  }
  const QString found = NewestLogIn(dir.path());
  const QString expected = QString::fromUtf8(GetParam().newest);
  EXPECT_EQ(QFileInfo(found).fileName().toStdString(), expected.toStdString());
  if (!found.isEmpty()) {
    EXPECT_TRUE(QFileInfo(found).isAbsolute());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, NewestLogTest,
    ::testing::Values(
        FolderCase{"MonitorNamesByStartTime",
                   {{"2004-01-10 09-05-07.csv", 9},
                    {"2004-01-10 10-00-00.csv", 1},
                    {"2004-01-09 23-59-59.csv", 5}},
                   "2004-01-10 10-00-00.csv"},
        FolderCase{"DayNamesCountFromMidnight",
                   {{"2004-01-10.csv", 9}, {"2004-01-10 00-00-01.csv", 1}, {"2004-01-09.csv", 20}},
                   "2004-01-10 00-00-01.csv"},
        FolderCase{"SameStampGoesByModification",
                   {{"2004-01-10.csv", 1}, {"2004-01-10 copy.csv", 2}},
                   "2004-01-10 copy.csv"},
        FolderCase{"StampedNamesWinOverOthers",
                   {{"notes.csv", 100}, {"2004-01-10.csv", 1}, {"2099-01-01.txt", 200}},
                   "2004-01-10.csv"},
        FolderCase{
            "WithoutStampsTheLastModified", {{"a.csv", 1}, {"b.CSV", 3}, {"c.csv", 2}}, "b.CSV"},
        FolderCase{"NoLogAtAll", {{"readme.txt", 1}}, ""}),
    [](const ::testing::TestParamInfo<FolderCase>& info) { return info.param.name; });

}  // namespace
