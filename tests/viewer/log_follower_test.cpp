#include "viewer/log_follower.h"

#include <gtest/gtest.h>

#include <QDir>
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

// A check of a file that has not changed costs a stat and nothing more: a wrong comparison
// there would read the whole log again at every check without anything looking wrong.
TEST_F(LogFollowerTest, UnchangedFileReadsNothingAndRestartsNothing) {
  OpenWith(kHeader + Row(0, 1, 2) + Row(1, 3, 4));
  const uint64_t readAtOpen = follower_.BytesRead();
  EXPECT_EQ(readAtOpen, fs::file_size(path_));
  QSignalSpy read(&follower_, &LogFollower::Read);
  QSignalSpy restarted(&follower_, &LogFollower::Restarted);
  for (int check = 0; check < 3; ++check) follower_.Check();
  EXPECT_EQ(follower_.BytesRead(), readAtOpen);
  EXPECT_EQ(read.count(), 0);
  EXPECT_EQ(restarted.count(), 0);
  EXPECT_EQ(log_.RowCount(), 2u);
}

// Several files read as one log: the older ones whole, the last one followed.
class LogSequenceTest : public LogFollowerTest {
 protected:
  QString File(const char* name, const std::string& text) {
    const fs::path path = fs::path(dir_.path().toStdString()) / name;
    WriteFileText(path, text);
    return QString::fromStdString(path.string());
  }
};

TEST_F(LogSequenceTest, OlderFilesAreReadWholeOneSeriesPerDevice) {
  const QString first = File("2004-01-09.csv", kHeader + Row(0, 1, 2) + "2004-01-10,09:00:0");
  // Another run logs the devices in another order, and one more.
  const QString second =
      File("2004-01-10.csv", "YYYY-MM-DD,HH:MM:SS,DM00101,DM00100,DM00102\r\n" +
                                 std::string("2004-01-10,09:00:01,20,10,30\r\n"));
  QString error;
  ASSERT_TRUE(follower_.Open(QStringList{first, second}, &error)) << error.toStdString();
  ASSERT_TRUE(WaitUntil([&] { return follower_.CaughtUp(); }, 5000));
  // The first file's torn last line is dropped, not glued to the next file's header.
  EXPECT_EQ(ColumnsText(log_), "DM00100=1,10 DM00101=2,20 DM00102=_,30");
  EXPECT_EQ(parser_.SkippedLines(), 1u);
  EXPECT_EQ(follower_.Path(), QFileInfo(second).absoluteFilePath());

  // Only the last file is followed.
  AppendText(fs::path(first.toStdString()), Row(5, 7, 7));
  AppendText(fs::path(second.toStdString()), "2004-01-10,09:00:02,21,11,31\r\n");
  follower_.Check();
  EXPECT_EQ(ColumnsText(log_), "DM00100=1,10,11 DM00101=2,20,21 DM00102=_,30,31");
}

TEST_F(LogSequenceTest, ExtendingReadsOnWithoutReadingAgain) {
  const QString first = File("2004-01-10.csv", kHeader + Row(0, 1, 2));
  QString error;
  ASSERT_TRUE(follower_.Open(first, &error)) << error.toStdString();
  QSignalSpy restarted(&follower_, &LogFollower::Restarted);
  // The last rows of the old file arrive before the new file is found.
  AppendText(fs::path(first.toStdString()), Row(1, 3, 4));
  const QString second = File("2004-01-11.csv", kHeader + Row(2, 5, 6));
  follower_.Extend({second});
  ASSERT_TRUE(WaitUntil([&] { return follower_.CaughtUp() && log_.RowCount() == 3; }, 5000));
  EXPECT_EQ(ColumnsText(log_), "DM00100=1,3,5 DM00101=2,4,6");
  EXPECT_EQ(restarted.count(), 0);
  EXPECT_EQ(follower_.BytesRead(),
            fs::file_size(first.toStdString()) + fs::file_size(second.toStdString()));
  EXPECT_EQ(follower_.Paths(), (QStringList{QFileInfo(first).absoluteFilePath(),
                                            QFileInfo(second).absoluteFilePath()}));
}

TEST_F(LogSequenceTest, ReplacedLastFileReadsTheWholeSequenceAgain) {
  const QString first = File("2004-01-10.csv", kHeader + Row(0, 1, 2));
  const QString second = File("2004-01-11.csv", kHeader + Row(1, 3, 4) + Row(2, 5, 6));
  QString error;
  ASSERT_TRUE(follower_.Open(QStringList{first, second}, &error)) << error.toStdString();
  ASSERT_TRUE(WaitUntil([&] { return follower_.CaughtUp(); }, 5000));
  QSignalSpy restarted(&follower_, &LogFollower::Restarted);
  WriteFileText(fs::path(second.toStdString()), kHeader + Row(9, 9, 9));
  follower_.Check();
  ASSERT_TRUE(WaitUntil([&] { return follower_.CaughtUp(); }, 5000));
  EXPECT_EQ(restarted.count(), 1);
  EXPECT_EQ(ColumnsText(log_), "DM00100=1,9 DM00101=2,9");
}

}  // namespace
