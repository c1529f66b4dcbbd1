#include "viewer/log_follower.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/net/wait_until.h"
#include "tests/test_support.h"
#include "tests/viewer/log_text.h"
#include "viewer/log_columns.h"
#include "viewer/log_parser.h"

namespace {

namespace fs = std::filesystem;

const std::string kHeader = "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101\r\n";

std::string Row(int second, int a, int b) {
  char text[64];
  std::snprintf(text, sizeof text, "2004-01-10,09:%02d:%02d,%d,%d\r\n", second / 60, second % 60, a,
                b);
  return text;
}

void AppendText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << text;
}

class LogFollowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = fs::path(dir_.path().toStdString()) / "2004-01-10 09-05-07.csv";
  }

  void OpenWith(const std::string& text) {
    WriteFileText(path_, text);
    QString error;
    ASSERT_TRUE(follower_.Open(Path(), &error)) << error.toStdString();
  }

  QString Path() const { return QString::fromStdString(path_.string()); }

  QTemporaryDir dir_;
  fs::path path_;
  LogColumns log_;
  LogParser parser_{&log_};
  LogFollower follower_{&parser_};
};

TEST_F(LogFollowerTest, OpenReadsTheWholeFile) {
  OpenWith(kHeader + Row(0, 1, 2) + Row(1, 3, 4));
  EXPECT_TRUE(follower_.CaughtUp());
  EXPECT_EQ(ColumnsText(log_), "DM00100=1,3 DM00101=2,4");
  EXPECT_EQ(follower_.Offset(), static_cast<int64_t>(fs::file_size(path_)));
}

TEST_F(LogFollowerTest, ReadsOnlyTheBytesAppended) {
  OpenWith(kHeader + Row(0, 11, 22));
  {
    // Changed in place after it was read: a follower that read from the start would see 99.
    std::fstream file(path_, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(kHeader.size() + 20));
    file << "99";
  }
  AppendText(path_, Row(1, 33, 44));
  follower_.Check();
  EXPECT_EQ(ColumnsText(log_), "DM00100=11,33 DM00101=22,44");
}

TEST_F(LogFollowerTest, NoticesAppendsWithoutBeingAsked) {
  follower_.SetCheckIntervalMs(50);
  OpenWith(kHeader + Row(0, 1, 2));
  QSignalSpy read(&follower_, &LogFollower::Read);
  AppendText(path_, Row(1, 3, 4));
  ASSERT_TRUE(WaitUntil([&] { return log_.RowCount() == 2; }, 5000));
  EXPECT_GE(read.count(), 1);
  EXPECT_EQ(ColumnsText(log_), "DM00100=1,3 DM00101=2,4");
}

TEST_F(LogFollowerTest, UnfinishedLastLineWaitsForItsLineEnd) {
  OpenWith(kHeader + Row(0, 1, 2));
  AppendText(path_, "2004-01-10,09:00:01,3");
  follower_.Check();
  EXPECT_EQ(log_.RowCount(), 1u);
  AppendText(path_, ",4\r\n");
  follower_.Check();
  EXPECT_EQ(ColumnsText(log_), "DM00100=1,3 DM00101=2,4");
}

TEST_F(LogFollowerTest, ReplacedFileIsReadAgainFromItsStart) {
  OpenWith(kHeader + Row(0, 1, 2) + Row(1, 3, 4));
  QSignalSpy restarted(&follower_, &LogFollower::Restarted);
  const fs::path next = path_.string() + ".new";
  WriteFileText(
      next, "YYYY-MM-DD,HH:MM:SS,TM00007\r\n2004-01-11,10:00:00,70\r\n" + std::string(200, '\n'));
  fs::rename(next, path_);
  follower_.Check();
  EXPECT_EQ(restarted.count(), 1);
  EXPECT_EQ(ColumnsText(log_), "TM00007=70");
}

TEST_F(LogFollowerTest, ShrunkFileIsReadAgainFromItsStart) {
  OpenWith(kHeader + Row(0, 1, 2) + Row(1, 3, 4) + Row(2, 5, 6));
  QSignalSpy restarted(&follower_, &LogFollower::Restarted);
  WriteFileText(path_, kHeader + Row(9, 7, 8));
  follower_.Check();
  EXPECT_EQ(restarted.count(), 1);
  EXPECT_EQ(ColumnsText(log_), "DM00100=7 DM00101=8");
}

TEST_F(LogFollowerTest, DeletedFileKeepsWhatWasReadUntilItReturns) {
  OpenWith(kHeader + Row(0, 1, 2));
  QSignalSpy missing(&follower_, &LogFollower::Missing);
  fs::remove(path_);
  follower_.Check();
  follower_.Check();
  EXPECT_EQ(missing.count(), 1);
  EXPECT_TRUE(follower_.FileMissing());
  EXPECT_EQ(ColumnsText(log_), "DM00100=1 DM00101=2");

  // The monitor creates a deleted log again, without a header until the next Run.
  WriteFileText(path_, Row(5, 9, 10));
  follower_.Check();
  EXPECT_FALSE(follower_.FileMissing());
  EXPECT_EQ(ColumnsText(log_), "#1=9 #2=10");
}

TEST_F(LogFollowerTest, LargeFileIsReadInStepsOfTheEventLoop) {
  std::string text = kHeader;
  int rows = 0;
  while (text.size() <= static_cast<size_t>(LogFollower::kStepBytes) + 4096) {
    text += Row(rows % 3600, rows, -rows);
    ++rows;
  }
  OpenWith(text);
  EXPECT_FALSE(follower_.CaughtUp());
  EXPECT_LT(log_.RowCount(), static_cast<size_t>(rows));
  ASSERT_TRUE(WaitUntil([&] { return follower_.CaughtUp(); }, 10000));
  ASSERT_EQ(log_.RowCount(), static_cast<size_t>(rows));
  EXPECT_EQ(log_.Values(1).back(), -(rows - 1));
}

TEST_F(LogFollowerTest, FailedOpenKeepsTheFileThatWasOpen) {
  OpenWith(kHeader + Row(0, 1, 2));
  const QString opened = follower_.Path();
  for (const QString& bad : {dir_.filePath(QStringLiteral("absent.csv")), dir_.path()}) {
    QString error;
    EXPECT_FALSE(follower_.Open(bad, &error));
    EXPECT_TRUE(error.contains(bad)) << error.toStdString();
    EXPECT_EQ(follower_.Path(), opened);
    EXPECT_EQ(log_.RowCount(), 1u);
  }
}

TEST_F(LogFollowerTest, NothingIsReadWhileNotFollowing) {
  follower_.SetCheckIntervalMs(20);
  OpenWith(kHeader + Row(0, 1, 2));
  follower_.SetFollowing(false);
  AppendText(path_, Row(1, 3, 4));
  WaitUntil([] { return false; }, 300);
  EXPECT_EQ(log_.RowCount(), 1u);
  follower_.SetFollowing(true);
  EXPECT_EQ(log_.RowCount(), 2u);
}

}  // namespace
