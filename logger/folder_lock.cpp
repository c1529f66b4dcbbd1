#include "logger/folder_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include <cerrno>
#include <cstring>

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

FolderLock::Result FolderLock::Acquire(const std::string& directory, pid_t* holder,
                                       std::string* error) {
  directory_ = directory;
  const std::string path = directory + "/" + kFileName;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return Result::kFailed;
  }
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (::fcntl(fd, F_SETLK, &whole) != 0) {
    const int failure = errno;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool busy = (failure == EAGAIN || failure == EACCES) &&
                      ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    if (busy) {
      *holder = probe.l_pid;
      return Result::kBusy;
    }
    *error = "cannot lock " + path + ": " + std::strerror(failure);
    return Result::kFailed;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The lock holds all the same; only the note for people is missing.
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  return Result::kHeld;
}

bool FolderLock::Current() const {
  struct stat locked {};
  struct stat now {};
  const std::string path = directory_ + "/" + kFileName;
  return fd_ >= 0 && ::fstat(fd_, &locked) == 0 && ::stat(path.c_str(), &now) == 0 &&
         locked.st_dev == now.st_dev && locked.st_ino == now.st_ino;
}

FolderLock::Result FolderLock::Renew(pid_t* holder, std::string* error) {
  return Acquire(std::string(directory_), holder, error);
}
