#include "app/settings_store.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "app/profile_file.h"

namespace {

constexpr const char* kSection = "Setup";
constexpr const char* kIPAddressKey = "IPAddress";
// A 1024-byte buffer with its terminating zero.
constexpr std::size_t kMaxIPAddressChars = 1023;

// A key's default is the value a MonitorSettings starts with, so each default is written once.
struct IntegerKey {
  const char* name;
  int32_t (*get)(const MonitorSettings&);
  void (*set)(MonitorSettings&, int32_t);
};

// The integer keys in the order they are read and written, after IPAddress.
const std::array<IntegerKey, 7> kIntegerKeys = {{
    {"PortNo", [](const MonitorSettings& s) { return s.PortNo; },
     [](MonitorSettings& s, int32_t v) { s.PortNo = v; }},
    {"Interval", [](const MonitorSettings& s) { return s.Interval; },
     [](MonitorSettings& s, int32_t v) { s.Interval = v; }},
    {"TimeOut", [](const MonitorSettings& s) { return s.TimeOut; },
     [](MonitorSettings& s, int32_t v) { s.TimeOut = v; }},
    // Only the low 8 bits of the device kind are kept, whatever the file holds.
    {"DeviceName", [](const MonitorSettings& s) { return int32_t{s.DeviceName}; },
     [](MonitorSettings& s, int32_t v) { s.DeviceName = static_cast<uint8_t>(v); }},
    {"DeviceStart", [](const MonitorSettings& s) { return s.DeviceStart; },
     [](MonitorSettings& s, int32_t v) { s.DeviceStart = v; }},
    {"DeviceNum", [](const MonitorSettings& s) { return s.DeviceNum; },
     [](MonitorSettings& s, int32_t v) { s.DeviceNum = v; }},
    {"Unsigned", [](const MonitorSettings& s) { return s.Unsigned; },
     [](MonitorSettings& s, int32_t v) { s.Unsigned = v; }},
}};

}  // namespace

std::string SettingsStore::SettingsPathFor(const std::string& executablePath) {
  if (executablePath.empty()) {
    return {};
  }
  std::filesystem::path path(executablePath);
  path.replace_extension(".ini");
  return path.string();
}

std::string SettingsStore::ExecutablePath() {
  std::error_code error;
  std::string path = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error) {
    return {};
  }
  // The link names a replaced executable with this suffix; its settings file is still the one
  // beside the original name.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted)) {
    path.resize(path.size() - kDeleted.size());
  }
  return path;
}

MonitorSettings SettingsStore::Load(const std::string& iniPath) {
  return Load(ProfileFile(iniPath));
}

std::vector<std::string_view> SettingsStore::IntegerKeyNames() {
  std::vector<std::string_view> names;
  for (const IntegerKey& key : kIntegerKeys) names.emplace_back(key.name);
  return names;
}

MonitorSettings SettingsStore::Load(const ProfileFile& file) {
  MonitorSettings settings;
  settings.IPAddress =
      file.ReadString(kSection, kIPAddressKey, kDefaultIPAddress, kMaxIPAddressChars);
  for (const IntegerKey& key : kIntegerKeys) {
    key.set(settings, file.ReadInteger(kSection, key.name, key.get(MonitorSettings{})));
  }
  return settings;
}

bool SettingsStore::Save(const std::string& iniPath, const MonitorSettings& settings) {
  ProfileFile::KeyValues keyValues;
  keyValues.emplace_back(kIPAddressKey, settings.IPAddress);
  for (const IntegerKey& key : kIntegerKeys) {
    keyValues.emplace_back(key.name, std::to_string(key.get(settings)));
  }
  return ProfileFile::WriteStrings(iniPath, kSection, keyValues);
}
