#include "app/profile_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  fs::path Dir() const { return fs::path(dir_.path().toStdString()); }
  fs::path IniPath() const { return Dir() / "test.ini"; }

  ProfileFile LoadText(const std::string& text) const {
    WriteFileText(IniPath(), text);
    return ProfileFile(IniPath().string());
  }

  bool Write(const ProfileFile::KeyValues& keyValues, const std::string& section = "Setup") const {
    return ProfileFile::WriteStrings(IniPath().string(), section, keyValues);
  }

 private:
  QTemporaryDir dir_;
};

TEST_F(ProfileFileTest, ReadFindsFirstMatchingSectionAndKeyIgnoringCase) {
  struct Case {
    std::string text, section, key, expected;
  };
  for (const Case& c : {
           Case{"[Other]\nPortNo=1\n[Setup]\nInterval=5\n", "Setup", "PortNo", "dflt"},
           Case{"[Other]\nPortNo=1\n[Setup]\nInterval=5\n", "Absent", "Interval", "dflt"},
           Case{"[Other]\nPortNo=1\n[Setup]\nInterval=5\n", "Setup", "Interval", "5"},
           Case{"[sEtUp]\nportno=9000\nIPADDRESS=10.1.2.3\n", "SETUP", "IpAddress", "10.1.2.3"},
           Case{"  [ Setup ]  \n \tIPAddress \t=\t 10.0.0.1 x \t\n", "Setup", "IPAddress",
                "10.0.0.1 x"},
           Case{"[Setup]\nA=\n", "Setup", "A", ""},
           Case{"[Setup]\nPortNo=1\nportno=2\n[SETUP]\nPortNo=3\n", "Setup", "PortNo", "1"},
           Case{"[Setup]\nA=1\n[Other]\n[SETUP]\nInterval=4\n", "Setup", "Interval", "dflt"},
           Case{"PortNo=5\n[Other]\nPortNo=6\n[Setup]\nX=1\n", "Setup", "PortNo", "dflt"},
           Case{"[Setup]\n;PortNo=1\n  ; Interval=2\n", "Setup", "PortNo", "dflt"},
           Case{"[Setup]\n;PortNo=1\n  ; Interval=2\n", "Setup", "Interval", "dflt"},
           Case{"[Setup]\r\nIPAddress=10.0.0.1\r\nPortNo=9000\r\n", "Setup", "IPAddress",
                "10.0.0.1"},
           Case{"[Setup]\nPortNo=9000", "Setup", "PortNo", "9000"},
       }) {
    SCOPED_TRACE(c.text + " -> " + c.section + "/" + c.key);
    EXPECT_EQ(LoadText(c.text).ReadString(c.section, c.key, "dflt", 1023), c.expected);
  }
}

TEST(ProfileIntegerTest, LeadingNumberWithOptionalSignClampedTo32Bits) {
  struct Case {
    std::string text;
    int32_t expected;
  };
  for (const Case& c :
       {Case{"8501", 8501}, Case{"-20", -20}, Case{"+42xyz", 42}, Case{" \t12 34", 12},
        Case{"007", 7}, Case{"abc", 0}, Case{"", 0}, Case{"-", 0}, Case{"+-5", 0}, Case{"- 5", 0},
        Case{"0x10", 0}, Case{"2147483647", INT32_MAX}, Case{"2147483648", INT32_MAX},
        Case{"99999999999", INT32_MAX}, Case{"-2147483648", INT32_MIN},
        Case{"-99999999999", INT32_MIN}, Case{std::string(5000, '9'), INT32_MAX}}) {
    EXPECT_EQ(ProfileFile::ParseInteger(c.text), c.expected) << '"' << c.text.substr(0, 20) << '"';
  }
}

TEST_F(ProfileFileTest, WriteReplacesInPlaceOrInsertsKeepingEverythingElse) {
  struct Case {
    std::string before;
    ProfileFile::KeyValues keyValues;
    std::string after;
  };
  for (const Case& c : {
           Case{"", {{"B", "2"}, {"A", "1"}}, "[Setup]\nB=2\nA=1\n"},
           Case{"; c\n[setup]\n  portno = 1  \nInterval=2\n",
                {{"PortNo", "9000"}},
                "; c\n[setup]\n  portno = 9000\nInterval=2\n"},
           Case{"[Setup]\nA=1\nA=2\n[Setup]\nA=3\n",
                {{"A", "9"}},
                "[Setup]\nA=9\nA=2\n[Setup]\nA=3\n"},
           Case{"[Setup]\nA=1\n; note\n\n[Other]\nX=1\n",
                {{"B", "2"}, {"C", "3"}},
                "[Setup]\nA=1\nB=2\nC=3\n; note\n\n[Other]\nX=1\n"},
           Case{"[Setup]\n\n[Other]\nX=1\n", {{"A", "1"}}, "[Setup]\nA=1\n\n[Other]\nX=1\n"},
           Case{"; top\n[Other]\nX=1\n", {{"A", "1"}}, "; top\n[Other]\nX=1\n[Setup]\nA=1\n"},
           Case{"[Other]\nX=1", {{"A", "1"}}, "[Other]\nX=1\n[Setup]\nA=1\n"},
           Case{"[Setup]\nX=1", {{"A", "1"}}, "[Setup]\nX=1\nA=1\n"},
           Case{"[Setup]\nA=1", {{"A", "2"}}, "[Setup]\nA=2"},
           Case{"; c\r\n[Setup]\r\nA=1\r\n\r\n[Other]\r\nX=1\r\n",
                {{"A", "5"}, {"B", "6"}},
                "; c\r\n[Setup]\r\nA=5\r\nB=6\r\n\r\n[Other]\r\nX=1\r\n"},
           // A line break in a value must not inject lines.
           Case{"",
                {{"A", "1\n[Evil]\nB=2"}, {"C", "3\r\nD=4"}, {"E", "\rx"}},
                "[Setup]\nA=1\nC=3\nE=\n"},
       }) {
    SCOPED_TRACE(c.before);
    fs::remove(IniPath());
    if (!c.before.empty()) WriteFileText(IniPath(), c.before);
    ASSERT_TRUE(Write(c.keyValues));
    EXPECT_EQ(ReadFileText(IniPath()), c.after);
  }
}

// The reader and the writer split lines by one rule (LF, CR LF, lone CR), so what the reader
// takes for a section or a value is what the writer finds and replaces.
TEST_F(ProfileFileTest, LoneCrEndsALineForReaderAndWriterAlike) {
  struct Case {
    std::string before;
    std::string key, readBefore;
    ProfileFile::KeyValues keyValues;
    std::string after;
  };
  for (const Case& c : {
           // A last section line ended by CR alone is found, not appended a second time.
           Case{"[Other]\nX=1\n[Setup\r", "A", "dflt", {{"A", "1"}}, "[Other]\nX=1\n[Setup\rA=1\r"},
           Case{"[Setup]\r", "A", "dflt", {{"A", "1"}}, "[Setup]\rA=1\r"},
           // A CR inside a value ends it; the rest is a line of its own and is kept.
           Case{"[Setup]\nIPAddress=1.2.3.4\r5\n",
                "IPAddress",
                "1.2.3.4",
                {{"IPAddress", "9.9.9.9"}},
                "[Setup]\nIPAddress=9.9.9.9\r5\n"},
           // CR-only files keep every key and their CR line ends.
           Case{"[Setup]\rPortNo=9000\rInterval=5\r",
                "Interval",
                "5",
                {{"PortNo", "1"}, {"TimeOut", "7"}},
                "[Setup]\rPortNo=1\rInterval=5\rTimeOut=7\r"},
           Case{"; c\r[Setup]\rPortNo=9000",
                "PortNo",
                "9000",
                {{"PortNo", "2"}},
                "; c\r[Setup]\rPortNo=2"},
           // A new key takes the line end of the line it follows, so a lone CR never meets the
           // LF of an empty line after it and fuses with it into one CR LF.
           Case{
               "\r[setup]\n\nX", "A", "dflt", {{"A", "1"}, {"B", "2"}}, "\r[setup]\nA=1\nB=2\n\nX"},
           // Mixed line ends: each line keeps its own.
           Case{"[Setup]\r\nA=1\rB=2\n",
                "B",
                "2",
                {{"A", "3"}, {"B", "4"}},
                "[Setup]\r\nA=3\rB=4\n"},
       }) {
    SCOPED_TRACE(c.before);
    EXPECT_EQ(LoadText(c.before).ReadString("Setup", c.key, "dflt", 1023), c.readBefore);
    ASSERT_TRUE(Write(c.keyValues));
    EXPECT_EQ(ReadFileText(IniPath()), c.after);
    const ProfileFile reloaded(IniPath().string());
    for (const auto& [key, value] : c.keyValues) {
      EXPECT_EQ(reloaded.ReadString("Setup", key, "dflt", 1023), value) << key;
    }
  }
}

TEST_F(ProfileFileTest, CrLfFileGetsCrLfOnAppendedSection) {
  WriteFileText(IniPath(), "[Other]\r\nX=1\r\n");
  ASSERT_TRUE(Write({{"Q", "8"}}, "New"));
  EXPECT_EQ(ReadFileText(IniPath()), "[Other]\r\nX=1\r\n[New]\r\nQ=8\r\n");
}

TEST_F(ProfileFileTest, ReplaceLeavesNoTemporaryFileAndKeepsMode) {
  WriteFileText(IniPath(), "[Setup]\nA=1\n");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                         fs::perms::others_read;
  fs::permissions(IniPath(), mode);
  ASSERT_TRUE(Write({{"A", "2"}}));
  EXPECT_EQ(FileNamesIn(Dir()), std::set<std::string>{"test.ini"});
  EXPECT_EQ(fs::status(IniPath()).permissions() & fs::perms::all, mode);
}

TEST_F(ProfileFileTest, NewFileModeFollowsUmask) {
  const mode_t saved = umask(027);
  const bool written = Write({{"A", "1"}});
  umask(saved);
  ASSERT_TRUE(written);
  EXPECT_EQ(fs::status(IniPath()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ProfileFileTest, EmptyPathOrDirectoryTargetFailsAndIsKept) {
  EXPECT_FALSE(ProfileFile::WriteStrings("", "Setup", {{"A", "1"}}));
  fs::create_directory(IniPath());
  EXPECT_FALSE(Write({{"A", "1"}}));
  EXPECT_TRUE(fs::is_directory(IniPath()));
  EXPECT_EQ(FileNamesIn(Dir()), std::set<std::string>{"test.ini"});
}

TEST_F(ProfileFileTest, FailedWriteKeepsOriginalAndRemovesTemporary) {
  const std::string original = "; keep\n[Setup]\nA=1\n";
  WriteFileText(IniPath(), original);
  // A low file-size limit makes the write fail as on a full disk.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = saved;
  limit.rlim_cur = 64;
  setrlimit(RLIMIT_FSIZE, &limit);
  const bool written = Write({{"A", std::string(1000, 'x')}});
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadFileText(IniPath()), original);
  EXPECT_EQ(FileNamesIn(Dir()), std::set<std::string>{"test.ini"});
}

TEST_F(ProfileFileTest, SymbolicLinkIsKeptAndItsTargetUpdated) {
  const fs::path real = Dir() / "real.ini";
  WriteFileText(real, "[Setup]\nA=1\n");
  fs::create_symlink(real, IniPath());
  ASSERT_TRUE(Write({{"A", "2"}}));
  EXPECT_TRUE(fs::is_symlink(IniPath()));
  EXPECT_EQ(ReadFileText(real), "[Setup]\nA=2\n");
  EXPECT_EQ(FileNamesIn(Dir()), (std::set<std::string>{"real.ini", "test.ini"}));
}

}  // namespace
