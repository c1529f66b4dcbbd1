#include "app/profile_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <string>

#include "tests/app/ini_test_files.h"

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

// Lowers the process's file-size limit so that writes fail as on a full disk, and restores it.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
};

// --- Reading -------------------------------------------------------------------------------

using ProfileFileReadTest = ProfileFileTest;

TEST_F(ProfileFileReadTest, MissingFileGivesDefaults) {
  const ProfileFile file((Dir() / "absent.ini").string());
  EXPECT_EQ(file.ReadString("Setup", "IPAddress", "dflt", 1023), "dflt");
  EXPECT_EQ(file.ReadInteger("Setup", "PortNo", 8501), 8501);
}

TEST_F(ProfileFileReadTest, MissingSectionOrKeyGivesDefault) {
  const ProfileFile file = LoadText("[Other]\nPortNo=1\n[Setup]\nInterval=5\n");
  EXPECT_EQ(file.ReadInteger("Setup", "PortNo", 8501), 8501);
  EXPECT_EQ(file.ReadInteger("Absent", "Interval", 3), 3);
  EXPECT_EQ(file.ReadInteger("Setup", "Interval", 3), 5);
}

TEST_F(ProfileFileReadTest, SectionAndKeyNamesIgnoreCase) {
  const ProfileFile file = LoadText("[sEtUp]\nportno=9000\nIPADDRESS=10.1.2.3\n");
  EXPECT_EQ(file.ReadInteger("Setup", "PortNo", 0), 9000);
  EXPECT_EQ(file.ReadString("SETUP", "IpAddress", "", 1023), "10.1.2.3");
}

TEST_F(ProfileFileReadTest, NamesAndValuesAreTrimmedOfBlanksAndTabs) {
  const ProfileFile file = LoadText("  [ Setup ]  \n \tIPAddress \t=\t 10.0.0.1 x \t\nA=\n");
  EXPECT_EQ(file.ReadString("Setup", "IPAddress", "", 1023), "10.0.0.1 x");
  EXPECT_EQ(file.ReadString("Setup", "A", "dflt", 1023), "");
}

TEST_F(ProfileFileReadTest, FirstMatchingSectionAndKeyWin) {
  const ProfileFile file =
      LoadText("[Setup]\nPortNo=1\nportno=2\n[Other]\nInterval=9\n[SETUP]\nPortNo=3\nInterval=4\n");
  EXPECT_EQ(file.ReadInteger("Setup", "PortNo", 0), 1);
  EXPECT_EQ(file.ReadInteger("Setup", "Interval", 77), 77);
}

TEST_F(ProfileFileReadTest, KeysBelongOnlyToTheirSection) {
  const ProfileFile file = LoadText("PortNo=5\n[Other]\nPortNo=6\n[Setup]\nTimeOut=1\n");
  EXPECT_EQ(file.ReadInteger("Setup", "PortNo", 8501), 8501);
}

TEST_F(ProfileFileReadTest, CommentLinesAreNotKeys) {
  const ProfileFile file = LoadText("[Setup]\n;PortNo=1\n  ; Interval=2\nTimeOut=3\n");
  EXPECT_EQ(file.ReadInteger("Setup", "PortNo", 8501), 8501);
  EXPECT_EQ(file.ReadInteger("Setup", "Interval", 1), 1);
  EXPECT_EQ(file.ReadInteger("Setup", "TimeOut", 100), 3);
}

TEST_F(ProfileFileReadTest, CrLfFileReadsWithoutCarriageReturns) {
  const ProfileFile file = LoadText("[Setup]\r\nIPAddress=10.0.0.1\r\nPortNo=9000\r\n");
  EXPECT_EQ(file.ReadString("Setup", "IPAddress", "", 1023), "10.0.0.1");
  EXPECT_EQ(file.ReadInteger("Setup", "PortNo", 0), 9000);
}

TEST_F(ProfileFileReadTest, LastLineWithoutNewlineIsRead) {
  const ProfileFile file = LoadText("[Setup]\nPortNo=9000");
  EXPECT_EQ(file.ReadInteger("Setup", "PortNo", 0), 9000);
}

TEST_F(ProfileFileReadTest, StringIsCutToMaxCharacters) {
  const ProfileFile file = LoadText("[Setup]\nIPAddress=abcdefgh\n");
  EXPECT_EQ(file.ReadString("Setup", "IPAddress", "", 5), "abcde");
}

TEST_F(ProfileFileReadTest, IntegerOfPresentKeyUsesTheProfileRule) {
  const ProfileFile file = LoadText("[Setup]\nA=abc\nB=  +42xyz\nC=-20\nD=\n");
  EXPECT_EQ(file.ReadInteger("Setup", "A", 7), 0);
  EXPECT_EQ(file.ReadInteger("Setup", "B", 7), 42);
  EXPECT_EQ(file.ReadInteger("Setup", "C", 7), -20);
  EXPECT_EQ(file.ReadInteger("Setup", "D", 7), 0);
}

// --- Integer rule ----------------------------------------------------------------------------

TEST(ProfileIntegerTest, NumberAtStartWithOptionalSign) {
  EXPECT_EQ(ProfileFile::ParseInteger("8501"), 8501);
  EXPECT_EQ(ProfileFile::ParseInteger("-20"), -20);
  EXPECT_EQ(ProfileFile::ParseInteger("+42xyz"), 42);
  EXPECT_EQ(ProfileFile::ParseInteger(" \t12 34"), 12);
  EXPECT_EQ(ProfileFile::ParseInteger("007"), 7);
}

TEST(ProfileIntegerTest, NoDigitsGivesZero) {
  EXPECT_EQ(ProfileFile::ParseInteger("abc"), 0);
  EXPECT_EQ(ProfileFile::ParseInteger(""), 0);
  EXPECT_EQ(ProfileFile::ParseInteger("-"), 0);
  EXPECT_EQ(ProfileFile::ParseInteger("+-5"), 0);
  EXPECT_EQ(ProfileFile::ParseInteger("- 5"), 0);
  EXPECT_EQ(ProfileFile::ParseInteger("0x10"), 0);
}

TEST(ProfileIntegerTest, OutOfRangeClampsTo32Bits) {
  EXPECT_EQ(ProfileFile::ParseInteger("2147483647"), INT32_MAX);
  EXPECT_EQ(ProfileFile::ParseInteger("2147483648"), INT32_MAX);
  EXPECT_EQ(ProfileFile::ParseInteger("99999999999"), INT32_MAX);
  EXPECT_EQ(ProfileFile::ParseInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(ProfileFile::ParseInteger("-99999999999"), INT32_MIN);
  EXPECT_EQ(ProfileFile::ParseInteger(std::string(5000, '9')), INT32_MAX);
}

// --- Writing ---------------------------------------------------------------------------------

using ProfileFileWriteTest = ProfileFileTest;

TEST_F(ProfileFileWriteTest, NewFileGetsSectionAndKeysWithLf) {
  ASSERT_TRUE(Write({{"B", "2"}, {"A", "1"}}));
  EXPECT_EQ(ReadFileText(IniPath()), "[Setup]\nB=2\nA=1\n");
}

TEST_F(ProfileFileWriteTest, ExistingValueIsReplacedInPlace) {
  WriteFileText(IniPath(), "; c\n[setup]\n  portno = 1  \nInterval=2\n");
  ASSERT_TRUE(Write({{"PortNo", "9000"}}));
  EXPECT_EQ(ReadFileText(IniPath()), "; c\n[setup]\n  portno = 9000\nInterval=2\n");
}

TEST_F(ProfileFileWriteTest, OnlyFirstMatchingKeyIsReplaced) {
  WriteFileText(IniPath(), "[Setup]\nA=1\nA=2\n[Setup]\nA=3\n");
  ASSERT_TRUE(Write({{"A", "9"}}));
  EXPECT_EQ(ReadFileText(IniPath()), "[Setup]\nA=9\nA=2\n[Setup]\nA=3\n");
}

TEST_F(ProfileFileWriteTest, MissingKeyGoesAfterLastKeyOfItsSection) {
  WriteFileText(IniPath(), "[Setup]\nA=1\n; note\n\n[Other]\nX=1\n");
  ASSERT_TRUE(Write({{"B", "2"}, {"C", "3"}}));
  EXPECT_EQ(ReadFileText(IniPath()), "[Setup]\nA=1\nB=2\nC=3\n; note\n\n[Other]\nX=1\n");
}

TEST_F(ProfileFileWriteTest, MissingKeyOfEmptySectionGoesRightAfterHeader) {
  WriteFileText(IniPath(), "[Setup]\n\n[Other]\nX=1\n");
  ASSERT_TRUE(Write({{"A", "1"}}));
  EXPECT_EQ(ReadFileText(IniPath()), "[Setup]\nA=1\n\n[Other]\nX=1\n");
}

TEST_F(ProfileFileWriteTest, MissingSectionIsAppendedAtEnd) {
  WriteFileText(IniPath(), "; top\n[Other]\nX=1\n");
  ASSERT_TRUE(Write({{"A", "1"}}));
  EXPECT_EQ(ReadFileText(IniPath()), "; top\n[Other]\nX=1\n[Setup]\nA=1\n");
}

TEST_F(ProfileFileWriteTest, FileWithoutFinalNewlineGetsOneBeforeAppendedLines) {
  WriteFileText(IniPath(), "[Other]\nX=1");
  ASSERT_TRUE(Write({{"A", "1"}}));
  EXPECT_EQ(ReadFileText(IniPath()), "[Other]\nX=1\n[Setup]\nA=1\n");

  WriteFileText(IniPath(), "[Setup]\nX=1");
  ASSERT_TRUE(Write({{"A", "1"}}));
  EXPECT_EQ(ReadFileText(IniPath()), "[Setup]\nX=1\nA=1\n");
}

TEST_F(ProfileFileWriteTest, ReplacedLastLineKeepsHavingNoNewline) {
  WriteFileText(IniPath(), "[Setup]\nA=1");
  ASSERT_TRUE(Write({{"A", "2"}}));
  EXPECT_EQ(ReadFileText(IniPath()), "[Setup]\nA=2");
}

TEST_F(ProfileFileWriteTest, CrLfFileKeepsCrLfOnEveryLine) {
  WriteFileText(IniPath(), "; c\r\n[Setup]\r\nA=1\r\n\r\n[Other]\r\nX=1\r\n");
  ASSERT_TRUE(Write({{"A", "5"}, {"B", "6"}, {"Z", "7"}}, "Setup"));
  ASSERT_TRUE(Write({{"Q", "8"}}, "New"));
  EXPECT_EQ(ReadFileText(IniPath()),
            "; c\r\n[Setup]\r\nA=5\r\nB=6\r\nZ=7\r\n\r\n[Other]\r\nX=1\r\n[New]\r\nQ=8\r\n");
}

TEST_F(ProfileFileWriteTest, ValueWithLineBreakCannotInjectLines) {
  ASSERT_TRUE(Write({{"A", "1\n[Evil]\nB=2"}, {"C", "3\r\nD=4"}, {"E", "\rx"}}));
  EXPECT_EQ(ReadFileText(IniPath()), "[Setup]\nA=1\nC=3\nE=\n");
  const ProfileFile file(IniPath().string());
  EXPECT_EQ(file.ReadString("Evil", "B", "none", 1023), "none");
}

// --- Atomic replace --------------------------------------------------------------------------

using ProfileFileReplaceTest = ProfileFileTest;

TEST_F(ProfileFileReplaceTest, LeavesNoTemporaryFileAndKeepsMode) {
  WriteFileText(IniPath(), "[Setup]\nA=1\n");
  fs::permissions(IniPath(), fs::perms::owner_read | fs::perms::owner_write |
                                 fs::perms::group_read | fs::perms::others_read);
  ASSERT_TRUE(Write({{"A", "2"}}));
  EXPECT_EQ(FileNamesIn(Dir()), std::set<std::string>{"test.ini"});
  EXPECT_EQ(fs::status(IniPath()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
}

TEST_F(ProfileFileReplaceTest, NewFileModeFollowsUmask) {
  const mode_t saved = umask(027);
  const bool written = Write({{"A", "1"}});
  umask(saved);
  ASSERT_TRUE(written);
  EXPECT_EQ(fs::status(IniPath()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ProfileFileReplaceTest, TargetThatIsADirectoryFailsAndIsKept) {
  fs::create_directory(IniPath());
  EXPECT_FALSE(Write({{"A", "1"}}));
  EXPECT_TRUE(fs::is_directory(IniPath()));
  EXPECT_EQ(FileNamesIn(Dir()), std::set<std::string>{"test.ini"});
}

TEST_F(ProfileFileReplaceTest, EmptyPathFails) {
  EXPECT_FALSE(ProfileFile::WriteStrings("", "Setup", {{"A", "1"}}));
}

TEST_F(ProfileFileReplaceTest, FailedWriteKeepsOriginalAndRemovesTemporary) {
  const std::string original = "; keep\n[Setup]\nA=1\n";
  WriteFileText(IniPath(), original);
  bool written = true;
  {
    const FileSizeLimit limit(64);
    written = Write({{"A", std::string(1000, 'x')}});
  }
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadFileText(IniPath()), original);
  EXPECT_EQ(FileNamesIn(Dir()), std::set<std::string>{"test.ini"});
}

TEST_F(ProfileFileReplaceTest, SymbolicLinkIsKeptAndItsTargetUpdated) {
  const fs::path real = Dir() / "real.ini";
  WriteFileText(real, "[Setup]\nA=1\n");
  fs::create_symlink(real, IniPath());
  ASSERT_TRUE(Write({{"A", "2"}}));
  EXPECT_TRUE(fs::is_symlink(IniPath()));
  EXPECT_EQ(ReadFileText(real), "[Setup]\nA=2\n");
  EXPECT_EQ(FileNamesIn(Dir()), (std::set<std::string>{"real.ini", "test.ini"}));
}

}  // namespace
