#include "app/settings_store.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  fs::path Dir() const { return fs::path(dir_.path().toStdString()); }
  std::string IniPath() const { return (Dir() / "varnel.ini").string(); }

  MonitorSettings Load() const { return SettingsStore::Load(IniPath()); }
  MonitorSettings LoadText(const std::string& text) const {
    WriteFileText(IniPath(), text);
    return Load();
  }
  void CopyFixture() const {
    fs::copy_file(fs::path(VARNEL_TEST_DATA_DIR) / "old_settings.ini", IniPath());
  }

 private:
  QTemporaryDir dir_;
};

// The defaults with the changes that set makes.
MonitorSettings Defaults(const std::function<void(MonitorSettings&)>& set = {}) {
  MonitorSettings settings;
  settings.IPAddress = SettingsStore::kDefaultIPAddress;
  if (set) set(settings);
  return settings;
}

TEST_F(SettingsStoreTest, MissingFileOrEmptyPathGivesDefaultsAndCreatesNothing) {
  EXPECT_EQ(Load(), Defaults());
  EXPECT_EQ(SettingsStore::Load(""), Defaults());
  EXPECT_FALSE(fs::exists(IniPath()));
}

TEST_F(SettingsStoreTest, LoadReadsEachKeyByTheIntegerRuleWithoutRangeChecks) {
  struct Case {
    std::string text;
    MonitorSettings expected;
  };
  const std::string longAddress(1500, 'a');
  for (const Case& c : {
           Case{"[Setup]\nTimeOut=250\n", Defaults([](auto& s) { s.TimeOut = 250; })},
           Case{"[Setup]\nIPAddress=127.0.0.1\nPortNo=11\nInterval=12\nTimeOut=13\n"
                "DeviceName=1\nDeviceStart=15\nDeviceNum=16\nUnsigned=1\n",
                MonitorSettings{"127.0.0.1", 11, 12, 13, 1, 15, 16, 1}},
           // DeviceName keeps its low eight bits.
           Case{"[Setup]\nDeviceName=258\n", Defaults([](auto& s) { s.DeviceName = 2; })},
           Case{"[Setup]\nDeviceName=-1\n", Defaults([](auto& s) { s.DeviceName = 255; })},
           Case{"[Setup]\nDeviceName=256\n", Defaults()},
           Case{"[Setup]\nDeviceNum=500\nDeviceStart=-20\n", Defaults([](auto& s) {
                  s.DeviceNum = 500;
                  s.DeviceStart = -20;
                })},
           Case{"[Setup]\nIPAddress=" + longAddress + "\n",
                Defaults([&](auto& s) { s.IPAddress = longAddress.substr(0, 1023); })},
           Case{"[Setup]\nPortNo=abc\nInterval=99999999999\nTimeOut=-99999999999\n"
                "DeviceStart=  +42xyz\nDeviceNum=\nDeviceName=99999999999\n",
                MonitorSettings{SettingsStore::kDefaultIPAddress, 0, INT32_MAX, INT32_MIN, 255, 42,
                                0, 0}},
       }) {
    SCOPED_TRACE(c.text.substr(0, 60));
    EXPECT_EQ(LoadText(c.text), c.expected);
  }
}

TEST_F(SettingsStoreTest, NamesIgnoreCaseAndFirstSetupSectionWins) {
  CopyFixture();
  // Interval=7 is only in the later, duplicate [Setup].
  EXPECT_EQ(Load(), (MonitorSettings{"127.0.0.1", 9000, 1, 100, 2, -20, 500, 0}));
}

TEST_F(SettingsStoreTest, SaveIntoMissingFileWritesSetupWithEightKeysInOrder) {
  ASSERT_TRUE(SettingsStore::Save(IniPath(), Load()));
  EXPECT_EQ(ReadFileText(IniPath()),
            "[Setup]\nIPAddress=192.168.250.10\nPortNo=8501\nInterval=1\nTimeOut=100\n"
            "DeviceName=0\nDeviceStart=0\nDeviceNum=10\nUnsigned=0\n");
}

TEST_F(SettingsStoreTest, SavedSettingsLoadBackEqual) {
  const MonitorSettings settings{"127.0.0.1", 65535, 3600, 10000, 1, -20, 100, 1};
  ASSERT_TRUE(SettingsStore::Save(IniPath(), settings));
  EXPECT_EQ(Load(), settings);
}

TEST_F(SettingsStoreTest, SaveKeepsOtherSectionsCommentsAndUnknownKeys) {
  CopyFixture();
  MonitorSettings settings = Load();
  settings.PortNo = 9100;
  ASSERT_TRUE(SettingsStore::Save(IniPath(), settings));
  // DeviceName 258 was loaded as 2 and is written back so.
  EXPECT_EQ(ReadFileText(IniPath()),
            "; Varnel settings, edited by hand\n[Display]\nFontSize=12\nIPAddress=10.0.0.1\n\n"
            "[setup]\n; controller on the test bench\n  ipaddress = 127.0.0.1\nPORTNO=9100\n"
            "DeviceName=2\nComment=keep me\nDeviceStart=-20\nDeviceNum=500\nInterval=1\n"
            "TimeOut=100\nUnsigned=0\n\n[Setup]\nInterval=7\n\n"
            "[Extra]\nKey=Value ; not a comment\n");
  EXPECT_EQ(Load(), settings);
}

TEST_F(SettingsStoreTest, CrLfFileKeepsCrLfOnSave) {
  MonitorSettings settings = LoadText("; c\r\n[Setup]\r\nPortNo=9001\r\n");
  settings.PortNo = 9002;
  ASSERT_TRUE(SettingsStore::Save(IniPath(), settings));
  EXPECT_EQ(ReadFileText(IniPath()),
            "; c\r\n[Setup]\r\nPortNo=9002\r\nIPAddress=192.168.250.10\r\nInterval=1\r\n"
            "TimeOut=100\r\nDeviceName=0\r\nDeviceStart=0\r\nDeviceNum=10\r\nUnsigned=0\r\n");
}

TEST_F(SettingsStoreTest, CrOnlyFileKeepsEveryKeyAndIsRewrittenUnchanged) {
  const std::string text =
      "[Setup]\rIPAddress=127.0.0.1\rPortNo=11\rInterval=12\rTimeOut=13\rDeviceName=1\r"
      "DeviceStart=15\rDeviceNum=16\rUnsigned=1\r";
  const MonitorSettings settings = LoadText(text);
  EXPECT_EQ(settings, (MonitorSettings{"127.0.0.1", 11, 12, 13, 1, 15, 16, 1}));
  ASSERT_TRUE(SettingsStore::Save(IniPath(), settings));
  EXPECT_EQ(ReadFileText(IniPath()), text);
}

// What one start loads, its save must keep for the next start: a section line ended by CR
// alone, or a CR inside a value, read the same before and after the save.
TEST_F(SettingsStoreTest, SettingsSurviveSaveWhateverTheLineEnds) {
  const MonitorSettings changed{"127.0.0.1", 9000, 2, 300, 1, 40, 16, 1};
  for (const std::string& text :
       {std::string("; c\n[Setup\r"), std::string("[Setup]\nIPAddress=1.2.3.4\r5\nPortNo=7\n"),
        std::string("[Setup]\rPortNo=7\rUnsigned=1")}) {
    SCOPED_TRACE(text);
    const MonitorSettings loaded = LoadText(text);
    ASSERT_TRUE(SettingsStore::Save(IniPath(), loaded));
    EXPECT_EQ(Load(), loaded);
    ASSERT_TRUE(SettingsStore::Save(IniPath(), changed));
    EXPECT_EQ(Load(), changed);
    const std::string saved = ReadFileText(IniPath());
    EXPECT_EQ(saved.find("Setup"), saved.rfind("Setup")) << "one section only";
  }
}

TEST_F(SettingsStoreTest, SaveReplacesAtomicallyKeepingMode) {
  WriteFileText(IniPath(), "[Setup]\nPortNo=1\n");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(IniPath(), mode);
  ASSERT_TRUE(SettingsStore::Save(IniPath(), MonitorSettings{}));
  EXPECT_EQ(FileNamesIn(Dir()), std::set<std::string>{"varnel.ini"});
  EXPECT_EQ(fs::status(IniPath()).permissions() & fs::perms::all, mode);
}

TEST_F(SettingsStoreTest, SaveIntoMissingDirectoryFailsAndCreatesNothing) {
  const fs::path path = Dir() / "absent" / "varnel.ini";
  EXPECT_FALSE(SettingsStore::Save(path.string(), MonitorSettings{}));
  EXPECT_TRUE(FileNamesIn(Dir()).empty());
}

TEST(SettingsPathTest, ExtensionOfFileNameIsReplacedOrAdded) {
  for (const auto& [executable, ini] : std::initializer_list<std::pair<const char*, const char*>>{
           {"/x/varnel.bin", "/x/varnel.ini"},
           {"/x/varnel.tar.gz", "/x/varnel.tar.ini"},
           {"/opt/a.b/varnel", "/opt/a.b/varnel.ini"},
           {"varnel", "varnel.ini"},
           {"/x/.varnel", "/x/.varnel.ini"},  // a hidden file's leading dot is no extension
           {"", ""}}) {
    EXPECT_EQ(SettingsStore::SettingsPathFor(executable), ini) << executable;
  }
}

TEST(ExecutablePathTest, NamesTheRunningTestBinary) {
  const std::string path = SettingsStore::ExecutablePath();
  ASSERT_TRUE(fs::path(path).is_absolute()) << path;
  EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));
  EXPECT_EQ(fs::path(path).filename(), "app_tests");
}

}  // namespace
