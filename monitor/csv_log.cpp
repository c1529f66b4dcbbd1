#include "monitor/csv_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/exception.h"
#include "base/posix_file.h"
#include "monitor/log_format.h"
#include "monitor/read_command.h"

namespace {

// Text is handed to the file in pieces of at most this size, so that a header for an absurd
// device count from the INI file never has to exist in memory as a whole; a row fits one.
constexpr size_t kWriteChunk = 4096;

// One open-append-close of the log file.
class AppendSession {
 public:
  // `detailed`: errors also say which step failed and why (the headless logger's journal); the
  // monitor's texts are the plain ones.
  explicit AppendSession(const std::string& fileName, bool detailed = false)
      : fileName_(fileName), detailed_(detailed) {
    // Read access only to look at the last byte (unfinished row); O_APPEND so every write
    // lands at the end, and no O_TRUNC: an existing log is never emptied.
    do {
      fd_ = ::open(fileName.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ >= 0) return;
    const int failure = errno;
    if (!detailed_) throw Exception("ファイル " + fileName + " を作成できません");
    // An existing file that cannot be opened for writing was not to be created.
    if (::access(fileName.c_str(), F_OK) == 0) {
      throw Exception("ファイル " + fileName +
                      " に書き込めません (open: " + std::strerror(failure) + ")");
    }
    throw Exception("ファイル " + fileName +
                    " を作成できません (create: " + std::strerror(failure) + ")");
  }

  // Opens an existing file to cut its unfinished row; false when there is none to open.
  AppendSession(const std::string& fileName, int /*existingOnly*/)
      : fileName_(fileName), detailed_(true) {
    do {
      fd_ = ::open(fileName.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
  }
  bool Open() const { return fd_ >= 0; }

  AppendSession(const AppendSession&) = delete;
  AppendSession& operator=(const AppendSession&) = delete;

  ~AppendSession() {
    if (fd_ >= 0) ::close(fd_);
  }

  // A stalled cycle leaves its row without a line end; the next header or stamped row must
  // not continue it. Taken from the file itself, so a file that was replaced, recreated or
  // written by an earlier run is judged by what it holds. Only the start of a row needs the
  // file's size; the values that continue a row are appended without asking for it.
  void EndUnfinishedRow() {
    MeasureBefore();
    if (!regular_ || sizeBefore_ == 0) return;
    char last = '\n';
    ssize_t got = 0;
    do {
      got = ::pread(fd_, &last, 1, sizeBefore_ - 1);
    } while (got < 0 && errno == EINTR);
    if (got == 1 && last != '\n') Add(LogFormat::kLineEnd);
  }

  void Add(std::string_view text) {
    while (text.size() > kWriteChunk - used_) {
      const size_t part = kWriteChunk - used_;
      std::memcpy(chunk_ + used_, text.data(), part);
      used_ = kWriteChunk;
      text.remove_prefix(part);
      Flush();
    }
    std::memcpy(chunk_ + used_, text.data(), text.size());
    used_ += text.size();
  }

  // A file that only ever receives whole rows ends inside one only when an append was cut off
  // (a kill between a short write and the cut back): those bytes were never a row anyone
  // counted, so they go.
  // The bytes removed.
  std::size_t DropUnfinishedRow() {
    MeasureBefore();
    if (!regular_ || sizeBefore_ == 0) return 0;
    const off_t size = sizeBefore_;
    // Nearly always the file ends a row: one byte tells.
    char last = 0;
    if (::pread(fd_, &last, 1, size - 1) == 1 && last == '\n') return 0;
    char chunk[4096];
    off_t end = size;
    while (end > 0) {
      const off_t start = end > static_cast<off_t>(sizeof chunk) ? end - off_t{sizeof chunk} : 0;
      const ssize_t got = ::pread(fd_, chunk, static_cast<size_t>(end - start), start);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return 0;  // unreadable: leave the file as it is
      for (ssize_t i = got - 1; i >= 0; --i) {
        if (chunk[i] != '\n') continue;
        if (start + i + 1 == size) return 0;  // already at a line's end
        return Truncate(start + i + 1) ? static_cast<std::size_t>(size - (start + i + 1)) : 0;
      }
      end = start;
    }
    return Truncate(0) ? static_cast<std::size_t>(size) : 0;
  }

  bool Empty() {
    MeasureBefore();
    return sizeBefore_ == 0;
  }

  // In one write of its own, so that no part of it reaches the file alone.
  void AddWhole(std::string_view text) {
    Flush();
    if (!WriteAll(fd_, text.data(), text.size(), &written_)) FailWrite("write");
  }

  void Finish(bool sync = false) {
    Flush();
    if (sync) Sync();
    const int fd = std::exchange(fd_, -1);
    // A failing close can mean the data never reached the disk; report it too.
    if (::close(fd) != 0 && errno != EINTR) ThrowWriteError("close", errno);
  }

 private:
  // The file's kind and size before this append wrote to it.
  void MeasureBefore() {
    if (measured_) return;
    measured_ = true;
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
      regular_ = true;
      // Nobody else appends to the log: what this append wrote is all at the end.
      sizeBefore_ = info.st_size - written_;
    }
  }

  void Flush() {
    if (used_ == 0) return;
    if (!WriteAll(fd_, chunk_, used_, &written_)) FailWrite("write");
    used_ = 0;
  }

  // A full disk must not leave half a row that later rows would continue, and the lost values
  // must reach the operator: cut the file back to where this append began.
  [[noreturn]] void FailWrite(const char* step) {
    const int failure = errno;
    MeasureBefore();
    if (regular_ && written_ > 0) Truncate(sizeBefore_);
    ::close(std::exchange(fd_, -1));
    ThrowWriteError(step, failure);
  }

  // The data first, then, for a file that was new or empty, its directory entry, so that a
  // power cut cannot take the file's name away from rows already counted as written.
  void Sync() {
    if (::fdatasync(fd_) != 0) FailWrite("sync");
    MeasureBefore();
    if (sizeBefore_ != 0) return;
    const size_t slash = fileName_.rfind('/');
    SyncDirectory(slash == std::string::npos ? "." : fileName_.substr(0, slash + 1));
  }

  bool Truncate(off_t size) {
    int result = 0;
    do {
      result = ::ftruncate(fd_, size);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return false;
    sizeBefore_ = size;
    written_ = 0;
    return true;
  }

  [[noreturn]] void ThrowWriteError(const char* step, int failure) const {
    std::string text = "ファイル " + fileName_ + " に書き込めません";
    if (detailed_) text += std::string(" (") + step + ": " + std::strerror(failure) + ")";
    throw Exception(text);
  }

  const std::string& fileName_;
  bool detailed_ = false;
  int fd_ = -1;
  bool measured_ = false;
  bool regular_ = false;
  off_t sizeBefore_ = 0;
  off_t written_ = 0;  // bytes of this append that reached the file
  size_t used_ = 0;
  char chunk_[kWriteChunk];
};

// The header row's pieces, in order, CR LF included.
template <typename Emit>
void EmitHeader(uint8_t deviceName, int32_t deviceStart, int32_t deviceNum, Emit&& emit) {
  emit(LogFormat::kHeaderCaption);
  const char* code = DeviceCode(deviceName);
  if (code != nullptr && deviceNum > 0) {
    // 64-bit: DeviceStart + DeviceNum from the INI file may lie beyond the 32-bit range.
    const int64_t end = int64_t{deviceStart} + deviceNum;
    char column[3 + kMaxDeviceNumberLength] = {LogFormat::kSeparator, code[0], code[1]};
    for (int64_t device = deviceStart; device < end; ++device) {
      const char* const columnEnd = FormatDeviceNumberTo(column + 3, device);
      emit(std::string_view(column, static_cast<size_t>(columnEnd - column)));
    }
  }
  emit(LogFormat::kLineEnd);
}

void CheckHeaderSize(uint8_t deviceName, int32_t deviceNum) {
  if (DeviceCode(deviceName) != nullptr && deviceNum > CsvLog::kMaxHeaderDevices) {
    throw Exception("個数 " + std::to_string(deviceNum) + " は上限 " +
                    std::to_string(CsvLog::kMaxHeaderDevices) + " を超えています");
  }
}

// "," + value per value.
template <typename Emit>
void EmitValues(std::span<const uint16_t> values, bool unsignedValues, Emit&& emit) {
  for (const uint16_t value : values) {
    char text[LogFormat::kMaxValueFieldLength];
    const char* const end = LogFormat::ValueFieldTo(text, value, unsignedValues);
    emit(std::string_view(text, static_cast<size_t>(end - text)));
  }
}

}  // namespace

CsvLog::CsvLog(std::string fileName) : fileName_(std::move(fileName)) {}

std::string CsvLog::MakeFileName(const LocalDateTime& t) { return LogFormat::FileName(t); }

std::string CsvLog::MakeRowStamp(const LocalDateTime& t) { return LogFormat::Stamp(t); }

const std::string& CsvLog::FileName() const { return fileName_; }

void CsvLog::AppendHeaderText(std::string& out, uint8_t deviceName, int32_t deviceStart,
                              int32_t deviceNum) {
  CheckHeaderSize(deviceName, deviceNum);
  EmitHeader(deviceName, deviceStart, deviceNum, [&out](std::string_view piece) { out += piece; });
}

void CsvLog::AppendRowText(std::string& out, const LocalDateTime& stamp,
                           std::span<const uint16_t> values, bool unsignedValues) {
  LogFormat::AppendRow(out, stamp, values, unsignedValues);
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
  session.Add(LogFormat::kLineEnd);
  session.Finish();
}

std::size_t CsvLog::AppendRows(std::string_view header, bool withHeader, std::string_view rows,
                               bool sync) {
  AppendSession session(fileName_, true);
  const std::size_t dropped = session.DropUnfinishedRow();
  if (withHeader || session.Empty()) {
    std::string whole;
    whole.reserve(header.size() + rows.size());
    whole.append(header).append(rows);
    session.AddWhole(whole);
  } else {
    session.AddWhole(rows);
  }
  session.Finish(sync);
  return dropped;
}

std::size_t CsvLog::CutUnfinishedRow(const std::string& fileName) {
  AppendSession session(fileName, 0);
  if (!session.Open()) return 0;
  return session.DropUnfinishedRow();
}
