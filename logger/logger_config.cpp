#include "logger/logger_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/profile_file.h"
#include "app/settings_store.h"

namespace {

// Readable as a file, not a folder: the profile rules would read either as empty.
bool Readable(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot read the config " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  if (!regular) *error = "cannot read the config " + path + ": not a regular file";
  return regular;
}

}  // namespace

std::optional<MonitorSettings> LoadLoggerConfig(const std::string& path, std::string* error) {
  if (!Readable(path, error)) return std::nullopt;
  const auto refuse = [&](const std::string& why) {
    *error = "config " + path + ": " + why;
    return std::nullopt;
  };
  const ProfileFile file(path);
  if (!file.HasKey("Setup", "IPAddress")) {
    return refuse("no IPAddress in section [Setup]; the logger polls only an address you chose");
  }
  const MonitorSettings s = SettingsStore::Load(file);
  if (s.IPAddress.empty()) return refuse("IPAddress is empty");
  if (s.PortNo < 1 || s.PortNo > 65535) {
    return refuse("PortNo " + std::to_string(s.PortNo) + " is not a port (1 to 65535)");
  }
  if (s.Interval < 0) return refuse("Interval " + std::to_string(s.Interval) + " is negative");
  if (s.TimeOut < 1) {
    return refuse("TimeOut " + std::to_string(s.TimeOut) +
                  " would never resend; it must be at least 1 ms");
  }
  if (s.DeviceName > 1) {
    return refuse("DeviceName " + std::to_string(s.DeviceName) + " is neither 0 (DM) nor 1 (TM)");
  }
  if (s.DeviceNum < 1) return refuse("DeviceNum " + std::to_string(s.DeviceNum) + " reads nothing");
  const int64_t last = int64_t{s.DeviceStart} + s.DeviceNum - 1;
  if (s.DeviceStart < 0 || last > kHighestDevice) {
    return refuse("devices " + std::to_string(s.DeviceStart) + " to " + std::to_string(last) +
                  " lie outside 0 to 99999, the numbers the read command can name");
  }
  return s;
}
