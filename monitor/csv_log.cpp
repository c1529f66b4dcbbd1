#include "monitor/csv_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>
#include <utility>

#include "app/exception.h"
#include "monitor/read_command.h"

namespace {

// Text is handed to the file in pieces of about this size, so that a header for an absurd
// device count from the INI file never has to exist in memory as a whole.
constexpr size_t kWriteChunk = 64 * 1024;

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;  // no progress: give up rather than spin
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// One open-append-close of the log file.
class AppendSession {
 public:
  explicit AppendSession(const std::string& fileName) : fileName_(fileName) {
    // Read access only to look at the last byte (unfinished row); O_APPEND so every write
    // lands at the end, and no O_TRUNC: an existing log is never emptied.
    do {
      fd_ = ::open(fileName.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw Exception("ファイル " + fileName + " を作成できません");
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
      regular_ = true;
      sizeBefore_ = info.st_size;
    }
    buffer_.reserve(kWriteChunk + 64);
  }

  AppendSession(const AppendSession&) = delete;
  AppendSession& operator=(const AppendSession&) = delete;

  ~AppendSession() {
    if (fd_ >= 0) ::close(fd_);
  }

  // A stalled cycle leaves its row without a line end; the next header or stamped row must
  // not continue it. Taken from the file itself, so a file that was replaced, recreated or
  // written by an earlier run is judged by what it holds.
  void EndUnfinishedRow() {
    if (!regular_ || sizeBefore_ == 0) return;
    char last = '\n';
    ssize_t got = 0;
    do {
      got = ::pread(fd_, &last, 1, sizeBefore_ - 1);
    } while (got < 0 && errno == EINTR);
    if (got == 1 && last != '\n') Add("\r\n");
  }

  // A file that only ever receives whole rows ends inside one only when an append was cut off
  // (a kill between a short write and the cut back): those bytes were never a row anyone
  // counted, so they go.
  void DropUnfinishedRow() {
    if (!regular_ || sizeBefore_ == 0) return;
    char chunk[4096];
    off_t end = sizeBefore_;
    while (end > 0) {
      const off_t start = end > static_cast<off_t>(sizeof chunk) ? end - off_t{sizeof chunk} : 0;
      const ssize_t got = ::pread(fd_, chunk, static_cast<size_t>(end - start), start);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return;  // unreadable: leave the file as it is
      for (ssize_t i = got - 1; i >= 0; --i) {
        if (chunk[i] != '\n') continue;
        if (start + i + 1 == sizeBefore_) return;  // already at a line's end
        end = start + i + 1;
        Truncate(end);
        return;
      }
      end = start;
    }
    Truncate(0);
  }

  // `whole`: kept for the single write at Finish, so no piece of it reaches the file alone.
  void Add(std::string_view text, bool whole = false) {
    buffer_.append(text);
    if (!whole && buffer_.size() >= kWriteChunk) Flush();
  }

  bool Empty() const { return sizeBefore_ == 0; }

  void Finish(bool sync = false) {
    Flush();
    if (sync) Sync();
    const int fd = std::exchange(fd_, -1);
    // A failing close can mean the data never reached the disk; report it too.
    if (::close(fd) != 0 && errno != EINTR) ThrowWriteError();
  }

 private:
  // The data first, then, for a file that was new or empty, its directory entry, so that a
  // power cut cannot take the file's name away from rows already counted as written.
  void Sync() {
    if (::fdatasync(fd_) != 0) {
      CutBack();
      ThrowWriteError();
    }
    if (sizeBefore_ != 0) return;
    const size_t slash = fileName_.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : fileName_.substr(0, slash + 1);
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
  }

  void CutBack() {
    if (regular_) Truncate(sizeBefore_);
  }

  void Truncate(off_t size) {
    int result = 0;
    do {
      result = ::ftruncate(fd_, size);
    } while (result != 0 && errno == EINTR);
    if (result == 0) sizeBefore_ = size;
  }

  void Flush() {
    if (buffer_.empty()) return;
    if (!WriteAll(fd_, buffer_.data(), buffer_.size())) {
      // A full disk must not leave half a row that later rows would continue, and the lost
      // values must reach the operator: cut the file back to where this append began.
      CutBack();
      ::close(std::exchange(fd_, -1));
      ThrowWriteError();
    }
    buffer_.clear();
  }

  [[noreturn]] void ThrowWriteError() const {
    throw Exception("ファイル " + fileName_ + " に書き込めません");
  }

  const std::string& fileName_;
  int fd_ = -1;
  bool regular_ = false;
  off_t sizeBefore_ = 0;
  std::string buffer_;
};

// The header row's pieces, in order, CR LF included.
template <typename Emit>
void EmitHeader(uint8_t deviceName, int32_t deviceStart, int32_t deviceNum, Emit&& emit) {
  emit("YYYY-MM-DD,HH:MM:SS");
  const char* code = DeviceCode(deviceName);
  if (code != nullptr && deviceNum > 0) {
    // 64-bit: DeviceStart + DeviceNum from the INI file may lie beyond the 32-bit range.
    const int64_t end = int64_t{deviceStart} + deviceNum;
    for (int64_t device = deviceStart; device < end; ++device) {
      emit(",");
      emit(code);
      emit(FormatDeviceNumber(device));
    }
  }
  emit("\r\n");
}

void CheckHeaderSize(uint8_t deviceName, int32_t deviceNum) {
  if (DeviceCode(deviceName) != nullptr && deviceNum > CsvLog::kMaxHeaderDevices) {
    throw Exception("個数 " + std::to_string(deviceNum) + " は上限 " +
                    std::to_string(CsvLog::kMaxHeaderDevices) + " を超えています");
  }
}

template <typename Emit>
void EmitValues(std::span<const uint16_t> values, bool unsignedValues, Emit&& emit) {
  for (const uint16_t value : values) {
    emit(",");
    emit(FormatValue(value, unsignedValues));
  }
}

}  // namespace

CsvLog::CsvLog(std::string fileName) : fileName_(std::move(fileName)) {}

std::string CsvLog::MakeFileName(const LocalDateTime& t) {
  char text[96];
  std::snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2d %2.2d-%2.2d-%2.2d.csv", t.Year, t.Month,
                t.Day, t.Hour, t.Minute, t.Second);
  return text;
}

std::string CsvLog::MakeRowStamp(const LocalDateTime& t) {
  char text[96];
  std::snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2d,%2.2d:%2.2d:%2.2d", t.Year, t.Month, t.Day,
                t.Hour, t.Minute, t.Second);
  return text;
}

const std::string& CsvLog::FileName() const { return fileName_; }

void CsvLog::AppendHeaderText(std::string& out, uint8_t deviceName, int32_t deviceStart,
                              int32_t deviceNum) {
  CheckHeaderSize(deviceName, deviceNum);
  EmitHeader(deviceName, deviceStart, deviceNum, [&out](std::string_view piece) { out += piece; });
}

void CsvLog::AppendRowText(std::string& out, const LocalDateTime& stamp,
                           std::span<const uint16_t> values, bool unsignedValues) {
  out += MakeRowStamp(stamp);
  EmitValues(values, unsignedValues, [&out](std::string_view piece) { out += piece; });
  out += "\r\n";
}

void CsvLog::WriteHeaderRow(uint8_t deviceName, int32_t deviceStart, int32_t deviceNum) {
  CheckHeaderSize(deviceName, deviceNum);
  AppendSession session(fileName_);
  session.EndUnfinishedRow();
  EmitHeader(deviceName, deviceStart, deviceNum,
             [&session](std::string_view piece) { session.Add(piece); });
  session.Finish();
}

void CsvLog::AppendValues(const std::string& stamp, std::span<const uint16_t> values,
                          bool unsignedValues) {
  AppendSession session(fileName_);
  if (!stamp.empty()) session.EndUnfinishedRow();
  session.Add(stamp);
  EmitValues(values, unsignedValues, [&session](std::string_view piece) { session.Add(piece); });
  session.Finish();
}

void CsvLog::EndRow() {
  AppendSession session(fileName_);
  session.Add("\r\n");
  session.Finish();
}

void CsvLog::AppendRows(std::string_view header, bool withHeader, std::string_view rows,
                        bool sync) {
  AppendSession session(fileName_);
  session.DropUnfinishedRow();
  if (withHeader || session.Empty()) session.Add(header, true);
  session.Add(rows, true);
  session.Finish(sync);
}
