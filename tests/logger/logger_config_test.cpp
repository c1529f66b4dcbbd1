#include "logger/logger_config.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <string>

#include "tests/test_support.h"

namespace {

class LoggerConfigTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    const std::string path = dir_.filePath("line1.ini").toStdString();
    WriteFileText(path, text);
    return path;
  }
  QTemporaryDir dir_;
};

// Read by the monitor's rules: the defaults fill what the file leaves out.
TEST_F(LoggerConfigTest, MonitorRulesAndDefaults) {
  std::string error;
  const auto settings = LoadLoggerConfig(Write("[setup]\r\nipaddress = 127.0.0.1\r\n"), &error);
  ASSERT_TRUE(settings) << error;
  EXPECT_EQ(settings->IPAddress, "127.0.0.1");
  EXPECT_EQ(settings->PortNo, 8501);
  EXPECT_EQ(settings->Interval, 1);
  EXPECT_EQ(settings->TimeOut, 100);
  EXPECT_EQ(settings->DeviceNum, 10);
  const auto last = LoadLoggerConfig(
      Write("[Setup]\nIPAddress=plc\nDeviceName=1\nDeviceStart=99980\nDeviceNum=20\nInterval=0\n"),
      &error);
  ASSERT_TRUE(last) << error;
  EXPECT_EQ(last->DeviceName, 1);
  EXPECT_EQ(last->Interval, 0);
  // The highest values that still poll soundly, and a byte-order mark some editors write.
  const auto highest =
      LoadLoggerConfig(Write("\xEF\xBB\xBF[Setup]\nIPAddress=plc-7.line1\nPortNo=65535\nTimeOut=1\n"
                             "DeviceStart=99990\nDeviceNum=10\n"),
                       &error);
  ASSERT_TRUE(highest) << error;
  EXPECT_EQ(highest->IPAddress, "plc-7.line1");
  EXPECT_EQ(highest->PortNo, 65535);
  EXPECT_EQ(highest->TimeOut, 1);
  EXPECT_EQ(highest->DeviceStart + highest->DeviceNum - 1, 99999);
}

// What an unattended logger cannot run with is refused with one line that names it.
TEST_F(LoggerConfigTest, RefusesWhatCannotBeLoggedSoundly) {
  const struct {
    const char* keys;
    const char* names;
  } cases[] = {
      {"PortNo=8501", "no IPAddress"},
      {"IPAddress=", "IPAddress is empty"},
      {"IPAddress=127.0.0.1\nPortNo=0", "PortNo 0"},
      {"IPAddress=127.0.0.1\nPortNo=65536", "PortNo 65536"},
      {"IPAddress=127.0.0.1\nInterval=-1", "Interval -1"},
      {"IPAddress=127.0.0.1\nTimeOut=0", "TimeOut 0"},
      {"IPAddress=127.0.0.1\nDeviceName=2", "DeviceName 2"},
      {"IPAddress=127.0.0.1\nDeviceNum=0", "DeviceNum 0"},
      {"IPAddress=127.0.0.1\nDeviceStart=-1", "devices -1 to 8"},
      {"IPAddress=127.0.0.1\nDeviceStart=99990\nDeviceNum=11", "devices 99990 to 100000"},
      {"IPAddress=127.0.0.1\nDeviceStart=2147483647\nDeviceNum=2147483647", "devices 2147483647"},
      // Typos are not taken for numbers or hosts.
      {"IPAddress=127.0.0.1\nPortNo=526S6", "PortNo=526S6 is not a whole decimal number"},
      {"IPAddress=127.0.0.1\nTimeOut=", "TimeOut= is not a whole decimal number"},
      {"IPAddress=127.0.0.1\nInterval=1.5", "Interval=1.5 is not"},
      {"IPAddress=127.0.0.1\nDeviceNum=99999999999", "DeviceNum=99999999999 is not"},
      {"IPAddress=\"127.0.0.1\"", "IPAddress=\"127.0.0.1\" is neither"},
      {"IPAddress=127.0.0.300", "IPAddress=127.0.0.300 is neither"},
      {"IPAddress=127.0.0", "IPAddress=127.0.0 is neither"},
      {"IPAddress=010.0.0.1", "IPAddress=010.0.0.1 is neither"},
      {"IPAddress=plc one", "IPAddress=plc one is neither"},
      {"IPAddress=-plc", "IPAddress=-plc is neither"},
      {"IPAddress=127.0.0.1\nipaddress=127.0.0.2", "IPAddress is given twice"},
      // The system delivers the any-address to this host itself.
      {"IPAddress=0.0.0.0", "IPAddress=0.0.0.0 is no controller"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    std::string error;
    EXPECT_FALSE(LoadLoggerConfig(Write(std::string("[Setup]\n") + c.keys + "\n"), &error));
    EXPECT_NE(error.find(c.names), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST_F(LoggerConfigTest, MissingFileOrFolderIsUnreadable) {
  std::string error;
  EXPECT_FALSE(LoadLoggerConfig(dir_.filePath("none.ini").toStdString(), &error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  EXPECT_FALSE(LoadLoggerConfig(dir_.path().toStdString(), &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

}  // namespace
