#include "base/posix_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

bool WriteAll(int fd, const char* data, std::size_t size, off_t* written) {
  while (size > 0) {
    const ssize_t count = ::write(fd, data, size);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (count == 0) {
      errno = ENOSPC;
      return false;
    }
    data += count;
    size -= static_cast<std::size_t>(count);
    if (written != nullptr) *written += count;
  }
  return true;
}

void SyncDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}
