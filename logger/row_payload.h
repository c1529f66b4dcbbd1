#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logger/mqtt_config.h"

// One logged row as a message: JSON with its stamp, file, row number and values keyed by the
// header's device names, or a line of the line protocol. The values are the CSV's own text,
// so a subscriber sees exactly what was logged, signed or unsigned.
class RowPayload {
 public:
  RowPayload(MqttConfig::Payload format, std::vector<std::string> devices, std::string logger);

  // nullopt for a line that is not a row of these devices.
  std::optional<std::string> Make(std::string_view line, const std::string& file, uint64_t row,
                                  bool replay) const;

  // The stamp "YYYY-MM-DD,HH:MM:SS" as seconds since the epoch and the local UTC offset in
  // seconds at that moment.
  static bool ParseStamp(std::string_view stamp, int64_t* epoch, int64_t* offset);
  // "2026-12-09T10:00:01+09:00".
  static std::string IsoStamp(std::string_view stamp);
  // A JSON string literal, quotes included.
  static std::string JsonString(std::string_view text);

 private:
  MqttConfig::Payload format_;
  std::vector<std::string> devices_;
  std::string measurement_;  // "varnel,logger=NAME"
};
