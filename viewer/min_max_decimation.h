#pragma once

#include <QList>
#include <QPointF>
#include <cstdint>

class LogColumns;

// What one series shows of a device: points (x = milliseconds since the epoch, y = value) and
// the range of the values inside the time range, for scaling.
struct DecimatedSeries {
  QList<QPointF> points;
  bool hasValues = false;
  int32_t min = 0;
  int32_t max = 0;
};

// The points of `device` for a plot `pixelColumns` wide showing [fromMs, toMs], never more
// points than pixel columns. While the range's rows and the neighbours below fit in them,
// every row is a point; otherwise the range is cut into buckets two pixels wide and each bucket
// keeps its minimum and its maximum in the order they were logged, so a one-row spike stays visible
// at any zoom; the range's first and last rows are kept as well, so the line ends at the newest
// value. The nearest rows just outside the range (the neighbours) are added while the times
// ascend and the plot is at least four pixels wide, so the line runs on to the plot's edges.
// Missing values are left out.
DecimatedSeries DecimateMinMax(const LogColumns& log, int device, double fromMs, double toMs,
                               int pixelColumns);
