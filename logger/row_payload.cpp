#include "logger/row_payload.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace {

constexpr std::size_t kStampLength = 19;  // YYYY-MM-DD,HH:MM:SS

bool Digits(std::string_view text, int* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc{} && end == text.data() + text.size();
}

bool Integer(std::string_view text) {
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

// Line protocol escapes commas, blanks and equals signs in tag values.
std::string TagValue(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == ',' || c == ' ' || c == '=') out += '\\';
    out += c;
  }
  return out;
}

// "2026-12-09T10:00:01+09:00" from a stamp already read and its UTC offset in seconds.
std::string IsoText(std::string_view stamp, int64_t offset) {
  const int64_t minutes = (offset < 0 ? -offset : offset) / 60;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', int(minutes / 60),
                int(minutes % 60));
  std::string text(stamp);
  text[10] = 'T';
  return text + zone;
}

}  // namespace

RowPayload::RowPayload(MqttConfig::Payload format, std::vector<std::string> devices,
                       std::string logger)
    : format_(format),
      devices_(std::move(devices)),
      measurement_("varnel,logger=" + TagValue(logger)) {}

bool RowPayload::ParseStamp(std::string_view s, int64_t* epoch, int64_t* offset) {
  if (s.size() != kStampLength || s[4] != '-' || s[7] != '-' || s[10] != ',' || s[13] != ':' ||
      s[16] != ':') {
    return false;
  }
  std::tm t{};
  if (!Digits(s.substr(0, 4), &t.tm_year) || !Digits(s.substr(5, 2), &t.tm_mon) ||
      !Digits(s.substr(8, 2), &t.tm_mday) || !Digits(s.substr(11, 2), &t.tm_hour) ||
      !Digits(s.substr(14, 2), &t.tm_min) || !Digits(s.substr(17, 2), &t.tm_sec)) {
    return false;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&t);
  if (seconds == static_cast<std::time_t>(-1)) return false;
  std::tm local{};
  localtime_r(&seconds, &local);
  *epoch = seconds;
  *offset = local.tm_gmtoff;
  return true;
}

std::string RowPayload::IsoStamp(std::string_view stamp) {
  int64_t epoch = 0;
  int64_t offset = 0;
  if (!ParseStamp(stamp, &epoch, &offset)) return {};
  return IsoText(stamp, offset);
}

std::string RowPayload::JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::optional<std::string> RowPayload::Make(std::string_view line, const std::string& file,
                                            uint64_t row, bool replay) const {
  if (line.size() < kStampLength) return std::nullopt;
  const std::string_view stamp = line.substr(0, kStampLength);
  int64_t epoch = 0;
  int64_t offset = 0;
  if (!ParseStamp(stamp, &epoch, &offset)) return std::nullopt;
  std::string_view rest = line.substr(kStampLength);
  std::string out;
  out.reserve(line.size() * 2 + 16 * devices_.size() + file.size() + 96);
  if (format_ == MqttConfig::Payload::kJson) {
    // The stamp is read once a row: each reading asks the time zone again.
    out += "{\"time\":\"";
    out += IsoText(stamp, offset);
    out += "\",\"file\":";
    out += JsonString(file);
    out += ",\"row\":";
    out += std::to_string(row);
    out += replay ? ",\"replay\":true" : ",\"replay\":false";
    out += ",\"values\":{";
  } else {
    out += measurement_;
    out += ' ';
  }
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (rest.empty() || rest[0] != ',') return std::nullopt;
    rest.remove_prefix(1);
    const std::size_t comma = rest.find(',');
    const std::string_view value = rest.substr(0, comma);
    if (!Integer(value)) return std::nullopt;
    rest.remove_prefix(value.size());
    if (format_ == MqttConfig::Payload::kJson) {
      if (i > 0) out += ',';
      out += '"';
      out += devices_[i];
      out += "\":";
      out += value;
    } else {
      if (i > 0) out += ',';
      out += devices_[i];
      out += '=';
      out += value;
      out += 'i';
    }
  }
  if (!rest.empty()) return std::nullopt;
  if (format_ == MqttConfig::Payload::kJson) {
    out += "}}";
  } else {
    out += ' ' + std::to_string(epoch) + "000000000";
  }
  return out;
}
