#pragma once

#include <optional>
#include <string>

#include "app/monitor_settings.h"

// The highest device number the read command can name: its number field has five digits.
inline constexpr int32_t kHighestDevice = 99999;

// The monitor's settings from FILE, read by the monitor's rules, then checked for what a logger
// that nobody watches needs: an address somebody chose, a port, a time-out that resends, and a
// device range the command can name and the header can list. Refused with one line in *error.
std::optional<MonitorSettings> LoadLoggerConfig(const std::string& path, std::string* error);
