#pragma once

#include <cstdint>

class LogColumns;

// What the chart shows of a log: a span of time and a range of values. The span is the whole
// log, growing with it, until a zoom or a pan fixes it; a fixed span that reaches the end of the
// log moves on with the end as rows arrive, and never leaves the log. The values fit what is
// visible unless a value zoom or a rectangle zoom fixed them.
//
// The zooms and pans return false when they leave everything as it was, for lack of rows.
class VisibleRange {
 public:
  // A log that has just begun is shown over at least this span, so that it grows into view.
  static constexpr double kMinFullSpanMs = 60'000;
  // Zooming stops at a few one-second rows.
  static constexpr double kMinZoomSpanMs = 5'000;

  // The log whose rows bound the span (not owned; null for none). Forgets every zoom.
  void SetLog(const LogColumns* log);
  // After rows arrived, or the log was read again from its start.
  void Follow();
  // The whole log, values fitted.
  void Reset();
  // factor < 1 zooms in; the time at centerMs stays where it is.
  bool ZoomTime(double factor, double centerMs);
  bool ZoomValues(double factor, double center);
  // Zooms into a span of time and, when fixValues, a range of values.
  bool ZoomTo(double fromMs, double toMs, bool fixValues, double low, double high);
  bool Pan(double deltaMs, double deltaValue);

  // Before drawing: the whole log's span unless zoomed; for a log without rows the minute up to
  // nowMs.
  void Settle(double nowMs);
  // After drawing the span: fits the values to what it showed (anyValues false: nothing), with
  // a margin, unless they are fixed.
  void FitValues(bool anyValues, int32_t lowest, int32_t highest);
  // The spacing of the value axis' ticks for at most maxTicks of them; fitted values then start
  // and end on a tick.
  double ValueStep(int maxTicks);

  bool Zoomed() const { return zoomed_; }
  bool ValuesFixed() const { return valuesFixed_; }
  double FromMs() const { return fromMs_; }
  double ToMs() const { return toMs_; }
  double Low() const { return low_; }
  double High() const { return high_; }

 private:
  bool HasRows() const;
  // The first and last row's time, the last at least kMinFullSpanMs after the first.
  bool DataRange(double* first, double* last) const;
  void ClampTime();

  const LogColumns* log_ = nullptr;
  bool zoomed_ = false;
  bool valuesFixed_ = false;
  double fromMs_ = 0;
  double toMs_ = 0;
  double low_ = 0;
  double high_ = 1;
  double lastDataMs_ = 0;
};
