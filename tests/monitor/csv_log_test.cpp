#include "monitor/csv_log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "tests/monitor/close_failure.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using Values = std::vector<uint16_t>;

// ErrorOf<Exception>(call) while files of this process may not grow beyond bytes, as on a full
// disk; writes beyond the cap fail with EFBIG instead of raising SIGXFSZ.
std::string ErrorUnderFileSizeCap(rlim_t bytes, const std::function<void()>& call) {
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  ::getrlimit(RLIMIT_FSIZE, &previous);
  rlimit capped = previous;
  capped.rlim_cur = bytes;
  std::string error;
  if (::setrlimit(RLIMIT_FSIZE, &capped) == 0) {
    error = ErrorOf<Exception>(call);
    ::setrlimit(RLIMIT_FSIZE, &previous);
  } else {
    ADD_FAILURE() << "cannot cap the file size";
  }
  std::signal(SIGXFSZ, previousHandler);
  return error;
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
  std::string Content() const { return ReadFileText(path_); }

  fs::path dir_;
  fs::path path_;
};

TEST(CsvLogNameTest, FileNameAndRowStampArePaddedDateAndTime) {
  EXPECT_EQ(CsvLog::MakeFileName({2004, 1, 10, 9, 5, 7}), "2004-01-10 09-05-07.csv");
  EXPECT_EQ(CsvLog::MakeFileName({999, 12, 31, 23, 59, 0}), "0999-12-31 23-59-00.csv");
  EXPECT_EQ(CsvLog::MakeRowStamp({2004, 1, 10, 9, 5, 8}), "2004-01-10,09:05:08");
}

TEST_F(CsvLogTest, HeaderListsOneColumnPerDevice) {
  struct Case {
    uint8_t kind;
    int32_t start, num;
    std::string columns;
  };
  for (const Case& c : {
           Case{0, 0, 10,
                ",DM00000,DM00001,DM00002,DM00003,DM00004,DM00005,DM00006,DM00007,DM00008,"
                "DM00009"},
           Case{0, 123456, 2, ",DM123456,DM123457"},
           Case{1, 7, 2, ",TM00007,TM00008"},
           // The digits are padded, not the sign, as -5 is "-0000" in the command.
           Case{0, -3, 2, ",DM-00003,DM-00002"},
           Case{0, 2147483647, 2, ",DM2147483647,DM2147483648"},
           Case{2, 100, 3, ""},
           Case{0, 100, 0, ""},
           Case{0, 100, -5, ""},
       }) {
    SCOPED_TRACE(c.columns);
    fs::remove(path_);
    Log().WriteHeaderRow(c.kind, c.start, c.num);
    EXPECT_EQ(Content(), "YYYY-MM-DD,HH:MM:SS" + c.columns + "\r\n");
  }
}

// The largest header streams out whole; one column more is refused before the file is touched,
// however large the count from the INI file.
TEST_F(CsvLogTest, HeaderUpToTheDeviceBoundIsWrittenWholeAndBeyondItRefused) {
  Log().WriteHeaderRow(0, 900000, CsvLog::kMaxHeaderDevices);
  const std::string content = Content();
  EXPECT_EQ(content.size(), 19u + 100000u * 9u + 2u);
  EXPECT_EQ(content.substr(content.size() - 20), ",DM999998,DM999999\r\n");
  EXPECT_EQ(content.find('\n'), content.size() - 1);
  for (const int32_t count : {CsvLog::kMaxHeaderDevices + 1, INT32_MAX}) {
    EXPECT_EQ(ErrorOf<Exception>([&] { Log().WriteHeaderRow(1, 0, count); }),
              "個数 " + std::to_string(count) + " は上限 100000 を超えています");
  }
  EXPECT_EQ(Content(), content);
  // Without a device code there are no columns to bound.
  Log().WriteHeaderRow(2, 0, INT32_MAX);
  EXPECT_EQ(Content(), content + "YYYY-MM-DD,HH:MM:SS\r\n");
}

// Whole rows go out in one append: the header only when asked or when the file is new or
// empty, and never glued to a torn one.
TEST_F(CsvLogTest, AppendRowsAddsHeaderWhenAskedOrFileEmpty) {
  const Values values{1, 65535};
  std::string rows;
  CsvLog::AppendRowText(rows, {2026, 12, 9, 0, 0, 1}, values, false);
  CsvLog::AppendRowText(rows, {2026, 12, 9, 0, 0, 2}, values, true);
  EXPECT_EQ(rows, "2026-12-09,00:00:01,1,-1\r\n2026-12-09,00:00:02,1,65535\r\n");
  std::string header;
  CsvLog::AppendHeaderText(header, 0, 100, 2);
  EXPECT_EQ(header, "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101\r\n");
  Log().AppendRows(header, false, rows, true);
  Log().AppendRows(header, false, rows, false);
  EXPECT_EQ(Content(), header + rows + rows);
  // The remains of an append cut off by a kill go before the next rows, never into a row.
  WriteFileText(path_, Content() + "2026-12-09,00:00:03,1,-");
  Log().AppendRows(header, true, rows, true);
  EXPECT_EQ(Content(), header + rows + rows + header + rows);
  WriteFileText(path_, "YYYY-MM-DD,HH:MM:");
  Log().AppendRows(header, false, rows, false);
  EXPECT_EQ(Content(), header + rows);
}

// Rows are appended to whatever the file holds; an unfinished row never swallows the next
// header or stamped row.
TEST_F(CsvLogTest, WritesAppendAndStartOnTheirOwnLine) {
  struct Case {
    const char* name;
    std::optional<std::string> before;
    std::function<void(CsvLog&)> write;
    std::string after;
  };
  const auto stamp = [](int second) { return "2004-01-10,09:05:0" + std::to_string(second); };
  for (const Case& c : {
           Case{"TwoCyclesGiveHeaderAndTwoRows", std::nullopt,
                [&](CsvLog& log) {
                  log.WriteHeaderRow(0, 100, 3);
                  log.AppendValues(stamp(8), Values{12, 65535, 300}, false);
                  log.EndRow();
                  log.AppendValues(stamp(9), Values{13, 65535, 301}, false);
                  log.EndRow();
                },
                "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101,DM00102\r\n2004-01-10,09:05:08,12,-1,300\r\n"
                "2004-01-10,09:05:09,13,-1,301\r\n"},
           Case{"ValuesWithoutStampContinueTheRow", std::nullopt,
                [&](CsvLog& log) {
                  log.AppendValues(stamp(8), Values{65535, 40000, 65413}, true);
                  log.AppendValues("", Values{40000, 1}, false);
                },
                "2004-01-10,09:05:08,65535,40000,65413,-25536,1"},
           Case{"MissingFileIsCreated", std::nullopt, [](CsvLog& log) { log.EndRow(); }, "\r\n"},
           Case{"EmptyFileGetsNoLeadingLineEnd", "",
                [](CsvLog& log) { log.WriteHeaderRow(2, 0, 1); }, "YYYY-MM-DD,HH:MM:SS\r\n"},
           Case{"ExistingFileIsNotTruncated", "earlier run\r\n",
                [](CsvLog& log) {
                  log.WriteHeaderRow(0, 1, 1);
                  log.WriteHeaderRow(1, 2, 1);
                },
                "earlier run\r\nYYYY-MM-DD,HH:MM:SS,DM00001\r\nYYYY-MM-DD,HH:MM:SS,TM00002\r\n"},
           Case{"HeaderAfterUnfinishedRow", std::nullopt,
                [&](CsvLog& log) {
                  log.AppendValues(stamp(8), Values{1, 2}, false);
                  log.WriteHeaderRow(0, 5, 1);
                },
                "2004-01-10,09:05:08,1,2\r\nYYYY-MM-DD,HH:MM:SS,DM00005\r\n"},
           Case{"StampedRowAfterUnfinishedRow", std::nullopt,
                [&](CsvLog& log) {
                  log.AppendValues(stamp(8), Values{1}, false);
                  log.AppendValues(stamp(9), Values{2}, false);
                  log.EndRow();
                },
                "2004-01-10,09:05:08,1\r\n2004-01-10,09:05:09,2\r\n"},
           Case{"FileLeftUnfinishedByAnotherWriter", "2004-01-09,23:59:59,7",
                [](CsvLog& log) { log.WriteHeaderRow(0, 0, 1); },
                "2004-01-09,23:59:59,7\r\nYYYY-MM-DD,HH:MM:SS,DM00000\r\n"},
           Case{"FinishedRowGetsNoExtraLineEnd", "2004-01-09,23:59:59,7\r\n",
                [&](CsvLog& log) { log.AppendValues(stamp(0), Values{8}, false); },
                "2004-01-09,23:59:59,7\r\n2004-01-10,09:05:00,8"},
       }) {
    SCOPED_TRACE(c.name);
    fs::remove(path_);
    if (c.before) WriteFileText(path_, *c.before);
    CsvLog log = Log();
    c.write(log);
    EXPECT_EQ(Content(), c.after);
  }
}

TEST_F(CsvLogTest, TwentyValuesFromThreeAppendsMakeOneRow) {
  Values values(20);
  for (uint16_t i = 0; i < 20; ++i) values[i] = static_cast<uint16_t>(i * 1000u);
  const std::span<const uint16_t> all(values);
  CsvLog log = Log();
  log.AppendValues("2004-01-10,09:05:08", all.subspan(0, 8), false);
  log.AppendValues("", all.subspan(8, 8), false);
  log.AppendValues("", all.subspan(16, 4), false);
  log.EndRow();
  EXPECT_EQ(Content(),
            "2004-01-10,09:05:08,0,1000,2000,3000,4000,5000,6000,7000,8000,9000,10000,11000,"
            "12000,13000,14000,15000,16000,17000,18000,19000\r\n");
}

TEST_F(CsvLogTest, UncreatableFileThrowsCreateErrorAndCreatesNothing) {
  WriteFileText(dir_ / "plain", "keep");
  fs::create_directory(path_);
  for (const fs::path& path :
       {dir_ / "no such dir" / "log.csv", dir_ / "plain" / "log.csv", path_}) {
    SCOPED_TRACE(path);
    CsvLog log(path.string());
    const std::string expected = "ファイル " + path.string() + " を作成できません";
    EXPECT_EQ(ErrorOf<Exception>([&] { log.WriteHeaderRow(0, 0, 1); }), expected);
    EXPECT_EQ(ErrorOf<Exception>([&] { log.AppendValues("x", {}, false); }), expected);
    EXPECT_EQ(ErrorOf<Exception>([&] { log.EndRow(); }), expected);
  }
  EXPECT_FALSE(fs::exists(dir_ / "no such dir"));
  EXPECT_EQ(ReadFileText(dir_ / "plain"), "keep");
  EXPECT_TRUE(fs::is_directory(path_));
}

TEST_F(CsvLogTest, DeletedFileIsCreatedAfreshByTheNextAppend) {
  CsvLog log = Log();
  log.AppendValues("2004-01-10,09:05:08", Values{1}, false);
  log.EndRow();
  ASSERT_TRUE(fs::remove(path_));
  log.AppendValues("2004-01-10,09:05:09", Values{2}, false);
  log.EndRow();
  EXPECT_EQ(Content(), "2004-01-10,09:05:09,2\r\n");
}

TEST_F(CsvLogTest, FullDeviceThrowsWriteError) {
  struct stat info {};
  if (::stat("/dev/full", &info) != 0 || !S_ISCHR(info.st_mode)) {
    GTEST_SKIP() << "/dev/full is not available";
  }
  CsvLog log("/dev/full");
  EXPECT_EQ(ErrorOf<Exception>([&] { log.EndRow(); }), "ファイル /dev/full に書き込めません");
  EXPECT_EQ(ErrorOf<Exception>([&] { log.WriteHeaderRow(0, 0, 3); }),
            "ファイル /dev/full に書き込めません");
}

// Every way of writing reports an error that the file system gives only at close.
TEST_F(CsvLogTest, WriteErrorFoundOnlyAtCloseIsReported) {
  CsvLog log = Log();
  const std::string expected = "ファイル " + path_.string() + " に書き込めません";
  // The logger's whole-row appends also say which step failed.
  const std::string detailed = expected + " (close: " + std::strerror(EIO) + ")";
  const std::tuple<const char*, std::function<void()>, std::string> writes[] = {
      {"header", [&] { log.WriteHeaderRow(0, 0, 2); }, expected},
      {"values", [&] { log.AppendValues("2004-01-10,09:05:08", Values{1}, false); }, expected},
      {"row end", [&] { log.EndRow(); }, expected},
      {"rows", [&] { log.AppendRows("H\r\n", false, "R\r\n", false); }, detailed},
      {"synced rows", [&] { log.AppendRows("H\r\n", true, "R\r\n", true); }, detailed},
  };
  for (const auto& [what, write, error] : writes) {
    SCOPED_TRACE(what);
    FailNextCloseOf(path_.string());
    EXPECT_EQ(ErrorOf<Exception>(write), error);
    EXPECT_FALSE(CloseFailurePending());
  }
}

// A new log is as readable as any new file: 0644 less the umask, never the process's 0666.
TEST_F(CsvLogTest, NewLogIsCreatedWithMode0644LessTheUmask) {
  for (const auto& [mask, mode] :
       std::initializer_list<std::pair<mode_t, fs::perms>>{{0, fs::perms(0644)},
                                                           {022, fs::perms(0644)},
                                                           {027, fs::perms(0640)},
                                                           {077, fs::perms(0600)}}) {
    SCOPED_TRACE(mask);
    fs::remove(path_);
    const mode_t saved = ::umask(mask);
    Log().EndRow();
    ::umask(saved);
    EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all, mode);
  }
}

TEST_F(CsvLogTest, FailedHeaderWriteLeavesTheFileAsItWasBefore) {
  const std::string earlier = "YYYY-MM-DD,HH:MM:SS,DM00000\r\n2004-01-10,09:05:08,1\r\n";
  WriteFileText(path_, earlier);
  // Room for the first pieces and part of the next, not for the whole header.
  EXPECT_EQ(
      ErrorUnderFileSizeCap(earlier.size() + 100000, [&] { Log().WriteHeaderRow(0, 0, 100000); }),
      "ファイル " + path_.string() + " に書き込めません");
  EXPECT_EQ(Content(), earlier);
}

// A row that starts with its stamp, and values that continue the row (whose append does not
// look at the file before writing): a write that fails half-way is cut back either way.
TEST_F(CsvLogTest, FailedRowWriteKeepsEarlierRowsAndAllowsLaterOnes) {
  for (const std::string stamp : {"2004-01-10,09:05:09", ""}) {
    SCOPED_TRACE(stamp.empty() ? "continued row" : "stamped row");
    const std::string earlier = "2004-01-10,09:05:08,1";  // an unfinished row
    WriteFileText(path_, earlier);
    EXPECT_EQ(ErrorUnderFileSizeCap(earlier.size() + 4,
                                    [&] {
                                      Log().AppendValues(stamp, Values{22, 33}, false);
                                    }),
              "ファイル " + path_.string() + " に書き込めません");
    EXPECT_EQ(Content(), earlier);
    Log().AppendValues(stamp, Values{4}, false);
    EXPECT_EQ(Content(), earlier + (stamp.empty() ? ",4" : "\r\n" + stamp + ",4"));
  }
}

}  // namespace
