#include "logger/mqtt_config.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "app/profile_file.h"

namespace {

constexpr const char* kSection = "MQTT";
constexpr std::size_t kMaxValue = 1023;

bool EqualNames(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool WholeNumber(std::string_view text, int32_t* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

// The whole file, or an error naming it; a password file may end with a line feed.
bool ReadSmallFile(const std::string& path, std::string* text, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text->append(buffer, std::size_t(got));
  const int readError = errno;
  ::close(fd);
  if (got < 0) {
    *error = std::strerror(readError);
    return false;
  }
  return true;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace

std::optional<MqttConfig> MqttConfig::Load(const std::string& path, std::string* error) {
  const auto refuse = [&](const std::string& why) {
    *error = "config " + path + ": " + why;
    return std::nullopt;
  };
  ProfileFile file(path);
  file.SkipByteOrderMark();
  MqttConfig c;
  c.LoggerName = std::filesystem::path(path).stem().string();
  if (!file.HasKey(kSection, "Host")) return c;
  const ProfileFile::KeyValues entries = file.Entries(kSection);
  for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
    const auto again = std::find_if(
        entry + 1, entries.end(), [&](const auto& e) { return EqualNames(e.first, entry->first); });
    if (again != entries.end()) {
      return refuse(entry->first + " is given twice in section [MQTT] (" + entry->second + " and " +
                    again->second + ")");
    }
  }
  const auto text = [&](const char* key, const std::string& fallback = {}) {
    return file.ReadString(kSection, key, fallback, kMaxValue);
  };
  const auto integer = [&](const char* key, int32_t fallback, int32_t low, int32_t high,
                           const char* what) -> std::optional<int32_t> {
    if (!file.HasKey(kSection, key)) return fallback;
    const std::string value = text(key);
    int32_t number = 0;
    if (!WholeNumber(value, &number) || number < low || number > high) {
      *error = "config " + path + ": " + key + "=" + value + " " + what;
      return std::nullopt;
    }
    return number;
  };

  c.Host = text("Host");
  if (c.Host.empty()) return refuse("Host is empty in section [MQTT]");
  c.CAFile = text("CAFile");
  c.CertFile = text("CertFile");
  c.KeyFile = text("KeyFile");
  const auto port =
      integer("Port", c.CAFile.empty() ? 1883 : 8883, 1, 65535, "is not a port (1 to 65535)");
  const auto qos = integer("QoS", 1, 0, 1, "is neither 0 nor 1");
  // The client library takes no keep-alive below 5 s.
  const auto keepAlive =
      integer("KeepAlive", 30, 5, 65535, "is not a keep-alive in seconds (5 to 65535)");
  if (!port || !qos || !keepAlive) return std::nullopt;
  c.Port = *port;
  c.QoS = *qos;
  c.KeepAlive = *keepAlive;

  const std::string format = text("Format", "json");
  if (EqualNames(format, "json")) {
    c.Format = Payload::kJson;
  } else if (EqualNames(format, "influx")) {
    c.Format = Payload::kInflux;
  } else {
    return refuse("Format=" + format + " is neither json nor influx");
  }
  c.Topic = text("Topic", "varnel/" + c.LoggerName);
  if (c.Topic.empty() || c.Topic.find_first_of("+#") != std::string::npos) {
    return refuse("Topic=" + c.Topic + " is no topic to publish to");
  }
  while (c.Topic.ends_with('/')) c.Topic.pop_back();
  c.ClientId = text("ClientId", "varnel-" + HostName() + "-" + c.LoggerName);
  if (c.ClientId.empty()) return refuse("ClientId is empty");
  c.Username = text("Username");

  std::string why;
  if (file.HasKey(kSection, "PasswordFile")) {
    const std::string passwordFile = text("PasswordFile");
    if (!ReadSmallFile(passwordFile, &c.Password, &why)) {
      return refuse("PasswordFile=" + passwordFile + " cannot be read: " + why);
    }
    while (!c.Password.empty() && (c.Password.back() == '\n' || c.Password.back() == '\r')) {
      c.Password.pop_back();
    }
  }
  if (!c.CertFile.empty() && c.CAFile.empty()) {
    return refuse("CertFile is given without CAFile, which turns TLS on");
  }
  if (c.CertFile.empty() != c.KeyFile.empty()) {
    return refuse("CertFile and KeyFile go together: give both or neither");
  }
  for (const auto& [key, value] : {std::pair<const char*, std::string>{"CAFile", c.CAFile},
                                   {"CertFile", c.CertFile},
                                   {"KeyFile", c.KeyFile}}) {
    std::string content;
    if (!value.empty() && !ReadSmallFile(value, &content, &why)) {
      return refuse(std::string(key) + "=" + value + " cannot be read: " + why);
    }
  }
  return c;
}
