#include "bench/plain_reply_append.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>

void AppendReplyPlainly(const char* fileName, const char* reply, size_t length, bool first,
                        bool last) {
  char text[1024];
  size_t used = 0;
  if (first) {
    const time_t now = std::time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    used += std::strftime(text, sizeof text, "%Y-%m-%d,%H:%M:%S", &local);
  }
  for (size_t offset = 0; offset + 6 <= length && used + 16 < sizeof text; offset += 6) {
    int value = 0;
    for (size_t i = offset; i < offset + 5; ++i) value = value * 10 + (reply[i] - '0');
    used += static_cast<size_t>(
        std::snprintf(text + used, sizeof text - used, ",%d", static_cast<int16_t>(value)));
  }
  if (last) {
    text[used++] = '\r';
    text[used++] = '\n';
  }
  const int file = ::open(fileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) return;
  if (::write(file, text, used) < 0) std::perror("floor write");
  ::close(file);
}
