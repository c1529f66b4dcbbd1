#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/clock.h"

// Converts the logs' local date and time stamps ("2004-01-10" and "09:05:08") to milliseconds
// since the epoch and back. The time zone's offset is looked up once a minute of stamps, so a
// day of one-second rows costs 1,440 look-ups rather than 86,400.
class LocalStamp {
 public:
  // False when either text is not a valid date "2004-01-10" or time "09:05:08" (second 60
  // allowed, as a clock stepping over a leap second writes it).
  bool ToMs(std::string_view date, std::string_view time, int64_t* ms);
  // "2004-01-10,09:05:08", as a log row starts.
  std::string Format(int64_t ms);

  static bool LooksLikeDate(std::string_view text);
  static bool LooksLikeTime(std::string_view text);

 private:
  int64_t parseKey_ = -1;
  int64_t parseBaseMs_ = 0;
  int64_t formatMinuteMs_ = -1;
  LocalDateTime formatMinute_;
};
