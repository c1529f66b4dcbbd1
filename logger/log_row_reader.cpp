#include "logger/log_row_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <system_error>

LogRowReader::LogRowReader(std::string folder, LogPosition from, std::optional<LogPosition> end)
    : folder_(std::move(folder)), position_(std::move(from)), end_(std::move(end)) {}

LogRowReader::~LogRowReader() { Close(); }

bool LogRowReader::IsLogName(const std::string& name) {
  static const std::regex kLogName(R"(\d{4}-\d{2}-\d{2} \d{2}-\d{2}-\d{2}\.csv)");
  return std::regex_match(name, kLogName);
}

std::string LogRowReader::NextLogFile(const std::string& folder, const std::string& after) {
  std::string nearest;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name > after && (nearest.empty() || name < nearest) && IsLogName(name)) nearest = name;
  }
  return nearest;
}

void LogRowReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  openFile_.clear();
  chunk_.clear();
}

bool LogRowReader::Open() {
  if (fd_ >= 0 && openFile_ == position_.File) return true;
  Close();
  fd_ = ::open((folder_ + "/" + position_.File).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  openFile_ = position_.File;
  chunkOffset_ = position_.Offset;
  return true;
}

bool LogRowReader::Advance() {
  const std::string next = NextLogFile(folder_, position_.File);
  if (next.empty()) return false;
  Close();
  position_ = {next, 0, 1};
  return true;
}

LogRowReader::Result LogRowReader::Next(Row* row, const std::optional<LogPosition>& writtenEnd) {
  while (true) {
    if (end_ && !(position_ < *end_)) return Result::kEnd;
    if (writtenEnd && !(position_ < *writtenEnd)) return Result::kWait;
    if (!Open()) {
      if (errno == ENOENT) {
        // A file that is not there yet is the writer's next one; one that is gone was removed.
        const bool beforeWritten = writtenEnd && position_.File < writtenEnd->File;
        const std::string after = NextLogFile(folder_, position_.File);
        if (!beforeWritten && after.empty()) return end_ ? Result::kEnd : Result::kWait;
        if (OnMissing) OnMissing(position_.File, position_.Row);
        if (after.empty() || (end_ && !(LogPosition{after, 0, 1} < *end_))) {
          position_ = end_ ? *end_ : LogPosition{after, 0, 1};
          if (end_) return Result::kEnd;
          return Result::kWait;
        }
        position_ = {after, 0, 1};
        continue;
      }
      return Result::kWait;  // unreadable for now: tried again later
    }
    if (position_.Offset < chunkOffset_ || position_.Offset > chunkOffset_ + chunk_.size()) {
      chunk_.clear();
      chunkOffset_ = position_.Offset;
    }
    // The rows already read stay in front of the chunk until more must be read: dropping them
    // at every row would move the rest of the chunk each time.
    std::size_t start = position_.Offset - chunkOffset_;
    std::size_t newline = chunk_.find('\n', start);
    while (newline == std::string::npos) {
      chunk_.erase(0, start);
      chunkOffset_ = position_.Offset;
      start = 0;
      const std::size_t before = chunk_.size();
      chunk_.resize(before + kChunkBytes);
      const ssize_t got = ::pread(fd_, chunk_.data() + before, kChunkBytes,
                                  static_cast<off_t>(chunkOffset_ + before));
      chunk_.resize(before + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
      if (got <= 0) break;
      newline = chunk_.find('\n', before);
      // A line longer than anything the logger writes is not a row: skipped whole.
      if (newline == std::string::npos && chunk_.size() > std::size_t{16} << 20) {
        position_.Offset += chunk_.size();
        chunk_.clear();
        chunkOffset_ = position_.Offset;
      }
    }
    if (newline == std::string::npos) {
      // The end of this file: a newer file means this one is complete.
      if (writtenEnd && position_.File >= writtenEnd->File) return Result::kWait;
      if (end_ && position_.File >= end_->File) return Result::kEnd;
      if (!Advance()) return end_ ? Result::kEnd : Result::kWait;
      continue;
    }
    const std::size_t length = newline + 1 - start;
    std::string_view line(chunk_.data() + start, newline - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const LogPosition at = position_;
    position_.Offset += length;
    if (line.starts_with("YYYY-MM-DD")) continue;  // a header
    row->Line.assign(line);
    row->At = at;
    ++position_.Row;
    row->Next = position_;
    return Result::kRow;
  }
}
