#include "tests/monitor/close_failure.h"

#include <sys/stat.h>

#include <cerrno>
#include <optional>

extern "C" int __real_close(int fd);

namespace {
std::optional<std::string> g_path;

bool IsTarget(int fd) {
  struct stat open {};
  struct stat named {};
  return g_path && ::fstat(fd, &open) == 0 && ::stat(g_path->c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}
}  // namespace

void FailNextCloseOf(const std::string& path) { g_path = path; }

bool CloseFailurePending() { return g_path.has_value(); }

extern "C" int __wrap_close(int fd) {
  const bool hit = IsTarget(fd);
  const int result = __real_close(fd);
  if (!hit || result != 0) return result;
  g_path.reset();
  errno = EIO;
  return -1;
}
