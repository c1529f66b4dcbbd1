#include "monitor/csv_log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/exception.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The message of the Exception that call throws; fails the test when it throws nothing.
std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& error) {
    return error.what();
  }
  ADD_FAILURE() << "no Exception thrown";
  return {};
}

class CsvLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / "csv_log_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ / "2004-01-10 09-05-07.csv";
  }
  void TearDown() override { fs::remove_all(dir_); }

  CsvLog Log() const { return CsvLog(path_.string()); }
  std::string Content() const { return ReadAll(path_); }

  fs::path dir_;
  fs::path path_;
};

// ---- names and stamps ----

TEST(CsvLogNameTest, FileNameIsStartDateBlankAndTimeWithHyphens) {
  EXPECT_EQ(CsvLog::MakeFileName({2004, 1, 10, 9, 5, 7}), "2004-01-10 09-05-07.csv");
  EXPECT_EQ(CsvLog::MakeFileName({999, 12, 31, 23, 59, 0}), "0999-12-31 23-59-00.csv");
}

TEST(CsvLogNameTest, RowStampIsDateCommaTimeWithColons) {
  EXPECT_EQ(CsvLog::MakeRowStamp({2004, 1, 10, 9, 5, 8}), "2004-01-10,09:05:08");
}

// ---- header row ----

TEST_F(CsvLogTest, HeaderForStartZeroCountTenListsDm00000ToDm00009) {
  Log().WriteHeaderRow(0, 0, 10);
  EXPECT_EQ(Content(),
            "YYYY-MM-DD,HH:MM:SS,DM00000,DM00001,DM00002,DM00003,DM00004,DM00005,DM00006,"
            "DM00007,DM00008,DM00009\r\n");
}

TEST_F(CsvLogTest, HeaderKeepsAllDigitsOfASixDigitDevice) {
  Log().WriteHeaderRow(0, 123456, 2);
  EXPECT_EQ(Content(), "YYYY-MM-DD,HH:MM:SS,DM123456,DM123457\r\n");
}

TEST_F(CsvLogTest, HeaderForKindOneUsesTemporaryMemoryCode) {
  Log().WriteHeaderRow(1, 7, 2);
  EXPECT_EQ(Content(), "YYYY-MM-DD,HH:MM:SS,TM00007,TM00008\r\n");
}

TEST_F(CsvLogTest, HeaderForNegativeStartPrintsSignAndPadding) {
  // "%5.5d" pads the digits, not the sign: -3 is "-00003", as -5 is "-00005" in the command.
  Log().WriteHeaderRow(0, -3, 2);
  EXPECT_EQ(Content(), "YYYY-MM-DD,HH:MM:SS,DM-00003,DM-00002\r\n");
}

TEST_F(CsvLogTest, HeaderForKindTwoHasNoColumns) {
  Log().WriteHeaderRow(2, 100, 3);
  EXPECT_EQ(Content(), "YYYY-MM-DD,HH:MM:SS\r\n");
}

TEST_F(CsvLogTest, HeaderForNoDevicesHasNoColumns) {
  Log().WriteHeaderRow(0, 100, 0);
  Log().WriteHeaderRow(0, 100, -5);
  EXPECT_EQ(Content(), "YYYY-MM-DD,HH:MM:SS\r\nYYYY-MM-DD,HH:MM:SS\r\n");
}

TEST_F(CsvLogTest, HeaderNearTheTopOfTheRangeDoesNotWrap) {
  Log().WriteHeaderRow(0, 2147483647, 2);
  EXPECT_EQ(Content(), "YYYY-MM-DD,HH:MM:SS,DM2147483647,DM2147483648\r\n");
}

TEST_F(CsvLogTest, HeaderOfAMillionColumnsIsWrittenWhole) {
  Log().WriteHeaderRow(0, 0, 1000000);
  const std::string content = Content();
  // 19 + 100000 * ",DM00000" + 900000 * ",DM100000" + CR LF
  EXPECT_EQ(content.size(), 19u + 100000u * 8u + 900000u * 9u + 2u);
  EXPECT_EQ(content.substr(0, 35), "YYYY-MM-DD,HH:MM:SS,DM00000,DM00001");
  EXPECT_EQ(content.substr(content.size() - 20), ",DM999998,DM999999\r\n");
  EXPECT_EQ(content.find('\n'), content.size() - 1);
}

TEST_F(CsvLogTest, RunPressedTwiceGivesTwoHeaderRows) {
  Log().WriteHeaderRow(0, 1, 1);
  Log().WriteHeaderRow(1, 2, 1);
  EXPECT_EQ(Content(), "YYYY-MM-DD,HH:MM:SS,DM00001\r\nYYYY-MM-DD,HH:MM:SS,TM00002\r\n");
}

// ---- data rows ----

TEST_F(CsvLogTest, TwoCyclesGiveHeaderAndTwoRows) {
  CsvLog log = Log();
  log.WriteHeaderRow(0, 100, 3);
  log.AppendValues("2004-01-10,09:05:08", std::vector<uint16_t>{12, 65535, 300}, false);
  log.EndRow();
  log.AppendValues("2004-01-10,09:05:09", std::vector<uint16_t>{13, 65535, 301}, false);
  log.EndRow();
  EXPECT_EQ(Content(),
            "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101,DM00102\r\n"
            "2004-01-10,09:05:08,12,-1,300\r\n"
            "2004-01-10,09:05:09,13,-1,301\r\n");
}

TEST_F(CsvLogTest, TwentyValuesFromThreeAppendsMakeOneRow) {
  CsvLog log = Log();
  std::vector<uint16_t> values(20);
  for (uint16_t i = 0; i < 20; ++i) values[i] = static_cast<uint16_t>(i * 1000u);
  const std::span<const uint16_t> all(values);
  log.AppendValues("2004-01-10,09:05:08", all.subspan(0, 8), false);
  log.AppendValues("", all.subspan(8, 8), false);
  log.AppendValues("", all.subspan(16, 4), false);
  log.EndRow();
  EXPECT_EQ(Content(),
            "2004-01-10,09:05:08,0,1000,2000,3000,4000,5000,6000,7000,8000,9000,10000,11000,"
            "12000,13000,14000,15000,16000,17000,18000,19000\r\n");
}

TEST_F(CsvLogTest, UnsignedValuesAreLoggedUnsigned) {
  Log().AppendValues("2004-01-10,09:05:08", std::vector<uint16_t>{65535, 40000, 65413}, true);
  Log().AppendValues("", std::vector<uint16_t>{40000}, false);
  EXPECT_EQ(Content(), "2004-01-10,09:05:08,65535,40000,65413,-25536");
}

// ---- F1: append, never truncate; create failures ----

TEST_F(CsvLogTest, ExistingFileIsAppendedToNotTruncated) {
  WriteAll(path_, "earlier run\r\n");
  Log().WriteHeaderRow(0, 0, 1);
  EXPECT_EQ(Content(), "earlier run\r\nYYYY-MM-DD,HH:MM:SS,DM00000\r\n");
}

TEST_F(CsvLogTest, MissingFileIsCreated) {
  ASSERT_FALSE(fs::exists(path_));
  Log().EndRow();
  EXPECT_EQ(Content(), "\r\n");
}

TEST_F(CsvLogTest, MissingDirectoryThrowsCreateErrorAndCreatesNothing) {
  const fs::path missing = dir_ / "no such dir" / "log.csv";
  CsvLog log(missing.string());
  EXPECT_EQ(ErrorOf([&] { log.WriteHeaderRow(0, 0, 1); }),
            "ファイル " + missing.string() + " を作成できません");
  EXPECT_EQ(ErrorOf([&] { log.AppendValues("x", {}, false); }),
            "ファイル " + missing.string() + " を作成できません");
  EXPECT_EQ(ErrorOf([&] { log.EndRow(); }), "ファイル " + missing.string() + " を作成できません");
  EXPECT_FALSE(fs::exists(dir_ / "no such dir"));
}

TEST_F(CsvLogTest, ParentThatIsAFileThrowsCreateError) {
  WriteAll(dir_ / "plain", "keep");
  const fs::path below = dir_ / "plain" / "log.csv";
  EXPECT_EQ(ErrorOf([&] { CsvLog(below.string()).EndRow(); }),
            "ファイル " + below.string() + " を作成できません");
  EXPECT_EQ(ReadAll(dir_ / "plain"), "keep");
}

TEST_F(CsvLogTest, DirectoryOfTheLogNameThrowsCreateError) {
  fs::create_directory(path_);
  EXPECT_EQ(ErrorOf([&] { Log().EndRow(); }), "ファイル " + path_.string() + " を作成できません");
  EXPECT_TRUE(fs::is_directory(path_));
}

TEST_F(CsvLogTest, DeletedFileIsCreatedAfreshByTheNextAppend) {
  CsvLog log = Log();
  log.WriteHeaderRow(0, 0, 1);
  log.AppendValues("2004-01-10,09:05:08", std::vector<uint16_t>{1}, false);
  log.EndRow();
  ASSERT_TRUE(fs::remove(path_));
  log.AppendValues("2004-01-10,09:05:09", std::vector<uint16_t>{2}, false);
  log.EndRow();
  EXPECT_EQ(Content(), "2004-01-10,09:05:09,2\r\n");
}

TEST_F(CsvLogTest, FullDeviceThrowsWriteError) {
  struct stat info {};
  if (::stat("/dev/full", &info) != 0 || !S_ISCHR(info.st_mode)) {
    GTEST_SKIP() << "/dev/full is not available";
  }
  CsvLog log("/dev/full");
  EXPECT_EQ(ErrorOf([&] { log.EndRow(); }), "ファイル /dev/full に書き込めません");
  EXPECT_EQ(ErrorOf([&] { log.WriteHeaderRow(0, 0, 3); }), "ファイル /dev/full に書き込めません");
}

// Caps the size of files this process may write, as a full disk would; writes beyond the cap
// fail with EFBIG instead of raising SIGXFSZ.
class FileSizeCap {
 public:
  explicit FileSizeCap(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit capped = previous_;
    capped.rlim_cur = bytes;
    applied_ = ::setrlimit(RLIMIT_FSIZE, &capped) == 0;
  }
  ~FileSizeCap() { Lift(); }
  void Lift() {
    if (applied_) ::setrlimit(RLIMIT_FSIZE, &previous_);
    applied_ = false;
    std::signal(SIGXFSZ, previousHandler_);
  }
  bool Applied() const { return applied_; }

 private:
  rlimit previous_{};
  bool applied_ = false;
  void (*previousHandler_)(int) = SIG_DFL;
};

TEST_F(CsvLogTest, FailedWriteLeavesTheFileAsItWasBefore) {
  const std::string earlier = "YYYY-MM-DD,HH:MM:SS,DM00000\r\n2004-01-10,09:05:08,1\r\n";
  WriteAll(path_, earlier);
  std::string error;
  {
    // Room for the first 64 KiB piece and part of the next, not for the whole header.
    FileSizeCap cap(earlier.size() + 100000);
    ASSERT_TRUE(cap.Applied());
    try {
      Log().WriteHeaderRow(0, 0, 1000000);
    } catch (const Exception& e) {
      error = e.what();
    }
    cap.Lift();
  }
  EXPECT_EQ(error, "ファイル " + path_.string() + " に書き込めません");
  EXPECT_EQ(Content(), earlier);
}

TEST_F(CsvLogTest, FailedRowWriteKeepsEarlierRowsAndAllowsLaterOnes) {
  const std::string earlier = "2004-01-10,09:05:08,1";  // an unfinished row
  WriteAll(path_, earlier);
  std::string error;
  {
    FileSizeCap cap(earlier.size() + 4);
    ASSERT_TRUE(cap.Applied());
    try {
      Log().AppendValues("2004-01-10,09:05:09", std::vector<uint16_t>{2, 3}, false);
    } catch (const Exception& e) {
      error = e.what();
    }
    cap.Lift();
  }
  EXPECT_EQ(error, "ファイル " + path_.string() + " に書き込めません");
  EXPECT_EQ(Content(), earlier);
  Log().AppendValues("2004-01-10,09:05:10", std::vector<uint16_t>{4}, false);
  EXPECT_EQ(Content(), earlier + "\r\n2004-01-10,09:05:10,4");
}

// ---- F2: an unfinished row never swallows the next header or row ----

TEST_F(CsvLogTest, HeaderIntoEmptyFileHasNoLeadingLineEnd) {
  WriteAll(path_, "");
  Log().WriteHeaderRow(2, 0, 1);
  EXPECT_EQ(Content(), "YYYY-MM-DD,HH:MM:SS\r\n");
}

TEST_F(CsvLogTest, HeaderAfterUnfinishedRowStartsOnItsOwnLine) {
  CsvLog log = Log();
  log.AppendValues("2004-01-10,09:05:08", std::vector<uint16_t>{1, 2}, false);
  log.WriteHeaderRow(0, 5, 1);
  EXPECT_EQ(Content(), "2004-01-10,09:05:08,1,2\r\nYYYY-MM-DD,HH:MM:SS,DM00005\r\n");
}

TEST_F(CsvLogTest, StampedRowAfterUnfinishedRowStartsOnItsOwnLine) {
  CsvLog log = Log();
  log.AppendValues("2004-01-10,09:05:08", std::vector<uint16_t>{1}, false);
  log.AppendValues("2004-01-10,09:05:09", std::vector<uint16_t>{2}, false);
  log.EndRow();
  EXPECT_EQ(Content(), "2004-01-10,09:05:08,1\r\n2004-01-10,09:05:09,2\r\n");
}

TEST_F(CsvLogTest, ValuesWithoutStampContinueTheCurrentRow) {
  CsvLog log = Log();
  log.AppendValues("2004-01-10,09:05:08", std::vector<uint16_t>{1}, false);
  log.AppendValues("", std::vector<uint16_t>{2}, false);
  EXPECT_EQ(Content(), "2004-01-10,09:05:08,1,2");
}

TEST_F(CsvLogTest, FileLeftUnfinishedByAnotherWriterIsEndedFirst) {
  WriteAll(path_, "2004-01-09,23:59:59,7");
  Log().WriteHeaderRow(0, 0, 1);
  EXPECT_EQ(Content(), "2004-01-09,23:59:59,7\r\nYYYY-MM-DD,HH:MM:SS,DM00000\r\n");
}

TEST_F(CsvLogTest, FinishedRowGetsNoExtraLineEnd) {
  WriteAll(path_, "2004-01-09,23:59:59,7\r\n");
  Log().AppendValues("2004-01-10,00:00:00", std::vector<uint16_t>{8}, false);
  EXPECT_EQ(Content(), "2004-01-09,23:59:59,7\r\n2004-01-10,00:00:00,8");
}

}  // namespace
