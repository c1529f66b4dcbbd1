#include "app/settings_store.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <string>

#include "tests/app/ini_test_files.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDefaultFileText =
    "[Setup]\n"
    "IPAddress=192.168.250.10\n"
    "PortNo=8501\n"
    "Interval=1\n"
    "TimeOut=100\n"
    "DeviceName=0\n"
    "DeviceStart=0\n"
    "DeviceNum=10\n"
    "Unsigned=0\n";

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  fs::path Dir() const { return fs::path(dir_.path().toStdString()); }
  fs::path IniPath() const { return Dir() / "varnel.ini"; }

  MonitorSettings LoadText(const std::string& text) const {
    WriteFileText(IniPath(), text);
    return SettingsStore::Load(IniPath().string());
  }

  void CopyFixture(const std::string& name) const {
    fs::copy_file(fs::path(VARNEL_TEST_DATA_DIR) / name, IniPath());
  }

 private:
  QTemporaryDir dir_;
};

// --- Loading ---------------------------------------------------------------------------------

using SettingsStoreLoadTest = SettingsStoreTest;

TEST_F(SettingsStoreLoadTest, MissingFileGivesDefaults) {
  const MonitorSettings settings = SettingsStore::Load(IniPath().string());
  EXPECT_EQ(settings.IPAddress, SettingsStore::kDefaultIPAddress);
  EXPECT_EQ(settings.PortNo, 8501);
  EXPECT_EQ(settings.Interval, 1);
  EXPECT_EQ(settings.TimeOut, 100);
  EXPECT_EQ(settings.DeviceName, 0);
  EXPECT_EQ(settings.DeviceStart, 0);
  EXPECT_EQ(settings.DeviceNum, 10);
  EXPECT_EQ(settings.Unsigned, 0);
  EXPECT_FALSE(fs::exists(IniPath()));
}

TEST_F(SettingsStoreLoadTest, EmptyPathGivesDefaults) {
  EXPECT_EQ(SettingsStore::Load(""), SettingsStore::Load(IniPath().string()));
}

TEST_F(SettingsStoreLoadTest, MissingKeysGiveTheirDefaults) {
  const MonitorSettings settings = LoadText("[Setup]\nTimeOut=250\n");
  EXPECT_EQ(settings.IPAddress, SettingsStore::kDefaultIPAddress);
  EXPECT_EQ(settings.PortNo, 8501);
  EXPECT_EQ(settings.TimeOut, 250);
  EXPECT_EQ(settings.DeviceNum, 10);
}

TEST_F(SettingsStoreLoadTest, EveryKeyIsReadIntoItsOwnField) {
  const MonitorSettings settings = LoadText(
      "[Setup]\nIPAddress=127.0.0.1\nPortNo=11\nInterval=12\nTimeOut=13\nDeviceName=1\n"
      "DeviceStart=15\nDeviceNum=16\nUnsigned=1\n");
  EXPECT_EQ(settings.IPAddress, "127.0.0.1");
  EXPECT_EQ(settings.PortNo, 11);
  EXPECT_EQ(settings.Interval, 12);
  EXPECT_EQ(settings.TimeOut, 13);
  EXPECT_EQ(settings.DeviceName, 1);
  EXPECT_EQ(settings.DeviceStart, 15);
  EXPECT_EQ(settings.DeviceNum, 16);
  EXPECT_EQ(settings.Unsigned, 1);
}

TEST_F(SettingsStoreLoadTest, DeviceNameKeepsLowEightBits) {
  EXPECT_EQ(LoadText("[Setup]\nDeviceName=258\n").DeviceName, 2);
  EXPECT_EQ(LoadText("[Setup]\nDeviceName=-1\n").DeviceName, 255);
  EXPECT_EQ(LoadText("[Setup]\nDeviceName=256\n").DeviceName, 0);
}

TEST_F(SettingsStoreLoadTest, LoadedValuesAreNotRangeChecked) {
  const MonitorSettings settings = LoadText("[Setup]\nDeviceNum=500\nDeviceStart=-20\n");
  EXPECT_EQ(settings.DeviceNum, 500);
  EXPECT_EQ(settings.DeviceStart, -20);
}

TEST_F(SettingsStoreLoadTest, LongIPAddressReadsAsItsFirst1023Characters) {
  const std::string address(1500, 'a');
  const std::string expected = address.substr(0, 1023);
  EXPECT_EQ(LoadText("[Setup]\nIPAddress=" + address + "\n").IPAddress, expected);
}

TEST_F(SettingsStoreLoadTest, GarbageAndHugeValuesLoadByTheIntegerRule) {
  const MonitorSettings settings = LoadText(
      "[Setup]\nPortNo=abc\nInterval=99999999999\nTimeOut=-99999999999\n"
      "DeviceStart=  +42xyz\nDeviceNum=\nDeviceName=99999999999\n");
  EXPECT_EQ(settings.PortNo, 0);
  EXPECT_EQ(settings.Interval, INT32_MAX);
  EXPECT_EQ(settings.TimeOut, INT32_MIN);
  EXPECT_EQ(settings.DeviceStart, 42);
  EXPECT_EQ(settings.DeviceNum, 0);
  EXPECT_EQ(settings.DeviceName, 255);
}

TEST_F(SettingsStoreLoadTest, NamesIgnoreCaseAndFirstSetupSectionWins) {
  CopyFixture("old_settings.ini");
  const MonitorSettings settings = SettingsStore::Load(IniPath().string());
  EXPECT_EQ(settings.IPAddress, "127.0.0.1");
  EXPECT_EQ(settings.PortNo, 9000);
  EXPECT_EQ(settings.Interval, 1);  // only the later, duplicate [Setup] sets it
  EXPECT_EQ(settings.TimeOut, 100);
  EXPECT_EQ(settings.DeviceName, 2);
  EXPECT_EQ(settings.DeviceStart, -20);
  EXPECT_EQ(settings.DeviceNum, 500);
  EXPECT_EQ(settings.Unsigned, 0);
}

// --- Saving ----------------------------------------------------------------------------------

using SettingsStoreSaveTest = SettingsStoreTest;

TEST_F(SettingsStoreSaveTest, SaveIntoMissingFileWritesSetupWithEightKeysInOrder) {
  ASSERT_TRUE(SettingsStore::Save(IniPath().string(), SettingsStore::Load(IniPath().string())));
  EXPECT_EQ(ReadFileText(IniPath()), kDefaultFileText);
}

TEST_F(SettingsStoreSaveTest, SavedSettingsLoadBackEqual) {
  MonitorSettings settings;
  settings.IPAddress = "127.0.0.1";
  settings.PortNo = 65535;
  settings.Interval = 3600;
  settings.TimeOut = 10000;
  settings.DeviceName = 1;
  settings.DeviceStart = -20;
  settings.DeviceNum = 100;
  settings.Unsigned = 1;
  ASSERT_TRUE(SettingsStore::Save(IniPath().string(), settings));
  EXPECT_EQ(SettingsStore::Load(IniPath().string()), settings);
}

TEST_F(SettingsStoreSaveTest, DeviceName258IsWrittenBackAsTwo) {
  const MonitorSettings settings = LoadText("[Setup]\nDeviceName=258\n");
  ASSERT_TRUE(SettingsStore::Save(IniPath().string(), settings));
  EXPECT_NE(ReadFileText(IniPath()).find("\nDeviceName=2\n"), std::string::npos);
  EXPECT_EQ(SettingsStore::Load(IniPath().string()).DeviceName, 2);
}

TEST_F(SettingsStoreSaveTest, NegativeDeviceStartAndLargeDeviceNumRoundTrip) {
  const MonitorSettings settings = LoadText("[Setup]\nDeviceStart=-20\nDeviceNum=500\n");
  ASSERT_TRUE(SettingsStore::Save(IniPath().string(), settings));
  const std::string text = ReadFileText(IniPath());
  EXPECT_NE(text.find("\nDeviceStart=-20\n"), std::string::npos);
  EXPECT_NE(text.find("\nDeviceNum=500\n"), std::string::npos);
  const MonitorSettings reloaded = SettingsStore::Load(IniPath().string());
  EXPECT_EQ(reloaded.DeviceStart, -20);
  EXPECT_EQ(reloaded.DeviceNum, 500);
}

TEST_F(SettingsStoreSaveTest, SaveKeepsOtherSectionsCommentsAndUnknownKeys) {
  CopyFixture("old_settings.ini");
  MonitorSettings settings = SettingsStore::Load(IniPath().string());
  settings.PortNo = 9100;
  ASSERT_TRUE(SettingsStore::Save(IniPath().string(), settings));
  EXPECT_EQ(ReadFileText(IniPath()),
            "; Varnel settings, edited by hand\n"
            "[Display]\n"
            "FontSize=12\n"
            "IPAddress=10.0.0.1\n"
            "\n"
            "[setup]\n"
            "; controller on the test bench\n"
            "  ipaddress = 127.0.0.1\n"
            "PORTNO=9100\n"
            "DeviceName=2\n"
            "Comment=keep me\n"
            "DeviceStart=-20\n"
            "DeviceNum=500\n"
            "Interval=1\n"
            "TimeOut=100\n"
            "Unsigned=0\n"
            "\n"
            "[Setup]\n"
            "Interval=7\n"
            "\n"
            "[Extra]\n"
            "Key=Value ; not a comment\n");
}

TEST_F(SettingsStoreSaveTest, CrLfFileKeepsCrLfOnSave) {
  MonitorSettings settings = LoadText("; c\r\n[Setup]\r\nPortNo=9001\r\n");
  settings.PortNo = 9002;
  ASSERT_TRUE(SettingsStore::Save(IniPath().string(), settings));
  EXPECT_EQ(ReadFileText(IniPath()),
            "; c\r\n[Setup]\r\nPortNo=9002\r\nIPAddress=192.168.250.10\r\nInterval=1\r\n"
            "TimeOut=100\r\nDeviceName=0\r\nDeviceStart=0\r\nDeviceNum=10\r\nUnsigned=0\r\n");
}

TEST_F(SettingsStoreSaveTest, SaveReplacesAtomicallyKeepingMode) {
  WriteFileText(IniPath(), "[Setup]\nPortNo=1\n");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(IniPath(), mode);
  ASSERT_TRUE(SettingsStore::Save(IniPath().string(), MonitorSettings{}));
  EXPECT_EQ(FileNamesIn(Dir()), std::set<std::string>{"varnel.ini"});
  EXPECT_EQ(fs::status(IniPath()).permissions() & fs::perms::all, mode);
}

TEST_F(SettingsStoreSaveTest, SaveIntoMissingDirectoryFailsAndCreatesNothing) {
  const fs::path path = Dir() / "absent" / "varnel.ini";
  EXPECT_FALSE(SettingsStore::Save(path.string(), MonitorSettings{}));
  EXPECT_FALSE(fs::exists(path.parent_path()));
  EXPECT_TRUE(FileNamesIn(Dir()).empty());
}

// --- Paths -----------------------------------------------------------------------------------

TEST(SettingsPathTest, ExtensionOfFileNameIsReplaced) {
  EXPECT_EQ(SettingsStore::SettingsPathFor("/x/varnel.bin"), "/x/varnel.ini");
  EXPECT_EQ(SettingsStore::SettingsPathFor("/x/varnel.tar.gz"), "/x/varnel.tar.ini");
}

TEST(SettingsPathTest, FileNameWithoutExtensionGetsOne) {
  EXPECT_EQ(SettingsStore::SettingsPathFor("/opt/a.b/varnel"), "/opt/a.b/varnel.ini");
  EXPECT_EQ(SettingsStore::SettingsPathFor("varnel"), "varnel.ini");
}

TEST(SettingsPathTest, LeadingDotOfHiddenFileIsNotAnExtension) {
  EXPECT_EQ(SettingsStore::SettingsPathFor("/x/.varnel"), "/x/.varnel.ini");
}

TEST(SettingsPathTest, EmptyPathGivesEmptyPath) {
  EXPECT_EQ(SettingsStore::SettingsPathFor(""), "");
}

TEST(ExecutablePathTest, NamesTheRunningTestBinary) {
  const std::string path = SettingsStore::ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(fs::path(path).is_absolute());
  EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));
  EXPECT_EQ(fs::path(path).filename(), "app_tests");
}

}  // namespace
