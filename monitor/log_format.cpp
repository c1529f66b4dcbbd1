#include "monitor/log_format.h"

#include <charconv>
#include <cstdio>

namespace {

int Digits(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

}  // namespace

std::string LogFormat::FileName(const LocalDateTime& t) {
  char text[96];
  std::snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2d %2.2d-%2.2d-%2.2d.csv", t.Year, t.Month,
                t.Day, t.Hour, t.Minute, t.Second);
  return text;
}

std::string LogFormat::Stamp(const LocalDateTime& t) {
  std::string text;
  AppendStamp(text, t);
  return text;
}

void LogFormat::AppendStamp(std::string& out, const LocalDateTime& t) {
  char text[96];
  const int length = std::snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2d,%2.2d:%2.2d:%2.2d", t.Year,
                                   t.Month, t.Day, t.Hour, t.Minute, t.Second);
  out.append(text, static_cast<size_t>(length));
}

bool LogFormat::HasShape(std::string_view text, std::string_view shape) {
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == '9' ? !digit : text[i] != shape[i]) return false;
  }
  return true;
}

bool LogFormat::ReadStamp(std::string_view date, std::string_view time, LocalDateTime* t) {
  if (!HasShape(date, kDateShape) || !HasShape(time, kTimeShape)) return false;
  t->Year = Digits(date, 0, 4);
  t->Month = Digits(date, 5, 2);
  t->Day = Digits(date, 8, 2);
  t->Hour = Digits(time, 0, 2);
  t->Minute = Digits(time, 3, 2);
  t->Second = Digits(time, 6, 2);
  return true;
}

char* LogFormat::ValueFieldTo(char* out, uint16_t slot, bool unsignedValue) {
  *out = kSeparator;
  return FormatValueTo(out + 1, slot, unsignedValue);
}

void LogFormat::AppendValueField(std::string& out, int32_t value) {
  char text[16] = {kSeparator};
  const char* const end = std::to_chars(text + 1, text + sizeof text, value).ptr;
  out.append(text, static_cast<size_t>(end - text));
}

void LogFormat::AppendRow(std::string& out, const LocalDateTime& stamp,
                          std::span<const uint16_t> values, bool unsignedValues) {
  AppendStamp(out, stamp);
  for (const uint16_t value : values) {
    char text[kMaxValueFieldLength];
    const char* const end = ValueFieldTo(text, value, unsignedValues);
    out.append(text, static_cast<size_t>(end - text));
  }
  out += kLineEnd;
}
