#include "bench/plain_log_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "monitor/log_format.h"

namespace {

constexpr size_t kDate = LogFormat::kDateLength;
constexpr size_t kStamp = LogFormat::kStampLength;

void FloorLine(const char* begin, const char* end, FloorColumns* columns) {
  if (end > begin && end[-1] == '\r') --end;
  if (end - begin < static_cast<std::ptrdiff_t>(kStamp)) return;
  if (*begin == LogFormat::kHeaderCaption.front()) {
    const size_t count = static_cast<size_t>(std::count(begin, end, ',')) - 1;
    if (columns->values.size() < count) columns->values.resize(count);
    return;
  }
  const auto number = [](const char* at, int width) {
    int value = 0;
    for (int i = 0; i < width; ++i) value = value * 10 + (at[i] - '0');
    return value;
  };
  // The day of the date "2004-01-10", then the time "09:05:08".
  const char* const time = begin + kDate + 1;
  columns->times.push_back(int64_t{number(begin + kDate - 2, 2)} * 86400 + number(time, 2) * 3600 +
                           number(time + 3, 2) * 60 + number(time + 6, 2));
  const char* at = begin + kStamp;
  for (size_t column = 0; at < end && column < columns->values.size(); ++column) {
    int32_t value = 0;
    const auto result = std::from_chars(at + 1, end, value);
    columns->values[column].push_back(value);
    at = result.ptr;
  }
}

}  // namespace

size_t FloorRead(const char* path, FloorColumns* columns) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return 0;
  std::vector<char> block(size_t{1} << 20);
  std::string carry;
  size_t got = 0;
  while ((got = std::fread(block.data(), 1, block.size(), file)) > 0) {
    const char* at = block.data();
    const char* end = at + got;
    while (at < end) {
      const char* feed =
          static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
      if (feed == nullptr) {
        carry.append(at, end);
        break;
      }
      if (carry.empty()) {
        FloorLine(at, feed, columns);
      } else {
        carry.append(at, feed);
        FloorLine(carry.data(), carry.data() + carry.size(), columns);
        carry.clear();
      }
      at = feed + 1;
    }
  }
  std::fclose(file);
  return columns->times.size();
}
