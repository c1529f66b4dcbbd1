#include "viewer/log_columns.h"

#include <algorithm>

int LogColumns::FindDevice(const QString& name) const { return byName_.value(name, -1); }

int LogColumns::AddDevice(const QString& name) {
  const auto found = byName_.constFind(name);
  if (found != byName_.constEnd()) return found.value();
  Device device;
  device.name = name;
  device.values.reserve(std::max(reserved_, times_.size()));
  device.values.assign(times_.size(), kMissing);
  devices_.push_back(std::move(device));
  const int index = DeviceCount() - 1;
  byName_.insert(name, index);
  return index;
}

void LogColumns::Reserve(size_t rows) {
  reserved_ = std::max(reserved_, rows);
  times_.reserve(rows);
  for (Device& device : devices_) device.values.reserve(rows);
}

void LogColumns::AppendRow(int64_t timeMs, std::span<const int32_t> values) {
  if (!times_.empty() && timeMs < times_.back()) ascending_ = false;
  times_.push_back(timeMs);
  const size_t count = std::min(values.size(), devices_.size());
  for (size_t d = 0; d < count; ++d) devices_[d].values.push_back(values[d]);
  for (size_t d = count; d < devices_.size(); ++d) devices_[d].values.push_back(kMissing);
}

void LogColumns::Clear() {
  // Shrinks too: a file that was replaced by a small one should not keep a large one's memory.
  std::vector<int64_t>().swap(times_);
  std::vector<Device>().swap(devices_);
  byName_.clear();
  reserved_ = 0;
  ascending_ = true;
}

std::optional<int32_t> LogColumns::LatestValue(int device) const {
  const std::vector<int32_t>& values = devices_[Index(device)].values;
  const auto last =
      std::find_if(values.rbegin(), values.rend(), [](int32_t value) { return value != kMissing; });
  if (last == values.rend()) return std::nullopt;
  return *last;
}

size_t LogColumns::MemoryBytes() const {
  size_t bytes = times_.capacity() * sizeof(int64_t);
  for (const Device& device : devices_) bytes += device.values.capacity() * sizeof(int32_t);
  return bytes;
}
