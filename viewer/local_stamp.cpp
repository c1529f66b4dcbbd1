#include "viewer/local_stamp.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <cstdio>

namespace {

constexpr int64_t kMinuteMs = 60'000;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int Digits(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

// Shape only: digits and separators at their places.
bool HasShape(std::string_view text, std::string_view shape) {
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == '9' ? !IsDigit(text[i]) : text[i] != shape[i]) return false;
  }
  return true;
}

int64_t FloorDiv(int64_t value, int64_t divisor) {
  const int64_t quotient = value / divisor;
  return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

}  // namespace

bool LocalStamp::LooksLikeDate(std::string_view text) { return HasShape(text, "9999-99-99"); }

bool LocalStamp::LooksLikeTime(std::string_view text) { return HasShape(text, "99:99:99"); }

bool LocalStamp::ToMs(std::string_view date, std::string_view time, int64_t* ms) {
  if (!LooksLikeDate(date) || !LooksLikeTime(time)) return false;
  const int year = Digits(date, 0, 4);
  const int month = Digits(date, 5, 2);
  const int day = Digits(date, 8, 2);
  const int hour = Digits(time, 0, 2);
  const int minute = Digits(time, 3, 2);
  const int second = Digits(time, 6, 2);
  if (hour > 23 || minute > 59 || second > 60) return false;
  const int64_t key = ((((int64_t{year} * 100 + month) * 100 + day) * 100 + hour) * 100) + minute;
  if (key != parseKey_) {
    const QDate civilDate(year, month, day);
    if (!civilDate.isValid()) return false;
    const QDateTime start(civilDate, QTime(hour, minute), Qt::LocalTime);
    if (!start.isValid()) return false;
    parseKey_ = key;
    parseBaseMs_ = start.toMSecsSinceEpoch();
  }
  *ms = parseBaseMs_ + int64_t{second} * 1000;
  return true;
}

std::string LocalStamp::Format(int64_t ms) {
  const int64_t minuteMs = FloorDiv(ms, kMinuteMs) * kMinuteMs;
  if (minuteMs != formatMinuteMs_) {
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(minuteMs, Qt::LocalTime);
    formatMinute_ = start.toString(QStringLiteral("yyyy-MM-dd,HH:mm:")).toStdString();
    formatMinuteMs_ = minuteMs;
  }
  // Local offsets are whole minutes wherever this runs, so the seconds carry over as they are.
  const int second = static_cast<int>((ms - minuteMs) / 1000);
  char seconds[8];
  std::snprintf(seconds, sizeof seconds, "%2.2d", second);
  return formatMinute_ + seconds;
}
