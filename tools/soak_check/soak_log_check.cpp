#include "tools/soak_check/soak_log_check.h"

#include <QString>
#include <algorithm>
#include <cstdio>

#include "tools/sim/controller_protocol.h"
#include "viewer/log_columns.h"
#include "viewer/log_parser.h"

namespace {

constexpr int kDataMemory = 0;

std::string_view WithoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

SoakLogCheck::SoakLogCheck(int32_t firstDevice, int devices, bool unsignedValues)
    : firstDevice_(firstDevice), devices_(devices) {
  for (int i = 0; i < devices_; ++i) {
    const int32_t device = firstDevice_ + i;
    char name[16];
    std::snprintf(name, sizeof name, "DM%05d", static_cast<int>(device));
    names_.emplace_back(name);
    const uint16_t value = ControllerProtocol::ValueOf(ValuePattern{}, kDataMemory, device, 0);
    want_.push_back(unsignedValues ? value : static_cast<int16_t>(value));
  }
}

void SoakLogCheck::CheckFile(const std::string& name, std::string_view bytes) {
  ++figures_.files;
  LogColumns columns;
  LogParser parser(&columns);
  std::vector<int> columnOf(static_cast<size_t>(devices_), -1);
  size_t lineNumber = 0;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t newline = bytes.find('\n', at);
    const bool ended = newline != std::string_view::npos;
    const std::string_view line = bytes.substr(at, ended ? newline + 1 - at : bytes.npos);
    at += line.size();
    ++lineNumber;
    const std::string where = name + ":" + std::to_string(lineNumber);
    const std::string_view text = WithoutLineEnd(line);

    const size_t headersBefore = parser.HeaderRows();
    const size_t rowsBefore = columns.RowCount();
    const size_t skippedBefore = parser.SkippedLines();
    // Fed one line at a time, so that what the reader made of it is this line's alone.
    parser.Feed(line);
    if (!ended) parser.FinishFile();

    if (!line.ends_with("\r\n")) {
      Note(&badNotes_, where, "no CR LF", text);
      ++figures_.badLines;
      continue;
    }
    const bool header = parser.HeaderRows() > headersBefore;
    const size_t newRows = columns.RowCount() - rowsBefore;
    if (header && newRows == 0) {
      ++figures_.headers;
      // The reader keeps every device a header names (and a column for each value of a row
      // before any header, named "#<position>"): a named device beyond those polled, one
      // missing or a header of another length is a wrong header.
      int named = 0;
      for (int d = 0; d < columns.DeviceCount(); ++d) {
        if (!columns.DeviceName(d).startsWith(QLatin1Char('#'))) ++named;
      }
      bool right = named == devices_ &&
                   static_cast<int>(std::count(text.begin(), text.end(), ',')) == devices_ + 1;
      for (int i = 0; right && i < devices_; ++i) {
        const size_t d = static_cast<size_t>(i);
        columnOf[d] = columns.FindDevice(QString::fromStdString(names_[d]));
        right = columnOf[d] >= 0;
      }
      if (!right) {
        Note(&badNotes_, where, "not the header of the devices polled", text);
        ++figures_.badLines;
      }
      continue;
    }
    ++figures_.rows;
    const char* why = nullptr;
    if (parser.SkippedLines() > skippedBefore) {
      why = "neither a header nor a row";
    } else if (headersBefore == 0) {
      why = "row before a header";
    } else if (header || newRows != 1) {
      why = "not one row";
    }
    const size_t row = rowsBefore;
    size_t present = 0;
    for (int d = 0; why == nullptr && d < columns.DeviceCount(); ++d) {
      if (columns.Values(d)[row] != LogColumns::kMissing) ++present;
    }
    // Values beyond the header's devices go to columns of their own.
    if (why == nullptr && present > want_.size()) why = "more values than devices";
    size_t wrong = 0;
    for (size_t d = 0; why == nullptr && d < columnOf.size(); ++d) {
      const int32_t value =
          columnOf[d] < 0 ? LogColumns::kMissing : columns.Values(columnOf[d])[row];
      if (value == LogColumns::kMissing) {
        why = "a value missing";
      } else if (value != want_[d]) {
        ++wrong;
      }
    }
    if (why != nullptr) {
      Note(&badNotes_, where, why, text);
      ++figures_.badLines;
      continue;
    }
    if (wrong > 0) {
      figures_.wrongValues += wrong;
      ++figures_.wrongRows;
      Note(&wrongNotes_, where, std::to_string(wrong) + " wrong values", text);
    }
    const int64_t timeMs = columns.Times()[row];
    const std::string stamp(text.substr(0, 19));
    if (timeMs < lastTimeMs_) {
      ++figures_.disorder;
      Note(&disorderNotes_, where, "earlier than " + lastStamp_, text);
    }
    lastTimeMs_ = timeMs;
    lastStamp_ = stamp;
  }
}

std::string SoakLogCheck::FiguresLine() const {
  const Figures& f = figures_;
  return "files=" + std::to_string(f.files) + " headers=" + std::to_string(f.headers) +
         " rows=" + std::to_string(f.rows) + " bad=" + std::to_string(f.badLines) +
         " wrong=" + std::to_string(f.wrongValues) + " wrongrows=" + std::to_string(f.wrongRows) +
         " disorder=" + std::to_string(f.disorder);
}

size_t SoakLogCheck::CountRows(std::string_view bytes) {
  LogColumns columns;
  LogParser parser(&columns);
  size_t rows = 0;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t newline = bytes.find('\n', at);
    const std::string_view line =
        bytes.substr(at, newline == std::string_view::npos ? bytes.npos : newline + 1 - at);
    at += line.size();
    const size_t headersBefore = parser.HeaderRows();
    const size_t rowsBefore = columns.RowCount();
    parser.Feed(line);
    // A header that ends an unfinished row on its line still counts that row.
    if (parser.HeaderRows() == headersBefore || columns.RowCount() > rowsBefore) ++rows;
  }
  return rows;
}

void SoakLogCheck::Note(size_t* kindCount, const std::string& where, std::string_view why,
                        std::string_view text) {
  if (++*kindCount > kNotesPerKind) return;
  notes_.push_back(where + ": " + std::string(why) + ": " + std::string(text));
}
