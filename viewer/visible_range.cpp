#include "viewer/visible_range.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "viewer/log_columns.h"

namespace {

// 1, 2 or 5 times a power of ten, at least raw.
double NiceStep(double raw) {
  if (!(raw > 0)) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * power >= raw) return factor * power;
  }
  return 10 * power;
}

}  // namespace

void VisibleRange::SetLog(const LogColumns* log) {
  log_ = log;
  zoomed_ = false;
  valuesFixed_ = false;
  lastDataMs_ = 0;
  Follow();
}

void VisibleRange::Follow() {
  double first = 0;
  double last = 0;
  if (DataRange(&first, &last)) {
    // A zoomed view that shows the newest rows keeps showing them.
    if (zoomed_ && toMs_ >= lastDataMs_ && last > lastDataMs_) {
      fromMs_ += last - lastDataMs_;
      toMs_ += last - lastDataMs_;
    }
    lastDataMs_ = last;
  } else {
    zoomed_ = false;
    lastDataMs_ = 0;
  }
}

void VisibleRange::Reset() {
  zoomed_ = false;
  valuesFixed_ = false;
}

bool VisibleRange::ZoomTime(double factor, double centerMs) {
  if (!HasRows() || !(factor > 0)) return false;
  const double span = std::max((toMs_ - fromMs_) * factor, kMinZoomSpanMs);
  const double applied = span / std::max(toMs_ - fromMs_, 1.0);
  centerMs = std::clamp(centerMs, fromMs_, toMs_);
  fromMs_ = centerMs - (centerMs - fromMs_) * applied;
  toMs_ = fromMs_ + span;
  zoomed_ = true;
  ClampTime();
  return true;
}

bool VisibleRange::ZoomValues(double factor, double center) {
  if (!(factor > 0)) return false;
  center = std::clamp(center, low_, high_);
  low_ = center - (center - low_) * factor;
  high_ = center + (high_ - center) * factor;
  if (high_ - low_ < 1e-3) high_ = low_ + 1e-3;
  valuesFixed_ = true;
  return true;
}

bool VisibleRange::ZoomTo(double fromMs, double toMs, bool fixValues, double low, double high) {
  if (!HasRows()) return false;
  if (toMs < fromMs) std::swap(fromMs, toMs);
  if (toMs - fromMs < kMinZoomSpanMs) {
    const double center = (fromMs + toMs) / 2;
    fromMs = center - kMinZoomSpanMs / 2;
    toMs = center + kMinZoomSpanMs / 2;
  }
  fromMs_ = fromMs;
  toMs_ = toMs;
  zoomed_ = true;
  if (fixValues) {
    low_ = std::min(low, high);
    high_ = std::max({low, high, low_ + 1e-3});
    valuesFixed_ = true;
  }
  ClampTime();
  return true;
}

bool VisibleRange::Pan(double deltaMs, double deltaValue) {
  if (!HasRows()) return false;
  if (zoomed_) {
    fromMs_ += deltaMs;
    toMs_ += deltaMs;
    ClampTime();
  }
  if (valuesFixed_) {
    low_ += deltaValue;
    high_ += deltaValue;
  }
  return true;
}

void VisibleRange::Settle(double nowMs) {
  if (zoomed_) return;
  double first = 0;
  double last = 0;
  if (DataRange(&first, &last)) {
    fromMs_ = first;
    toMs_ = last;
  } else {
    fromMs_ = nowMs - kMinFullSpanMs;
    toMs_ = nowMs;
  }
}

void VisibleRange::FitValues(bool anyValues, int32_t lowest, int32_t highest) {
  if (valuesFixed_) return;
  if (!anyValues) {
    lowest = 0;
    highest = 10;
  }
  // A flat line sits in the middle of a small range rather than on the plot's edge.
  const double pad = std::max((static_cast<double>(highest) - lowest) * 0.05, 1.0);
  low_ = lowest - pad;
  high_ = highest + pad;
}

double VisibleRange::ValueStep(int maxTicks) {
  double step = NiceStep((high_ - low_) / maxTicks);
  if (!valuesFixed_) {
    // Values are integers: whole ticks, and a range that ends on them.
    step = std::max(step, 1.0);
    low_ = std::floor(low_ / step) * step;
    high_ = std::ceil(high_ / step) * step;
  }
  return step;
}

bool VisibleRange::HasRows() const { return log_ != nullptr && log_->RowCount() > 0; }

bool VisibleRange::DataRange(double* first, double* last) const {
  if (!HasRows()) return false;
  const auto times = log_->Times();
  if (log_->TimesAscending()) {
    *first = static_cast<double>(times.front());
    *last = static_cast<double>(times.back());
  } else {
    const auto [low, high] = std::minmax_element(times.begin(), times.end());
    *first = static_cast<double>(*low);
    *last = static_cast<double>(*high);
  }
  *last = std::max(*last, *first + kMinFullSpanMs);
  return true;
}

void VisibleRange::ClampTime() {
  double first = 0;
  double last = 0;
  // With a little tolerance, so that zooming in and out again by one wheel step each ends
  // at the whole log despite rounding.
  if (!DataRange(&first, &last) || toMs_ - fromMs_ >= (last - first) * (1 - 1e-9)) {
    zoomed_ = false;
    return;
  }
  const double span = toMs_ - fromMs_;
  if (fromMs_ < first) {
    fromMs_ = first;
    toMs_ = first + span;
  }
  if (toMs_ > last) {
    toMs_ = last;
    fromMs_ = last - span;
  }
}
