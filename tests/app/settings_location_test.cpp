#include "app/settings_location.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <string>

#include "app/settings_store.h"
#include "tests/app/unprivileged_scope.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr fs::perms kReadOnlyFolder = fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec;
constexpr fs::perms kReadOnlyFile =
    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;

const std::string kSystemText = "[Setup]\nIPAddress=127.0.0.1\nPortNo=1001\n";
const std::string kUserText = "[Setup]\nIPAddress=127.0.0.2\nPortNo=2002\n";

// An installed program's folder ("bin", holding varnel.ini unless told otherwise) and a user's
// configuration folder ("config") in a temporary folder.
class SettingsLocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    fs::create_directory(Bin());
    fs::create_directory(Config());
  }

  fs::path Root() const { return fs::path(dir_.path().toStdString()); }
  fs::path Bin() const { return Root() / "bin"; }
  fs::path Config() const { return Root() / "config"; }
  std::string ExecutableIni() const { return (Bin() / "varnel.ini").string(); }
  std::string UserIni() const {
    return SettingsLocation::UserSettingsPath(Config().c_str(), nullptr);
  }
  void WriteUserIni(const std::string& text) const {
    fs::create_directories(fs::path(UserIni()).parent_path());
    WriteFileText(UserIni(), text);
  }

 private:
  QTemporaryDir dir_;
};

TEST(UserSettingsPathTest, XdgConfigHomeWhenAbsoluteElseHomeDotConfig) {
  struct Case {
    const char* xdgConfigHome;
    const char* home;
    std::string expected;
  };
  for (const Case& c : {
           Case{"/x/conf", "/home/u", "/x/conf/varnel/varnel.ini"},
           Case{nullptr, "/home/u", "/home/u/.config/varnel/varnel.ini"},
           Case{"", "/home/u", "/home/u/.config/varnel/varnel.ini"},
           // A relative XDG_CONFIG_HOME is ignored, as the XDG rules say.
           Case{"conf", "/home/u", "/home/u/.config/varnel/varnel.ini"},
           Case{nullptr, nullptr, ""},
           Case{nullptr, "relative", ""},
       }) {
    SCOPED_TRACE(std::string(c.xdgConfigHome ? c.xdgConfigHome : "(unset)") + " " +
                 (c.home ? c.home : "(unset)"));
    EXPECT_EQ(SettingsLocation::UserSettingsPath(c.xdgConfigHome, c.home), c.expected);
  }
}

// Which file is read and which is written, for each state of the two places. The choice only
// looks: neither folder gains or loses a file by it.
TEST_F(SettingsLocationTest, ExecutableIniWhenWritableElsePerUserFile) {
  enum class Read { kExecutable, kUser };
  struct Case {
    const char* name;
    bool executableIni;  // the file beside the executable exists
    bool readOnlyIni;    // ... and is read-only
    bool readOnlyBin;    // the executable's folder takes no new files
    bool userIni;        // the per-user file exists
    Read read;
    bool perUser;  // written to the per-user file
  };
  for (const Case& c : {
           Case{"writable, no file yet", false, false, false, true, Read::kExecutable, false},
           Case{"writable file, user file too", true, false, false, true, Read::kExecutable, false},
           Case{"read-only folder, no user file", true, false, true, false, Read::kExecutable,
                true},
           Case{"read-only folder, user file", true, false, true, true, Read::kUser, true},
           Case{"read-only folder, no file at all", false, false, true, false, Read::kExecutable,
                true},
           Case{"read-only file in a writable folder", true, true, false, true, Read::kUser, true},
       }) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Bin());
    fs::remove_all(Config());
    fs::create_directory(Bin());
    fs::create_directory(Config());
    if (c.executableIni) WriteFileText(ExecutableIni(), kSystemText);
    if (c.readOnlyIni) fs::permissions(ExecutableIni(), kReadOnlyFile);
    if (c.userIni) WriteUserIni(kUserText);
    if (c.readOnlyBin) fs::permissions(Bin(), kReadOnlyFolder);
    const auto before = FileNamesIn(Bin());
    {
      UnprivilegedScope scope(Root());
      const SettingsLocation location = SettingsLocation::Choose(ExecutableIni(), UserIni());
      EXPECT_EQ(location.LoadPath(), c.read == Read::kUser ? UserIni() : ExecutableIni());
      EXPECT_EQ(location.SavePath(), c.perUser ? UserIni() : ExecutableIni());
      EXPECT_EQ(location.PerUser(), c.perUser);
    }
    EXPECT_EQ(FileNamesIn(Bin()), before);
    fs::permissions(Bin(), fs::perms::owner_all);
  }
}

// The settings go through a symbolic link, so the folder of the link's target decides.
TEST_F(SettingsLocationTest, LinkIntoReadOnlyFolderIsNotWritable) {
  fs::create_directory(Root() / "etc");
  WriteFileText(Root() / "etc" / "varnel.ini", kSystemText);
  fs::create_symlink(Root() / "etc" / "varnel.ini", ExecutableIni());
  fs::permissions(Root() / "etc", kReadOnlyFolder);
  UnprivilegedScope scope(Root());
  EXPECT_FALSE(SettingsLocation::CanWrite(ExecutableIni()));
  EXPECT_TRUE(SettingsLocation::CanWrite((Bin() / "other.ini").string()));
  EXPECT_FALSE(SettingsLocation::CanWrite((Root() / "absent" / "varnel.ini").string()));
  EXPECT_FALSE(SettingsLocation::CanWrite(""));
}

// A user's first close makes the configuration folder and keeps the settings there; the next
// start reads them back; the system-wide file is never written.
TEST_F(SettingsLocationTest, ReadOnlyInstallKeepsSettingsPerUserAcrossRuns) {
  WriteFileText(ExecutableIni(), kSystemText);
  fs::permissions(Bin(), kReadOnlyFolder);
  fs::remove_all(Config());
  const MonitorSettings changed{"127.0.0.3", 3003, 2, 200, 1, 40, 16, 1};
  UnprivilegedScope scope(Root());
  const SettingsLocation first = SettingsLocation::Choose(ExecutableIni(), UserIni());
  EXPECT_EQ(SettingsStore::Load(first.LoadPath()).PortNo, 1001);
  ASSERT_TRUE(first.Save(changed));
  EXPECT_EQ(fs::status(fs::path(UserIni()).parent_path()).permissions() & fs::perms::all,
            fs::perms::owner_all);
  const SettingsLocation second = SettingsLocation::Choose(ExecutableIni(), UserIni());
  EXPECT_EQ(SettingsStore::Load(second.LoadPath()), changed);
  EXPECT_EQ(ReadFileText(ExecutableIni()), kSystemText);
  EXPECT_EQ(FileNamesIn(Bin()), std::set<std::string>{"varnel.ini"});
}

// Neither place can be written: the save fails quietly and nothing anywhere changes.
TEST_F(SettingsLocationTest, UnmakeableUserFolderLosesSettingsAndChangesNothing) {
  WriteFileText(ExecutableIni(), kSystemText);
  fs::permissions(Bin(), kReadOnlyFolder);
  fs::permissions(Config(), kReadOnlyFolder);
  {
    UnprivilegedScope scope(Root());
    const SettingsLocation location = SettingsLocation::Choose(ExecutableIni(), UserIni());
    EXPECT_EQ(location.LoadPath(), ExecutableIni());
    EXPECT_FALSE(location.Save(MonitorSettings{"127.0.0.4", 4004, 1, 100, 0, 0, 10, 0}));
    // No configuration folder at all.
    EXPECT_FALSE(SettingsLocation::Choose(ExecutableIni(), "").Save(MonitorSettings{}));
  }
  EXPECT_EQ(ReadFileText(ExecutableIni()), kSystemText);
  EXPECT_TRUE(FileNamesIn(Config()).empty());
  EXPECT_EQ(FileNamesIn(Bin()), std::set<std::string>{"varnel.ini"});
}

}  // namespace
