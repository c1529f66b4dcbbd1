#include "viewer/min_max_decimation.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "viewer/log_columns.h"

namespace {

constexpr int32_t kMissing = LogColumns::kMissing;

class Builder {
 public:
  Builder(std::span<const int64_t> times, std::span<const int32_t> values)
      : times_(times), values_(values) {}

  void Add(size_t row, bool inside) {
    const int32_t value = values_[row];
    result_.points.append(QPointF(static_cast<double>(times_[row]), value));
    if (!inside) return;
    if (!result_.hasValues) {
      result_.min = result_.max = value;
      result_.hasValues = true;
    }
    result_.min = std::min(result_.min, value);
    result_.max = std::max(result_.max, value);
  }

  DecimatedSeries Take() { return std::move(result_); }

 private:
  std::span<const int64_t> times_;
  std::span<const int32_t> values_;
  DecimatedSeries result_;
};

}  // namespace

DecimatedSeries DecimateMinMax(const LogColumns& log, int device, double fromMs, double toMs,
                               int pixelColumns) {
  const std::span<const int64_t> times = log.Times();
  const std::span<const int32_t> values = log.Values(device);
  Builder builder(times, values);
  if (!(toMs >= fromMs) || times.empty()) return builder.Take();

  const bool ascending = log.TimesAscending();
  const auto inRange = [&](size_t row) {
    const auto t = static_cast<double>(times[row]);
    return t >= fromMs && t <= toMs;
  };
  size_t lo = 0;
  size_t hi = times.size();
  if (ascending) {
    lo = static_cast<size_t>(
        std::partition_point(times.begin(), times.end(),
                             [&](int64_t t) { return static_cast<double>(t) < fromMs; }) -
        times.begin());
    hi = static_cast<size_t>(
        std::partition_point(times.begin() + static_cast<std::ptrdiff_t>(lo), times.end(),
                             [&](int64_t t) { return static_cast<double>(t) <= toMs; }) -
        times.begin());
  }

  // The rows just outside the range are kept when the plot has room for them; only those
  // there are take a column from the rows inside.
  const bool edges = ascending && pixelColumns >= 4;
  constexpr size_t kNoRow = SIZE_MAX;
  size_t before = kNoRow;
  size_t after = kNoRow;
  if (edges) {
    for (size_t row = lo; row-- > 0;) {
      if (values[row] != kMissing) {
        before = row;
        break;
      }
    }
    for (size_t row = hi; row < times.size(); ++row) {
      if (values[row] != kMissing) {
        after = row;
        break;
      }
    }
  }
  const size_t budget = static_cast<size_t>(std::max(pixelColumns, 2)) -
                        (before != kNoRow ? 1 : 0) - (after != kNoRow ? 1 : 0);
  size_t present = 0;
  for (size_t row = lo; row < hi && present <= budget; ++row) {
    if (values[row] != kMissing && (ascending || inRange(row))) ++present;
  }

  if (before != kNoRow) builder.Add(before, false);

  if (present <= budget) {
    for (size_t row = lo; row < hi; ++row) {
      if (values[row] != kMissing && (ascending || inRange(row))) builder.Add(row, true);
    }
  } else {
    // The first and last rows of the range are drawn too, so the line ends at the newest
    // value; the buckets share what is left.
    const bool ends = ascending && budget >= 4;
    const size_t buckets = ends ? budget / 2 - 1 : budget / 2;
    const double span = std::max(toMs - fromMs, 1.0);
    constexpr size_t kNone = SIZE_MAX;
    std::vector<size_t> minRow(buckets, kNone);
    std::vector<size_t> maxRow(buckets, kNone);
    size_t firstRow = kNone;
    size_t lastRow = kNone;
    for (size_t row = lo; row < hi; ++row) {
      const int32_t value = values[row];
      if (value == kMissing || (!ascending && !inRange(row))) continue;
      if (firstRow == kNone) firstRow = row;
      lastRow = row;
      const double offset = static_cast<double>(times[row]) - fromMs;
      const size_t bucket =
          std::min(buckets - 1, static_cast<size_t>(offset / span * static_cast<double>(buckets)));
      if (minRow[bucket] == kNone) {
        minRow[bucket] = maxRow[bucket] = row;
      } else if (value < values[minRow[bucket]]) {
        minRow[bucket] = row;
      } else if (value > values[maxRow[bucket]]) {
        maxRow[bucket] = row;
      }
    }
    if (ends) builder.Add(firstRow, true);
    for (size_t bucket = 0; bucket < buckets; ++bucket) {
      if (minRow[bucket] == kNone) continue;
      const size_t first = std::min(minRow[bucket], maxRow[bucket]);
      const size_t second = std::max(minRow[bucket], maxRow[bucket]);
      const auto add = [&](size_t row) {
        if (!ends || (row != firstRow && row != lastRow)) builder.Add(row, true);
      };
      add(first);
      if (second != first) add(second);
    }
    if (ends && lastRow != firstRow) builder.Add(lastRow, true);
  }

  if (after != kNoRow) builder.Add(after, false);
  return builder.Take();
}
