#include "viewer/log_parser.h"

#include <QString>
#include <algorithm>
#include <cstring>

#include "monitor/log_format.h"
#include "viewer/log_columns.h"

namespace {

constexpr size_t kDateLength = LogFormat::kDateLength;
constexpr size_t kTimeLength = LogFormat::kTimeLength;
constexpr size_t kStampLength = LogFormat::kStampLength;
constexpr char kSeparator = LogFormat::kSeparator;
// The columns are sized after this many rows, from their bytes and the expected total.
constexpr size_t kRowsBeforeReserve = 64;

// A decimal integer within 32 bits (the missing-value marker excluded); an empty field is a
// value that is not there.
bool ParseValue(std::string_view text, int32_t* value) {
  if (text.empty()) {
    *value = LogColumns::kMissing;
    return true;
  }
  size_t at = 0;
  const bool negative = text[0] == '-';
  if (negative) at = 1;
  if (at == text.size() || text.size() - at > 10) return false;
  int64_t magnitude = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c < '0' || c > '9') return false;
    magnitude = magnitude * 10 + (c - '0');
  }
  const int64_t result = negative ? -magnitude : magnitude;
  if (result <= LogColumns::kMissing || result > INT32_MAX) return false;
  *value = static_cast<int32_t>(result);
  return true;
}

bool StartsHeader(std::string_view date, std::string_view time) {
  return date == LogFormat::kDateCaption && time == LogFormat::kTimeCaption;
}

bool StartsRow(std::string_view date, std::string_view time) {
  return LocalStamp::LooksLikeDate(date) && LocalStamp::LooksLikeTime(time);
}

}  // namespace

LogParser::LogParser(LogColumns* columns) : columns_(columns) {}

void LogParser::ExpectBytes(uint64_t totalBytes) { expectedBytes_ = totalBytes; }

void LogParser::Feed(std::string_view bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    const void* found = std::memchr(bytes.data() + at, '\n', bytes.size() - at);
    if (found == nullptr) {
      const size_t rest = bytes.size() - at;
      if (!discarding_ && pending_.size() + rest > kMaxLineBytes) {
        discarding_ = true;
        std::string().swap(pending_);
      }
      if (!discarding_) pending_.append(bytes.substr(at));
      break;
    }
    const size_t end = static_cast<size_t>(static_cast<const char*>(found) - bytes.data());
    const std::string_view piece = bytes.substr(at, end - at);
    if (discarding_) {
      discarding_ = false;
      ++lineNumber_;
      Skip();
    } else if (!pending_.empty()) {
      if (pending_.size() + piece.size() > kMaxLineBytes) {
        ++lineNumber_;
        Skip();
      } else {
        pending_.append(piece);
        TakeLine(pending_);
      }
      pending_.clear();
    } else if (piece.size() > kMaxLineBytes) {
      // Skipped as it would be had it come in pieces.
      ++lineNumber_;
      Skip();
    } else {
      TakeLine(piece);
    }
    at = end + 1;
  }
  parsedBytes_ += bytes.size();
  ReserveOnce();
}

void LogParser::Reset() {
  columns_->Clear();
  stamp_ = LocalStamp();
  blockDevices_.clear();
  blockInOrder_ = false;
  unnamedDevices_.clear();
  rowValues_.clear();
  std::string().swap(pending_);
  discarding_ = false;
  expectedBytes_ = 0;
  parsedBytes_ = 0;
  reserved_ = false;
  lineNumber_ = 0;
  headerRows_ = 0;
  dataRows_ = 0;
  skippedLines_ = 0;
  firstSkippedLine_ = 0;
}

void LogParser::FinishFile() {
  if (discarding_ || !pending_.empty()) {
    ++lineNumber_;
    Skip();
  }
  std::string().swap(pending_);
  discarding_ = false;
  blockDevices_.clear();
  blockInOrder_ = false;
}

void LogParser::ReserveOnce() {
  if (reserved_ || dataRows_ < kRowsBeforeReserve || expectedBytes_ == 0 || parsedBytes_ == 0) {
    return;
  }
  reserved_ = true;
  if (expectedBytes_ <= parsedBytes_) return;
  // A little more than the rows seen so far promise, so that the last rows do not regrow it.
  const double rowsPerByte = static_cast<double>(dataRows_) / static_cast<double>(parsedBytes_);
  const auto expectedRows =
      static_cast<size_t>(rowsPerByte * 1.03 * static_cast<double>(expectedBytes_)) + 16;
  columns_->Reserve(expectedRows);
}

void LogParser::TakeLine(std::string_view line) {
  ++lineNumber_;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (TakePlainRow(line)) return;
  fields_.clear();
  size_t at = 0;
  while (true) {
    const size_t comma = line.find(kSeparator, at);
    if (comma == std::string_view::npos) {
      fields_.push_back(line.substr(at));
      break;
    }
    fields_.push_back(line.substr(at, comma - at));
    at = comma + 1;
  }
  // Nothing of a line is taken unless all of it reads.
  values_.assign(fields_.size(), LogColumns::kMissing);
  if (!SplitPieces()) {
    Skip();
    return;
  }
  for (const Piece& piece : pieces_) {
    if (piece.header) {
      ApplyHeader(piece);
    } else {
      AppendValues(piece.timeMs,
                   std::span<const int32_t>(values_).subspan(piece.first, piece.end - piece.first));
    }
  }
}

bool LogParser::TakePlainRow(std::string_view line) {
  // Nearly every line is a stamp and values, nothing else: read straight from the bytes. A
  // line with anything more is left to the general reading.
  if (line.size() < kStampLength || line[kDateLength] != kSeparator ||
      (line.size() > kStampLength && line[kStampLength] != kSeparator) ||
      !StartsRow(line.substr(0, kDateLength), line.substr(kDateLength + 1, kTimeLength))) {
    return false;
  }
  plain_.clear();
  const char* at = line.data() + kStampLength;
  const char* const end = line.data() + line.size();
  while (at < end) {
    ++at;  // the comma
    const bool negative = at < end && *at == '-';
    if (negative) ++at;
    const char* const digits = at;
    int64_t magnitude = 0;
    while (at < end && static_cast<unsigned>(*at - '0') < 10) {
      magnitude = magnitude * 10 + (*at - '0');
      if (++at - digits > 10) return false;
    }
    if (at < end && *at != kSeparator) return false;
    if (at == digits) {
      if (negative) return false;
      plain_.push_back(LogColumns::kMissing);
      continue;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value <= LogColumns::kMissing || value > INT32_MAX) return false;
    plain_.push_back(static_cast<int32_t>(value));
  }
  int64_t timeMs = 0;
  if (!stamp_.ToMs(line.substr(0, kDateLength), line.substr(kDateLength + 1, kTimeLength),
                   &timeMs)) {
    return false;
  }
  AppendValues(timeMs, plain_);
  return true;
}

bool LogParser::SplitPieces() {
  pieces_.clear();
  size_t i = 0;
  while (i < fields_.size()) {
    if (i + 1 >= fields_.size()) return false;
    Piece piece;
    piece.first = i + 2;
    if (StartsHeader(fields_[i], fields_[i + 1])) {
      // A header is written whole with its line end: the rest of the line is its devices.
      piece.header = true;
      piece.end = fields_.size();
      pieces_.push_back(piece);
      return true;
    }
    if (!StartsRow(fields_[i], fields_[i + 1]) ||
        !stamp_.ToMs(fields_[i], fields_[i + 1], &piece.timeMs)) {
      return false;
    }
    size_t j = piece.first;
    while (j < fields_.size() && ParseValue(fields_[j], &values_[j])) ++j;
    piece.end = j;
    if (j < fields_.size()) {
      // An unfinished row continued by the next stamp or header: "...,12,-12004-01-10,...".
      const std::string_view field = fields_[j];
      if (field.size() < kDateLength || j + 1 >= fields_.size()) return false;
      const std::string_view lead = field.substr(0, field.size() - kDateLength);
      const std::string_view date = field.substr(field.size() - kDateLength);
      const std::string_view time = fields_[j + 1];
      if (!(StartsHeader(date, time) || StartsRow(date, time))) return false;
      if (!ParseValue(lead, &values_[j])) return false;
      if (lead.empty()) {
        fields_[j] = date;
      } else {
        fields_[j] = lead;
        const auto next = static_cast<std::ptrdiff_t>(j) + 1;
        fields_.insert(fields_.begin() + next, date);
        values_.insert(values_.begin() + next, LogColumns::kMissing);
        piece.end = j + 1;
      }
    }
    pieces_.push_back(piece);
    i = piece.end;
  }
  return !pieces_.empty();
}

void LogParser::ApplyHeader(const Piece& piece) {
  ++headerRows_;
  blockDevices_.clear();
  blockInOrder_ = true;
  for (size_t f = piece.first; f < piece.end; ++f) {
    const size_t position = f - piece.first;
    const int device = fields_[f].empty()
                           ? UnnamedDevice(position)
                           : columns_->AddDevice(QString::fromLatin1(
                                 fields_[f].data(), static_cast<qsizetype>(fields_[f].size())));
    blockInOrder_ = blockInOrder_ && device == static_cast<int>(position);
    blockDevices_.push_back(device);
  }
}

int LogParser::UnnamedDevice(size_t position) {
  if (position >= unnamedDevices_.size()) unnamedDevices_.resize(position + 1, -1);
  int& device = unnamedDevices_[position];
  if (device < 0) {
    device = columns_->AddDevice(QStringLiteral("#%1").arg(position + 1));
  }
  return device;
}

void LogParser::AppendValues(int64_t timeMs, std::span<const int32_t> values) {
  ++dataRows_;
  // The usual case: the block's devices are the columns, in their order.
  if (blockInOrder_ && values.size() <= blockDevices_.size()) {
    columns_->AppendRow(timeMs, values);
    return;
  }
  touched_.clear();
  for (size_t position = 0; position < values.size(); ++position) {
    touched_.push_back(position < blockDevices_.size() ? blockDevices_[position]
                                                       : UnnamedDevice(position));
  }
  if (rowValues_.size() < static_cast<size_t>(columns_->DeviceCount())) {
    rowValues_.resize(static_cast<size_t>(columns_->DeviceCount()), LogColumns::kMissing);
  }
  for (size_t position = 0; position < values.size(); ++position) {
    rowValues_[static_cast<size_t>(touched_[position])] = values[position];
  }
  columns_->AppendRow(timeMs, rowValues_);
  for (const int device : touched_) rowValues_[static_cast<size_t>(device)] = LogColumns::kMissing;
}

void LogParser::Skip() {
  ++skippedLines_;
  if (firstSkippedLine_ == 0) firstSkippedLine_ = lineNumber_;
}
