#include "logger/row_writer.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <regex>
#include <system_error>
#include <utility>

#include "base/exception.h"
#include "logger/folder_lock.h"
#include "logger/status_journal.h"
#include "monitor/csv_log.h"

namespace {
// A backlog is written in pieces of about this size, each ending at a row's end.
constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
}  // namespace

RowWriter::RowWriter(Setup setup, const LocalDateTime& start, StatusJournal& journal)
    : setup_(std::move(setup)), journal_(journal) {
  CsvLog::AppendHeaderText(header_, setup_.DeviceName, setup_.DeviceStart, setup_.DeviceNum);
  // Log names are their start's date and time, so the greatest is the newest.
  static const std::regex kLogName(R"(\d{4}-\d{2}-\d{2} \d{2}-\d{2}-\d{2}\.csv)");
  std::string newest;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(setup_.Directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name > newest && std::regex_match(name, kLogName)) newest = name;
  }
  if (!newest.empty()) CutUnfinishedRow(setup_.Directory + "/" + newest);
  StartFile(start);
}

void RowWriter::CutUnfinishedRow(const std::string& file) {
  const std::size_t removed = CsvLog::CutUnfinishedRow(file);
  if (removed > 0) {
    journal_.Line("removed " + StatusJournal::Count(removed, "byte", "bytes") +
                  " of a row left unfinished from " + file);
  }
}

void RowWriter::CheckLock() {
  if (setup_.Lock == nullptr || setup_.Lock->Current()) return;
  pid_t holder = 0;
  std::string error;
  switch (setup_.Lock->Renew(&holder, &error)) {
    case FolderLock::Result::kHeld:
      journal_.Line("the output folder " + setup_.Directory +
                    " was made anew; it is locked again and logging goes on there");
      headerDue_ = true;
      announced_ = false;
      fileRows_ = 0;
      return;
    case FolderLock::Result::kBusy:
      throw Exception("the output folder " + setup_.Directory +
                      " was made anew and another logger (process " + std::to_string(holder) +
                      ") writes there; this one does not");
    case FolderLock::Result::kFailed:
      throw Exception(error);
  }
}

void RowWriter::StartFile(const LocalDateTime& moment) {
  file_ = setup_.Directory + "/" + CsvLog::MakeFileName(moment);
  fileDay_ = moment;
  headerDue_ = true;
  announced_ = false;
  fileRows_ = 0;
}

void RowWriter::ReportRows(std::size_t rows, std::size_t batchBytes) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(file_, error);
  if (error) return;
  // The batch is the file's last bytes: each row's end follows from the sizes.
  uint64_t end = size - batchBytes;
  for (std::size_t i = 0; i < rows; ++i) {
    end += queue_[i].text.size();
    setup_.RowWritten(file_, end, ++fileRows_);
  }
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
      CheckLock();
      const std::size_t removed = CsvLog(file_).AppendRows(header_, headerDue_, batch, setup_.Sync);
      if (removed > 0) {
        journal_.Line("removed " + StatusJournal::Count(removed, "byte", "bytes") +
                      " of a row left unfinished from " + file_);
      }
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
    if (setup_.RowWritten) ReportRows(rows, batch.size());
    for (std::size_t i = 0; i < rows; ++i) {
      queuedBytes_ -= queue_.front().text.size();
      queue_.pop_front();
    }
    written_ += rows;
    journal_.StorageWorks();
  }
  if (backlog_) {
    backlog_ = false;
    journal_.Line("backlog written: " +
                  StatusJournal::Count(written_ - writtenBeforeBacklog_, "row", "rows") +
                  " kept in memory are in the log");
  }
  return true;
}
