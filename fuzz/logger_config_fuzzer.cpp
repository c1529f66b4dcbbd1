// The logger's config loading: arbitrary bytes as the config file. A config is either refused
// with one line that says why, or accepted as exactly what the monitor's rules read (of the file
// without a leading UTF-8 byte-order mark, which the logger alone skips), with an
// address, a port, a time-out that resends, and devices the read command names exactly as the
// header lists them.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "app/settings_store.h"
#include "fuzz/harness_support.h"
#include "logger/logger_config.h"
#include "monitor/csv_log.h"
#include "monitor/read_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = (ScratchFolder("logger_config_fuzzer") / "line1.ini").string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::string error;
  const auto settings = LoadLoggerConfig(path, &error);
  if (!settings) {
    if (error.empty() || error.find('\n') != std::string::npos) Fail("refused without one line");
    return 0;
  }
  if (!error.empty()) Fail("accepted with an error: " + error);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  static const std::string plain = (ScratchFolder("logger_config_fuzzer") / "plain.ini").string();
  {
    std::ofstream out(plain, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  if (!(*settings == SettingsStore::Load(plain))) Fail("not what the monitor's rules read");
  const MonitorSettings& s = *settings;
  if (s.IPAddress.empty() || s.PortNo < 1 || s.PortNo > 65535 || s.Interval < 0 || s.TimeOut < 1 ||
      s.DeviceName > 1 || s.DeviceNum < 1 || s.DeviceStart < 0 ||
      int64_t{s.DeviceStart} + s.DeviceNum - 1 > kHighestDevice) {
    Fail("accepted a config the logger cannot run");
  }
  // Each device's number field in the command is its header column, digit for digit.
  for (const int32_t device : {s.DeviceStart, s.DeviceStart + s.DeviceNum - 1}) {
    const ReadCommand command = BuildReadCommand(s.DeviceName, device, 1);
    if (std::string(command.data() + 6, 5) != FormatDeviceNumber(device)) {
      Fail("the command names another device than the header");
    }
  }
  std::string header;
  CsvLog::AppendHeaderText(header, s.DeviceName, s.DeviceStart, s.DeviceNum);
  return 0;
}
