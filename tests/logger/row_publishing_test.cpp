// The parts of publishing that need no broker: the [MQTT] section, the payloads, reading rows
// back from the logs and the kept position.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "logger/log_row_reader.h"
#include "logger/mqtt_config.h"
#include "logger/publish_position.h"
#include "logger/row_payload.h"
#include "tests/test_support.h"

namespace {

class RowPublishingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    folder_ = dir_.path().toStdString();
  }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = folder_ + "/" + name;
    WriteFileText(path, text);
    return path;
  }
  std::optional<MqttConfig> Load(const std::string& mqtt, std::string* error) {
    return MqttConfig::Load(Write("line1.ini", "[Setup]\nIPAddress=127.0.0.1\n" + mqtt), error);
  }

  QTemporaryDir dir_;
  std::string folder_;
};

TEST_F(RowPublishingTest, DefaultsFollowTheConfigNameAndTls) {
  std::string error;
  auto config = Load("[MQTT]\nPort=1\n", &error);  // no Host: nothing is published
  ASSERT_TRUE(config) << error;
  EXPECT_TRUE(config->Host.empty());
  config = Load("[mqtt]\nhost=broker.local\n", &error);
  ASSERT_TRUE(config) << error;
  EXPECT_EQ(config->Port, 1883);
  EXPECT_EQ(config->Topic, "varnel/line1");
  EXPECT_EQ(config->QoS, 1);
  EXPECT_EQ(config->Format, MqttConfig::Payload::kJson);
  EXPECT_EQ(config->KeepAlive, 30);
  EXPECT_TRUE(config->ClientId.starts_with("varnel-") && config->ClientId.ends_with("-line1"));
  Write("ca.pem", "x");
  Write("secret", "pass word\n");
  config = Load("[MQTT]\nHost=b\nCAFile=" + folder_ + "/ca.pem\nPasswordFile=" + folder_ +
                    "/secret\nFormat=Influx\nTopic=plant/a/\n",
                &error);
  ASSERT_TRUE(config) << error;
  EXPECT_EQ(config->Port, 8883);
  EXPECT_EQ(config->Password, "pass word");
  EXPECT_EQ(config->Format, MqttConfig::Payload::kInflux);
  EXPECT_EQ(config->Topic, "plant/a");
}

TEST_F(RowPublishingTest, ValuesThatCannotWorkAreRefusedNamingTheKey) {
  const struct {
    const char* section;
    const char* named;
  } cases[] = {
      {"Host=b\nPort=0\n", "Port=0"},
      {"Host=b\nPort=65536\n", "Port=65536"},
      {"Host=b\nPort=18s3\n", "Port=18s3"},
      {"Host=b\nQoS=2\n", "QoS=2"},
      {"Host=b\nFormat=xml\n", "Format=xml"},
      {"Host=b\nKeepAlive=1\n", "KeepAlive=1"},
      {"Host=b\nPasswordFile=/nonexistent/pw\n", "PasswordFile=/nonexistent/pw"},
      {"Host=b\nCAFile=/nonexistent/ca\n", "CAFile=/nonexistent/ca"},
      {"Host=b\nCAFile=/etc/hostname\nCertFile=/etc/hostname\n", "KeyFile"},
      {"Host=\n", "Host is empty"},
      {"Host=b\nTopic=a/#\n", "Topic=a/#"},
      {"Host=b\nhost=c\n", "given twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.section);
    std::string error;
    EXPECT_FALSE(Load(std::string("[MQTT]\n") + c.section, &error));
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST_F(RowPublishingTest, PayloadsCarryTheCsvValuesAsLogged) {
  ::setenv("TZ", "JST-9", 1);
  ::tzset();
  const RowPayload json(MqttConfig::Payload::kJson, {"DM00100", "DM00101"}, "line1");
  EXPECT_EQ(*json.Make("2026-12-09,10:00:01,123,-4", "2026-12-09 10-00-01.csv", 17, false),
            R"({"time":"2026-12-09T10:00:01+09:00","file":"2026-12-09 10-00-01.csv","row":17,)"
            R"("replay":false,"values":{"DM00100":123,"DM00101":-4}})");
  const RowPayload influx(MqttConfig::Payload::kInflux, {"DM00100", "DM00101"}, "line 1");
  EXPECT_EQ(*influx.Make("2026-12-09,10:00:01,123,65535", "f", 1, true),
            "varnel,logger=line\\ 1 DM00100=123i,DM00101=65535i 1796778001000000000");
  for (const char* bad : {"2026-12-09,10:00:01,123", "2026-12-09,10:00:01,1,2,3",
                          "2026-12-09,10:00:01,1,x", "YYYY-MM-DD,HH:MM:SS,DM00100,DM00101"}) {
    EXPECT_FALSE(json.Make(bad, "f", 1, false)) << bad;
  }
  ::unsetenv("TZ");
  ::tzset();
}

// Across files, headers skipped, rows numbered per file, up to an end; a removed file is
// reported with the first row not read, and reading goes on with the next.
TEST_F(RowPublishingTest, ReaderWalksTheLogsOldestFirstAndReportsARemovedFile) {
  const std::string header = "YYYY-MM-DD,HH:MM:SS,DM00001\r\n";
  Write("2026-01-01 00-00-00.csv", header + "2026-01-01,00:00:00,1\r\n2026-01-01,00:00:01,2\r\n");
  Write("2026-01-02 00-00-00.csv", header + "2026-01-02,00:00:00,3\r\n" + header +
                                       "2026-01-02,00:00:01,4\r\n2026-01-02,00:00:02,5\r");
  Write("2026-01-03 00-00-00.csv", header + "2026-01-03,00:00:00,6\r\n");
  LogRowReader reader(folder_, {"2026-01-01 00-00-00.csv", 0, 1},
                      LogPosition{"2026-01-03 00-00-00.csv", 0, 1});
  std::vector<std::string> lines;
  LogRowReader::Row row;
  while (reader.Next(&row) == LogRowReader::Result::kRow) {
    lines.push_back(row.Line + "@" + std::to_string(row.At.Row));
  }
  // The last line of the second file is unfinished: not a row.
  EXPECT_EQ(lines,
            (std::vector<std::string>{"2026-01-01,00:00:00,1@1", "2026-01-01,00:00:01,2@2",
                                      "2026-01-02,00:00:00,3@1", "2026-01-02,00:00:01,4@2"}));
  std::filesystem::remove(folder_ + "/2026-01-02 00-00-00.csv");
  LogRowReader after(folder_, {"2026-01-02 00-00-00.csv", 60, 2}, std::nullopt);
  std::string missing;
  after.OnMissing = [&](const std::string& file, uint64_t first) {
    missing = file + "#" + std::to_string(first);
  };
  ASSERT_EQ(after.Next(&row), LogRowReader::Result::kRow);
  EXPECT_EQ(missing, "2026-01-02 00-00-00.csv#2");
  EXPECT_EQ(row.Line, "2026-01-03,00:00:00,6");
  EXPECT_EQ(after.Next(&row), LogRowReader::Result::kWait);
}

TEST_F(RowPublishingTest, PositionSurvivesARoundTripAndIgnoresAStrangeFile) {
  const PublishPosition position(folder_);
  EXPECT_TRUE(position.Load().empty());
  // Filled in one by one: GCC 12 at -O2 takes the nested list for uninitialised strings.
  std::vector<PublishPosition::Stretch> saved(2);
  saved[0].From = {"2026-01-01 00-00-00.csv", 30, 2};
  saved[0].End = LogPosition{"2026-01-02 00-00-00.csv", 0, 1};
  saved[1].From = {"2026-01-02 00-00-00.csv", 99, 4};
  std::string error;
  ASSERT_TRUE(position.Save(saved, &error)) << error;
  const auto loaded = position.Load();
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].From.Row, 2u);
  EXPECT_TRUE(loaded[0].End && *loaded[0].End == *saved[0].End);
  EXPECT_TRUE(loaded[1].From == saved[1].From && !loaded[1].End);
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/.varnel-publish.new"));
  Write(PublishPosition::kFileName, "varnel-publish 1\nfrom 1\t1\t../../etc/passwd\n");
  EXPECT_TRUE(position.Load().empty());
}

}  // namespace
