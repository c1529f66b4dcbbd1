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

bool LogFollower::Open(const QString& path, QString* error) {
  const QByteArray name = QFile::encodeName(path);
  struct stat info {};
  if (::stat(name.constData(), &info) != 0) {
    *error = tr("Cannot open %1: %2").arg(path, SystemError(errno));
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = tr("Cannot open %1: not a regular file").arg(path);
    return false;
  }
  if (FileDescriptor file(path); file.Get() < 0) {
    *error = tr("Cannot open %1: %2").arg(path, SystemError(errno));
    return false;
  }
  // What was open stays open when the new file cannot be read.
  Close();
  path_ = QFileInfo(path).absoluteFilePath();
  Restart({static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)}, info.st_size);
  SetFollowing(following_);
  return true;
}

void LogFollower::Close() {
  checkTimer_.stop();
  stepTimer_.stop();
  if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
  if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
  path_.clear();
  identity_ = {};
  offset_ = 0;
  missing_ = false;
  std::vector<char>().swap(buffer_);
}

void LogFollower::SetFollowing(bool following) {
  following_ = following;
  if (path_.isEmpty()) return;
  if (following_) {
    checkTimer_.start();
    Watch();
    Check();
  } else {
    checkTimer_.stop();
    if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
    if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
  }
}

void LogFollower::SetCheckIntervalMs(int ms) { checkTimer_.setInterval(std::max(ms, 1)); }

void LogFollower::Watch() {
  // The file's entry leaves the watcher when the file is deleted or renamed; its folder tells
  // when a file of that name appears again.
  const QFileInfo file(path_);
  if (!watcher_.directories().contains(file.absolutePath())) watcher_.addPath(file.absolutePath());
  if (!missing_ && !watcher_.files().contains(path_)) watcher_.addPath(path_);
}

void LogFollower::Check() {
  if (path_.isEmpty() || stepTimer_.isActive()) return;
  struct stat info {};
  if (::stat(QFile::encodeName(path_).constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
    if (!missing_) {
      missing_ = true;
      emit Missing();
    }
    return;
  }
  missing_ = false;
  if (following_) Watch();
  const Identity identity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  if (identity != identity_ || info.st_size < offset_) {
    Restart(identity, info.st_size);
  } else if (info.st_size > offset_) {
    ReadStep();
  }
}

void LogFollower::Restart(Identity identity, int64_t size) {
  identity_ = identity;
  offset_ = 0;
  parser_->Reset();
  parser_->ExpectBytes(static_cast<uint64_t>(std::max<int64_t>(size, 0)));
  emit Restarted();
  ReadStep();
}

void LogFollower::ReadStep() {
  const FileDescriptor file(path_);
  if (file.Get() < 0) return;  // gone since the last look: the next check says so
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) return;
  const Identity identity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  if (identity != identity_ || info.st_size < offset_) {
    // Replaced or cut between the look and the open: read it again from its start.
    Restart(identity, info.st_size);
    return;
  }
  const int64_t end = std::min<int64_t>(info.st_size, offset_ + kStepBytes);
  if (end <= offset_) return;
  if (buffer_.empty()) buffer_.resize(kReadBytes);
  bool failed = false;
  while (offset_ < end) {
    const auto want = static_cast<size_t>(std::min<int64_t>(end - offset_, kReadBytes));
    const ssize_t got = ::pread(file.Get(), buffer_.data(), want, offset_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      emit Failed(tr("Cannot read %1: %2").arg(path_, SystemError(errno)));
      failed = true;
      break;
    }
    if (got == 0) break;  // cut since the fstat: the next check reads it again
    parser_->Feed(std::string_view(buffer_.data(), static_cast<size_t>(got)));
    offset_ += got;
  }
  if (!failed && offset_ < info.st_size) stepTimer_.start();
  emit Read();
}
