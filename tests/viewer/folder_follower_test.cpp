#include "viewer/folder_follower.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/net/wait_until.h"
#include "tests/test_support.h"
#include "tests/viewer/log_text.h"
#include "viewer/log_columns.h"
#include "viewer/log_follower.h"
#include "viewer/log_parser.h"

namespace {

namespace fs = std::filesystem;

std::string Header(const std::string& devices) { return "YYYY-MM-DD,HH:MM:SS," + devices + "\r\n"; }

std::string Row(const char* date, const char* time, const std::string& values) {
  return std::string(date) + ',' + time + ',' + values + "\r\n";
}

class FolderFollowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    // Checks only when the test asks for them.
    follower_.SetCheckIntervalMs(60'000);
    folder_.SetClock([this] { return now_; });
  }

  fs::path Write(const char* name, const std::string& text) {
    const fs::path path = fs::path(dir_.path().toStdString()) / name;
    WriteFileText(path, text);
    return path;
  }

  void Append(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
  }

  bool Open(const LogFolder::Span& span) {
    QString error;
    const bool opened = folder_.Open(dir_.path(), span, &error);
    EXPECT_TRUE(opened) << error.toStdString();
    return opened && WaitUntil([&] { return follower_.CaughtUp(); }, 5000);
  }

  // One look at the files, as the follower's timer or watcher would start it.
  bool CheckAndWait() {
    follower_.Check();
    return WaitUntil([&] { return follower_.CaughtUp(); }, 5000);
  }

  std::string FollowedName() const { return QFileInfo(follower_.Path()).fileName().toStdString(); }

  QTemporaryDir dir_;
  QDateTime now_{QDate(2004, 1, 10), QTime(23, 59, 59)};
  LogColumns log_;
  LogParser parser_{&log_};
  LogFollower follower_{&parser_};
  FolderFollower folder_{&follower_};
};

TEST_F(FolderFollowerTest, NewestLogGivesWayToANewerOne) {
  Write("2004-01-10 09-00-00.csv", Header("DM00100") + Row("2004-01-10", "09:00:00", "1"));
  ASSERT_TRUE(Open({}));
  QSignalSpy moved(&folder_, &FolderFollower::MovedOn);
  QSignalSpy restarted(&follower_, &LogFollower::Restarted);
  ASSERT_TRUE(CheckAndWait());
  EXPECT_EQ(moved.count(), 0);

  // The logger restarted: a new file, with its own header.
  Write("2004-01-10 12-00-00.csv", Header("DM00100") + Row("2004-01-10", "12:00:00", "7"));
  ASSERT_TRUE(CheckAndWait());
  EXPECT_EQ(moved.count(), 1);
  EXPECT_EQ(restarted.count(), 1);
  EXPECT_EQ(FollowedName(), "2004-01-10 12-00-00.csv");
  EXPECT_EQ(ColumnsText(log_), "DM00100=7");
}

TEST_F(FolderFollowerTest, DaysRunOnIntoTheNextDayAtMidnight) {
  Write("2004-01-09.csv", Header("DM00100") + Row("2004-01-09", "12:00:00", "0"));
  const fs::path today =
      Write("2004-01-10.csv", Header("DM00100") + Row("2004-01-10", "23:59:58", "1"));
  ASSERT_TRUE(Open(LogFolder::Span::Days(1, folder_.Today())));
  EXPECT_EQ(ColumnsText(log_), "DM00100=1");
  QSignalSpy restarted(&follower_, &LogFollower::Restarted);

  // The last row of the day, then the logger's first row stamped on the new day starts a file.
  Append(today, Row("2004-01-10", "23:59:59", "2"));
  now_ = QDateTime(QDate(2004, 1, 11), QTime(0, 0, 1));
  Write("2004-01-11.csv", Header("DM00100") + Row("2004-01-11", "00:00:00", "3"));
  ASSERT_TRUE(CheckAndWait());
  EXPECT_EQ(FollowedName(), "2004-01-11.csv");
  EXPECT_EQ(follower_.Paths().size(), 2);
  EXPECT_EQ(ColumnsText(log_), "DM00100=1,2,3");
  EXPECT_EQ(restarted.count(), 0);
  EXPECT_TRUE(log_.TimesAscending());
}

TEST_F(FolderFollowerTest, ARangeThatEndedTakesNoNewerLog) {
  Write("2004-01-09.csv", Header("DM00100") + Row("2004-01-09", "12:00:00", "1"));
  now_ = QDateTime(QDate(2004, 1, 12), QTime(8, 0));
  ASSERT_TRUE(Open(LogFolder::Span::Range(QDate(2004, 1, 8), QDate(2004, 1, 9), folder_.Today())));
  Write("2004-01-12.csv", Header("DM00100") + Row("2004-01-12", "08:00:00", "2"));
  ASSERT_TRUE(CheckAndWait());
  EXPECT_EQ(FollowedName(), "2004-01-09.csv");
  EXPECT_EQ(ColumnsText(log_), "DM00100=1");
}

TEST_F(FolderFollowerTest, AnotherFileOpenedOnTheFollowerIsLeftAlone) {
  Write("2004-01-10.csv", Header("DM00100") + Row("2004-01-10", "09:00:00", "1"));
  ASSERT_TRUE(Open({}));
  const fs::path other = fs::path(dir_.path().toStdString()) / "elsewhere";
  fs::create_directory(other);
  WriteFileText(other / "x.csv", Header("DM00100") + Row("2004-01-10", "09:00:00", "5"));
  QString error;
  ASSERT_TRUE(follower_.Open(QString::fromStdString((other / "x.csv").string()), &error));
  Write("2004-01-11.csv", Header("DM00100") + Row("2004-01-11", "09:00:00", "2"));
  ASSERT_TRUE(CheckAndWait());
  EXPECT_EQ(FollowedName(), "x.csv");
}

// The days of a week joined: files in the order of their stamps whatever their modification,
// several header blocks with devices in another order, and the days between with no log left
// as a gap in time, nothing made up in it.
TEST_F(FolderFollowerTest, DaysJoinInTimeOrderAcrossHeaderBlocksAndGaps) {
  now_ = QDateTime(QDate(2004, 1, 14), QTime(12, 0));
  Write("2004-01-14.csv", Header("DM00101,DM00100") + Row("2004-01-14", "00:00:00", "40,41"));
  Write("2004-01-10.csv", Header("DM00100,DM00101") + Row("2004-01-10", "23:59:59", "10,11") +
                              Header("DM00101") + Row("2004-01-10", "23:59:59", "12"));
  Write("2004-01-11.csv", Row("2004-01-11", "00:00:00", "99") + Header("DM00102") +
                              Row("2004-01-11", "00:00:01", "20"));
  ASSERT_TRUE(Open(LogFolder::Span::Days(5, folder_.Today())));
  EXPECT_EQ(ColumnsText(log_),
            "DM00100=10,_,_,_,41 DM00101=11,12,_,_,40 #1=_,_,99,_,_ DM00102=_,_,_,20,_");
  const auto times = log_.Times();
  ASSERT_EQ(times.size(), 5u);
  EXPECT_TRUE(log_.TimesAscending());
  EXPECT_EQ(times[2], LocalMs(2004, 1, 11, 0, 0, 0));
  EXPECT_EQ(times[4] - times[3], LocalMs(2004, 1, 14, 0, 0, 0) - LocalMs(2004, 1, 11, 0, 0, 1));
}

}  // namespace
