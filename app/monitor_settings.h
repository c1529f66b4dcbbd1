#pragma once

#include <cstdint>
#include <string>

// The eight monitoring settings, held by the main window for the life of the program. Values
// loaded from the INI file are used without range checks. The integers start at their defaults
// (what a missing key gives); the address's default is SettingsStore::kDefaultIPAddress.
struct MonitorSettings {
  std::string IPAddress;
  int32_t PortNo = 8501;
  int32_t Interval = 1;
  int32_t TimeOut = 100;
  uint8_t DeviceName = 0;
  int32_t DeviceStart = 0;
  int32_t DeviceNum = 10;
  int32_t Unsigned = 0;

  bool operator==(const MonitorSettings&) const = default;
};
