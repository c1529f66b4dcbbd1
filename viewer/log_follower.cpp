#include "viewer/log_follower.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "viewer/log_parser.h"

namespace {

constexpr size_t kReadBytes = size_t{1} << 20;

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// The descriptor of an open file, closed when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    do {
      fd_ = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
  }
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace

LogFollower::LogFollower(LogParser* parser, QObject* parent) : QObject(parent), parser_(parser) {
  checkTimer_.setInterval(kDefaultCheckIntervalMs);
  connect(&checkTimer_, &QTimer::timeout, this, &LogFollower::Check);
  stepTimer_.setSingleShot(true);
  stepTimer_.setInterval(0);
  connect(&stepTimer_, &QTimer::timeout, this, &LogFollower::ReadStep);
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &LogFollower::Check);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &LogFollower::Check);
}

LogFollower::~LogFollower() = default;

namespace {

// The identity and size of a readable regular file, or false with the reason in *error.
bool LookAt(const QString& path, struct stat* info, QString* error) {
  if (::stat(QFile::encodeName(path).constData(), info) != 0) {
    *error = LogFollower::tr("Cannot open %1: %2").arg(path, SystemError(errno));
    return false;
  }
  if (!S_ISREG(info->st_mode)) {
    *error = LogFollower::tr("Cannot open %1: not a regular file").arg(path);
    return false;
  }
  if (FileDescriptor file(path); file.Get() < 0) {
    *error = LogFollower::tr("Cannot open %1: %2").arg(path, SystemError(errno));
    return false;
  }
  return true;
}

}  // namespace

bool LogFollower::Open(const QString& path, QString* error) {
  return Open(QStringList{path}, error);
}

bool LogFollower::Open(const QStringList& paths, QString* error) {
  if (paths.isEmpty()) {
    *error = tr("No file to open");
    return false;
  }
  QStringList files;
  for (const QString& path : paths) {
    struct stat info {};
    if (!LookAt(path, &info, error)) return false;
    files.append(QFileInfo(path).absoluteFilePath());
  }
  // What was open stays open when a new file cannot be read.
  Close();
  files_ = files;
  Restart();
  SetFollowing(following_);
  return true;
}

void LogFollower::Extend(const QStringList& newer) {
  if (files_.isEmpty() || newer.isEmpty()) return;
  Unwatch();
  for (const QString& path : newer) files_.append(QFileInfo(path).absoluteFilePath());
  if (following_) Watch();
  // The file followed until now ends where it is: the next step reads its rest, then moves on.
  if (!stepTimer_.isActive()) stepTimer_.start();
}

void LogFollower::Close() {
  checkTimer_.stop();
  stepTimer_.stop();
  Unwatch();
  files_.clear();
  current_ = 0;
  identityKnown_ = false;
  identity_ = {};
  offset_ = 0;
  missing_ = false;
  std::vector<char>().swap(buffer_);
}

void LogFollower::SetFollowing(bool following) {
  following_ = following;
  if (files_.isEmpty()) return;
  if (following_) {
    checkTimer_.start();
    Watch();
    Check();
  } else {
    checkTimer_.stop();
    Unwatch();
  }
}

void LogFollower::SetCheckIntervalMs(int ms) { checkTimer_.setInterval(std::max(ms, 1)); }

void LogFollower::Watch() {
  // The file's entry leaves the watcher when the file is deleted or renamed; its folder tells
  // when a file of that name appears again, or a newer log.
  const QFileInfo file(Path());
  if (!watcher_.directories().contains(file.absolutePath())) watcher_.addPath(file.absolutePath());
  if (!missing_ && !watcher_.files().contains(Path())) watcher_.addPath(Path());
}

void LogFollower::Unwatch() {
  if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
  if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
}

void LogFollower::Check() {
  if (files_.isEmpty() || stepTimer_.isActive()) return;
  CheckFile();
  emit Checked();
}

void LogFollower::CheckFile() {
  if (!Reading()) return;
  struct stat info {};
  if (::stat(QFile::encodeName(files_[current_]).constData(), &info) != 0 ||
      !S_ISREG(info.st_mode)) {
    if (LastFile() && !missing_) {
      missing_ = true;
      emit Missing();
    } else if (!LastFile()) {
      stepTimer_.start();  // an older file gone: the step moves past it
    }
    return;
  }
  missing_ = false;
  if (following_) Watch();
  const Identity identity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  if ((identityKnown_ && identity != identity_) || info.st_size < offset_) {
    Restart();
  } else if (info.st_size > offset_ || !LastFile()) {
    ReadStep();
  }
}

void LogFollower::Restart() {
  current_ = 0;
  identityKnown_ = false;
  offset_ = 0;
  uint64_t total = 0;
  for (const QString& path : files_) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
      total += static_cast<uint64_t>(std::max<int64_t>(info.st_size, 0));
    }
  }
  parser_->Reset();
  parser_->ExpectBytes(total);
  emit Restarted();
  ReadStep();
}

void LogFollower::ReadStep() {
  int64_t budget = kStepBytes;
  bool more = false;
  while (Reading() && budget > 0) {
    const FileDescriptor file(files_[current_]);
    struct stat info {};
    if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0) {
      // The followed file gone since the last look: the next check says so. An older one is
      // passed over, what it held lost with it.
      if (LastFile()) break;
      emit Failed(tr("Cannot read %1: %2").arg(files_[current_], SystemError(errno)));
      parser_->FinishFile();
      ++current_;
      identityKnown_ = false;
      offset_ = 0;
      continue;
    }
    const Identity identity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    if ((identityKnown_ && identity != identity_) || info.st_size < offset_) {
      // Replaced or cut between the look and the open: read it all again from the start.
      Restart();
      return;
    }
    identity_ = identity;
    identityKnown_ = true;
    const int64_t end = std::min<int64_t>(info.st_size, offset_ + budget);
    if (end > offset_ && buffer_.empty()) buffer_.resize(kReadBytes);
    bool failed = false;
    while (offset_ < end) {
      const auto want = static_cast<size_t>(std::min<int64_t>(end - offset_, kReadBytes));
      const ssize_t got = ::pread(file.Get(), buffer_.data(), want, offset_);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        emit Failed(tr("Cannot read %1: %2").arg(files_[current_], SystemError(errno)));
        failed = true;
        break;
      }
      if (got == 0) break;  // cut since the fstat: the next check reads it again
      parser_->Feed(std::string_view(buffer_.data(), static_cast<size_t>(got)));
      offset_ += got;
      budget -= got;
      bytesRead_ += static_cast<uint64_t>(got);
    }
    if (failed) break;
    if (offset_ < info.st_size) {
      more = offset_ == end;  // a short read waits for the next check
      break;
    }
    if (LastFile()) break;
    // An older file read to its end: on to the next one.
    parser_->FinishFile();
    ++current_;
    identityKnown_ = false;
    offset_ = 0;
    more = true;
  }
  if (more) stepTimer_.start();
  emit Read();
}
