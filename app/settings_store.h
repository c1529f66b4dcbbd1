#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/monitor_settings.h"

class ProfileFile;

// The eight monitoring settings in section "Setup" of the INI file beside the executable.
class SettingsStore {
 public:
  // A private address, so an unconfigured program never talks to a host on the internet.
  static constexpr const char* kDefaultIPAddress = "192.168.250.10";

  // The executable's path with its file name's extension replaced by ".ini"; empty for an
  // empty path.
  static std::string SettingsPathFor(const std::string& executablePath);

  // The full path of the running executable; empty when it cannot be found.
  static std::string ExecutablePath();

  // The settings in the file; a missing file or key gives that key's default.
  static MonitorSettings Load(const std::string& iniPath);
  // The same from a file already read.
  static MonitorSettings Load(const ProfileFile& file);

  // The names of the integer keys of section [Setup], in their stored order.
  static std::vector<std::string_view> IntegerKeyNames();

  // Writes all eight keys in one atomic replace of the file; false when that failed.
  static bool Save(const std::string& iniPath, const MonitorSettings& settings);
};
