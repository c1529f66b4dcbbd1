#include "logger/row_writer.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "logger/status_journal.h"
#include "tests/fakes/fake_clock.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kHeader = "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101\r\n";
const std::vector<uint16_t> kValues{7, 65535};

class RowWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(journalFile_, nullptr);
    folder_ = fs::path(dir_.path().toStdString()) / "logs";
    fs::create_directory(folder_);
    setup.Directory = folder_.string();
    setup.DeviceStart = 100;
    setup.DeviceNum = 2;
    setup.Sync = true;
  }
  void TearDown() override { std::fclose(journalFile_); }

  RowWriter Writer(const LocalDateTime& start = {2026, 12, 9, 23, 59, 58}) {
    return RowWriter(setup, start, journal_);
  }
  static std::string Row(const std::string& stamp) { return stamp + ",7,-1\r\n"; }
  std::string File(const std::string& name) const { return ReadFileText(folder_ / name); }
  std::string Journal() { return ReadStream(journalFile_); }

  RowWriter::Setup setup;
  fs::path folder_;

 private:
  QTemporaryDir dir_;
  std::FILE* journalFile_ = std::tmpfile();
  FakeClock clock_;

 protected:
  StatusJournal journal_{journalFile_, clock_};
};

// Each run starts its file with a header, also when it continues a file of the same name; a
// row stamped on a new day starts a file named after it, with its own header.
TEST_F(RowWriterTest, HeaderPerRunAndPerDay) {
  {
    RowWriter writer = Writer();
    writer.Add({2026, 12, 9, 23, 59, 59}, kValues);
    writer.Add({2026, 12, 10, 0, 0, 0}, kValues);
    writer.Add({2026, 12, 10, 0, 0, 1}, kValues);
    EXPECT_EQ(writer.Written(), 3u);
    EXPECT_EQ(writer.CurrentFile(), (folder_ / "2026-12-10 00-00-00.csv").string());
  }
  RowWriter again = Writer();
  again.Add({2026, 12, 9, 23, 59, 59}, kValues);
  EXPECT_EQ(File("2026-12-09 23-59-58.csv"),
            kHeader + Row("2026-12-09,23:59:59") + kHeader + Row("2026-12-09,23:59:59"));
  EXPECT_EQ(File("2026-12-10 00-00-00.csv"),
            kHeader + Row("2026-12-10,00:00:00") + Row("2026-12-10,00:00:01"));
  EXPECT_EQ(FileNamesIn(folder_).size(), 2u);
}

TEST_F(RowWriterTest, WithoutRotationOneFileHoldsEveryDay) {
  setup.RotateDaily = false;
  RowWriter writer = Writer();
  writer.Add({2026, 12, 9, 23, 59, 59}, kValues);
  writer.Add({2026, 12, 10, 0, 0, 0}, kValues);
  EXPECT_EQ(FileNamesIn(folder_), std::set<std::string>{"2026-12-09 23-59-58.csv"});
}

// Rows that cannot be written (the folder is gone) wait in memory, in order, across midnight,
// and reach their files oldest first once the folder is back.
TEST_F(RowWriterTest, BacklogIsWrittenInOrderWhenWritingWorksAgain) {
  RowWriter writer = Writer();
  writer.Add({2026, 12, 9, 23, 59, 58}, kValues);
  fs::remove_all(folder_);
  writer.Add({2026, 12, 9, 23, 59, 59}, kValues);
  writer.Add({2026, 12, 10, 0, 0, 0}, kValues);
  writer.Add({2026, 12, 10, 0, 0, 1}, kValues);
  EXPECT_EQ(writer.Backlog(), 3u);
  EXPECT_EQ(writer.Written(), 1u);
  EXPECT_FALSE(writer.Flush());
  fs::create_directory(folder_);
  EXPECT_TRUE(writer.Flush());
  EXPECT_EQ(writer.Backlog(), 0u);
  EXPECT_EQ(writer.Written(), 4u);
  EXPECT_EQ(File("2026-12-09 23-59-58.csv"), kHeader + Row("2026-12-09,23:59:59"));
  EXPECT_EQ(File("2026-12-10 00-00-00.csv"),
            kHeader + Row("2026-12-10,00:00:00") + Row("2026-12-10,00:00:01"));
  const std::string journal = Journal();
  const std::string error = "ファイル " + (folder_ / "2026-12-09 23-59-58.csv").string() +
                            " を作成できません (create: " + std::strerror(ENOENT) + ")";
  EXPECT_NE(journal.find(" " + error + "\n"), std::string::npos) << journal;
  EXPECT_NE(journal.find("backlog: rows are kept in memory"), std::string::npos);
  EXPECT_NE(journal.find("backlog written: 3 rows"), std::string::npos);
  EXPECT_NE(journal.find("cleared: " + error + " (4 times in 0 s)"), std::string::npos);
}

TEST_F(RowWriterTest, BacklogReachesItsBound) {
  setup.BacklogLimit = 3 * Row("2026-12-09,23:59:59").size();
  RowWriter writer = Writer();
  fs::remove_all(folder_);
  writer.Add({2026, 12, 9, 23, 59, 59}, kValues);
  writer.Add({2026, 12, 9, 23, 59, 59}, kValues);
  EXPECT_FALSE(writer.Full());
  writer.Add({2026, 12, 9, 23, 59, 59}, kValues);
  EXPECT_TRUE(writer.Full());
  fs::create_directory(folder_);
  EXPECT_TRUE(writer.Flush());
  EXPECT_FALSE(writer.Full());
  EXPECT_EQ(writer.BacklogBytes(), 0u);
}

// Two storage outages apart: one "logging to" line per file, and per outage one backlog line
// with its bound and one line with the number of rows it kept; the bound is 64 MiB unless set.
TEST_F(RowWriterTest, EachOutageIsReportedOnceWithItsRows) {
  EXPECT_EQ(setup.BacklogLimit, std::size_t{64} << 20);
  RowWriter writer = Writer();
  const auto outage = [&](int hour, int rows) {
    fs::remove_all(folder_);
    for (int i = 0; i < rows; ++i) writer.Add({2026, 12, 10, hour, 0, i}, kValues);
    fs::create_directory(folder_);
    writer.Add({2026, 12, 10, hour, 1, 0}, kValues);
  };
  writer.Add({2026, 12, 9, 23, 59, 59}, kValues);
  outage(1, 2);
  outage(2, 1);
  const std::string journal = Journal();
  const auto count = [&](const std::string& text) {
    std::size_t n = 0;
    for (auto at = journal.find(text); at != std::string::npos; at = journal.find(text, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("logging to " + (folder_ / "2026-12-09 23-59-58.csv").string() + "\n"), 1u);
  EXPECT_EQ(count("logging to " + (folder_ / "2026-12-10 01-00-00.csv").string() + "\n"), 1u);
  EXPECT_EQ(count("logging to "), 2u) << journal;
  EXPECT_EQ(
      count(" backlog: rows are kept in memory until the log can be written (up to 64 MiB)\n"), 2u);
  EXPECT_EQ(count(" backlog written: 3 rows kept in memory are in the log\n"), 1u) << journal;
  EXPECT_EQ(count(" backlog written: 2 rows kept in memory are in the log\n"), 1u) << journal;
}

// A run killed inside an append leaves part of a row at the end of the newest log; the next run
// cuts it back before anything else and says so. Older logs and a log that ends a row stay.
TEST_F(RowWriterTest, NextRunCutsBackTheRowAKilledRunLeftUnfinished) {
  const std::string whole = kHeader + Row("2026-12-08,10:00:00");
  WriteFileText(folder_ / "2026-12-08 10-00-00.csv", whole + "2026-12-08,10:00:01,7");
  WriteFileText(folder_ / "2026-12-08 09-00-00.csv", whole + "2026-12-08,09");
  WriteFileText(folder_ / "notes.csv", "unfinished");
  RowWriter writer = Writer();
  EXPECT_EQ(File("2026-12-08 10-00-00.csv"), whole);
  EXPECT_EQ(File("2026-12-08 09-00-00.csv"), whole + "2026-12-08,09");
  EXPECT_EQ(File("notes.csv"), "unfinished");
  EXPECT_NE(Journal().find(" removed 21 bytes of a row left unfinished from " +
                           (folder_ / "2026-12-08 10-00-00.csv").string() + "\n"),
            std::string::npos)
      << Journal();
  RowWriter again = Writer();
  EXPECT_EQ(File("2026-12-08 10-00-00.csv"), whole);
}

}  // namespace
