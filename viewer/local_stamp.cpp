#include "viewer/local_stamp.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include "monitor/log_format.h"

namespace {

constexpr int64_t kMinuteMs = 60'000;

int64_t FloorDiv(int64_t value, int64_t divisor) {
  const int64_t quotient = value / divisor;
  return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

}  // namespace

bool LocalStamp::LooksLikeDate(std::string_view text) {
  return LogFormat::HasShape(text, LogFormat::kDateShape);
}

bool LocalStamp::LooksLikeTime(std::string_view text) {
  return LogFormat::HasShape(text, LogFormat::kTimeShape);
}

bool LocalStamp::ToMs(std::string_view date, std::string_view time, int64_t* ms) {
  LocalDateTime t;
  if (!LogFormat::ReadStamp(date, time, &t)) return false;
  if (t.Hour > 23 || t.Minute > 59 || t.Second > 60) return false;
  const int64_t key =
      ((((int64_t{t.Year} * 100 + t.Month) * 100 + t.Day) * 100 + t.Hour) * 100) + t.Minute;
  if (key != parseKey_) {
    const QDate civilDate(t.Year, t.Month, t.Day);
    if (!civilDate.isValid()) return false;
    const QDateTime start(civilDate, QTime(t.Hour, t.Minute), Qt::LocalTime);
    if (!start.isValid()) return false;
    parseKey_ = key;
    parseBaseMs_ = start.toMSecsSinceEpoch();
  }
  *ms = parseBaseMs_ + int64_t{t.Second} * 1000;
  return true;
}

std::string LocalStamp::Format(int64_t ms) {
  const int64_t minuteMs = FloorDiv(ms, kMinuteMs) * kMinuteMs;
  if (minuteMs != formatMinuteMs_) {
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(minuteMs, Qt::LocalTime);
    const QDate date = start.date();
    const QTime time = start.time();
    formatMinute_ =
        LocalDateTime{date.year(), date.month(), date.day(), time.hour(), time.minute()};
    formatMinuteMs_ = minuteMs;
  }
  // Local offsets are whole minutes wherever this runs, so the seconds carry over as they are.
  LocalDateTime t = formatMinute_;
  t.Second = static_cast<int>((ms - minuteMs) / 1000);
  return LogFormat::Stamp(t);
}
