#pragma once

#include <QHash>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

// The values of a log as columns: one time column (milliseconds since the epoch) and one
// 32-bit column per device, all of the same length. A device keeps its column across header
// blocks; rows of a block that does not log a device hold kMissing in its column, as do the
// values a stalled cycle never wrote.
class LogColumns {
 public:
  static constexpr int32_t kMissing = std::numeric_limits<int32_t>::min();

  size_t RowCount() const { return times_.size(); }
  int DeviceCount() const { return static_cast<int>(devices_.size()); }
  const QString& DeviceName(int device) const { return devices_[Index(device)].name; }
  // -1 when the log has no such device.
  int FindDevice(const QString& name) const;
  // The device's index; a new device gets a column of kMissing for the rows so far.
  int AddDevice(const QString& name);

  // Room for this many rows in every column, so that a large file is read without regrowing.
  void Reserve(size_t rows);
  // One row: values[d] for every device d (kMissing where the row has none). values must hold
  // DeviceCount() entries.
  void AppendRow(int64_t timeMs, std::span<const int32_t> values);
  void Clear();

  std::span<const int64_t> Times() const { return times_; }
  std::span<const int32_t> Values(int device) const { return devices_[Index(device)].values; }
  // True while every row's time is at or after the one before, which lets a time range be
  // found by binary search.
  bool TimesAscending() const { return ascending_; }
  // The device's last value that is not missing.
  std::optional<int32_t> LatestValue(int device) const;
  // Bytes held by the columns (their capacity), for the status line and the benchmark.
  size_t MemoryBytes() const;

 private:
  struct Device {
    QString name;
    std::vector<int32_t> values;
  };

  static size_t Index(int device) { return static_cast<size_t>(device); }

  std::vector<int64_t> times_;
  std::vector<Device> devices_;
  QHash<QString, int> byName_;
  size_t reserved_ = 0;
  bool ascending_ = true;
};
