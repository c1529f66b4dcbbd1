#pragma once

#include <sys/types.h>
#include <string>

// One logger per output folder: a write lock on the file ".varnel-logger.lock" in it, held for
// the whole run and released by the system however the process ends. The file names the
// holder's process for people; the lock itself tells who holds it.
class FolderLock {
 public:
  enum class Result { kHeld, kBusy, kFailed };
  static constexpr const char* kFileName = ".varnel-logger.lock";

  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // kBusy: another process holds it, *holder says which. kFailed: *error says why.
  Result Acquire(const std::string& directory, pid_t* holder, std::string* error);

  // Whether the folder's lock file is still the one locked. A folder removed or renamed and
  // made again holds another lock file, or none, which a second logger could take.
  bool Current() const;
  // Locks the folder as it is now, keeping the old lock until the new one is held.
  Result Renew(pid_t* holder, std::string* error);

 private:
  std::string directory_;
  int fd_ = -1;
};
