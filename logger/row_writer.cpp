#include "logger/row_writer.h"

#include <exception>
#include <utility>

#include "logger/status_journal.h"
#include "monitor/csv_log.h"

namespace {
// A backlog is written in pieces of about this size, each ending at a row's end.
constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
}  // namespace

RowWriter::RowWriter(Setup setup, const LocalDateTime& start, StatusJournal& journal)
    : setup_(std::move(setup)), journal_(journal) {
  CsvLog::AppendHeaderText(header_, setup_.DeviceName, setup_.DeviceStart, setup_.DeviceNum);
  StartFile(start);
}

void RowWriter::StartFile(const LocalDateTime& moment) {
  file_ = setup_.Directory + "/" + CsvLog::MakeFileName(moment);
  fileDay_ = moment;
  headerDue_ = true;
  announced_ = false;
}

void RowWriter::Add(const LocalDateTime& stamp, std::span<const uint16_t> values) {
  Row row{stamp, {}};
  CsvLog::AppendRowText(row.text, stamp, values, setup_.UnsignedValues);
  queuedBytes_ += row.text.size();
  queue_.push_back(std::move(row));
  Flush();
}

bool RowWriter::Flush() {
  while (!queue_.empty()) {
    if (setup_.RotateDaily && !queue_.front().stamp.SameDay(fileDay_)) {
      StartFile(queue_.front().stamp);
    }
    std::string batch;
    std::size_t rows = 0;
    for (const Row& row : queue_) {
      if (setup_.RotateDaily && !row.stamp.SameDay(fileDay_)) break;
      if (rows > 0 && batch.size() + row.text.size() > kBatchBytes) break;
      batch += row.text;
      ++rows;
    }
    try {
      CsvLog(file_).AppendRows(header_, headerDue_, batch, setup_.Sync);
    } catch (const std::exception& error) {
      ++failedWrites_;
      journal_.Occurred(StatusJournal::Kind::kStorage, error.what());
      if (!backlog_) {
        backlog_ = true;
        writtenBeforeBacklog_ = written_;
        journal_.Line("backlog: rows are kept in memory until the log can be written (up to " +
                      std::to_string(setup_.BacklogLimit >> 20) + " MiB)");
      }
      return false;
    }
    if (!announced_) {
      announced_ = true;
      journal_.Line("logging to " + file_);
    }
    headerDue_ = false;
    for (std::size_t i = 0; i < rows; ++i) {
      queuedBytes_ -= queue_.front().text.size();
      queue_.pop_front();
    }
    written_ += rows;
    journal_.StorageWorks();
  }
  if (backlog_) {
    backlog_ = false;
    journal_.Line("backlog written: " + std::to_string(written_ - writtenBeforeBacklog_) +
                  " rows kept in memory are in the log");
  }
  return true;
}
