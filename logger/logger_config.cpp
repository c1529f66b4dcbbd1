#include "logger/logger_config.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

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

bool EqualNames(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// A whole decimal number that fits 32 bits: the profile rule would read "526S6" as 526.
bool WholeNumber(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || text[0] == '-') {
    return false;
  }
  return negative ? -value >= INT32_MIN : value <= INT32_MAX;
}

// Four decimal octets of at most 255.
bool DottedQuad(std::string_view text) {
  int parts = 0;
  while (true) {
    const auto dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    int value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    // A leading zero would make the address octal to the system's parser.
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0') ||
        error != std::errc{} || end != part.data() + part.size() || value > 255) {
      return false;
    }
    ++parts;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts == 4;
}

// Letters, digits and hyphens in dot-separated labels of 1 to 63 characters, none starting or
// ending with a hyphen.
bool HostName(std::string_view text) {
  if (text.empty() || text.size() > 253) return false;
  while (true) {
    const auto dot = text.find('.');
    const std::string_view label = text.substr(0, dot);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-' ||
        !std::all_of(label.begin(), label.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) || c == '-';
        })) {
      return false;
    }
    if (dot == std::string_view::npos) return true;
    text.remove_prefix(dot + 1);
  }
}

// Only digits and dots: meant as an address, so it must be one.
bool LooksNumeric(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

}  // namespace

std::optional<MonitorSettings> LoadLoggerConfig(const std::string& path, std::string* error) {
  if (!Readable(path, error)) return std::nullopt;
  const auto refuse = [&](const std::string& why) {
    *error = "config " + path + ": " + why;
    return std::nullopt;
  };
  ProfileFile file(path);
  // Some editors start a UTF-8 file with a byte-order mark; it is not part of the first line.
  file.SkipByteOrderMark();
  // A typo must not be taken for a number or a host: each key once, integers whole.
  const ProfileFile::KeyValues entries = file.Entries("Setup");
  for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
    const auto again = std::find_if(
        entry + 1, entries.end(), [&](const auto& e) { return EqualNames(e.first, entry->first); });
    if (again != entries.end()) {
      return refuse(entry->first + " is given twice in section [Setup] (" + entry->second +
                    " and " + again->second + ")");
    }
  }
  for (const std::string_view name : SettingsStore::IntegerKeyNames()) {
    for (const auto& [key, value] : entries) {
      if (EqualNames(key, name) && !WholeNumber(value)) {
        return refuse(key + "=" + value + " is not a whole decimal number");
      }
    }
  }
  if (!file.HasKey("Setup", "IPAddress")) {
    return refuse("no IPAddress in section [Setup]; the logger polls only an address you chose");
  }
  const MonitorSettings s = SettingsStore::Load(file);
  if (s.IPAddress.empty()) return refuse("IPAddress is empty");
  if (LooksNumeric(s.IPAddress) ? !DottedQuad(s.IPAddress) : !HostName(s.IPAddress)) {
    return refuse("IPAddress=" + s.IPAddress + " is neither a dotted IPv4 address nor a host name");
  }
  if (::inet_addr(s.IPAddress.c_str()) == 0) {
    return refuse("IPAddress=" + s.IPAddress +
                  " is no controller: the system delivers it to this host itself");
  }
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
