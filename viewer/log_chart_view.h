#pragma once

#include <QChartView>
#include <QColor>
#include <QHash>
#include <QList>
#include <QPoint>
#include <QString>
#include <QTimer>

#include "viewer/visible_range.h"

class LogColumns;
class QCategoryAxis;
class QLineSeries;
class QRubberBand;
class QValueAxis;

// The chart of a log: one line series per shown device against the rows' time, over the span
// and values its VisibleRange holds (see there for zooming and following the end).
//
// Mouse: wheel zooms time about the cursor (Ctrl+wheel: values), a left drag zooms into its
// rectangle, a middle or Shift+left drag pans, a double click resets. Keys: + and - zoom,
// arrows pan, Home resets. A crosshair follows the cursor with its time and value.
class LogChartView : public QChartView {
  Q_OBJECT

 public:
  explicit LogChartView(QWidget* parent = nullptr);
  ~LogChartView() override;

  // The log to draw from (not owned; null for none). Resets the zoom.
  void SetLog(const LogColumns* log);
  void SetShownDevices(const QList<int>& devices);
  const QList<int>& ShownDevices() const { return shown_; }
  // The colour of a shown device's line; invalid for a device not shown.
  QColor ColorOf(int device) const { return colors_.value(device); }

  // Draws again after the log changed (rows appended, or read again from its start).
  void Refresh();
  void ResetZoom();
  // factor < 1 zooms in; the time at centerMs stays where it is.
  void ZoomTime(double factor, double centerMs);
  void ZoomValues(double factor, double center);
  void ZoomIn();
  void ZoomOut();
  // Zooms into a range of time and, when fixValues, of values.
  void ZoomTo(double fromMs, double toMs, bool fixValues, double low, double high);
  void Pan(double deltaMs, double deltaValue);

  bool Zoomed() const { return range_.Zoomed(); }
  bool ValuesFixed() const { return range_.ValuesFixed(); }
  double FromMs() const { return range_.FromMs(); }
  double ToMs() const { return range_.ToMs(); }
  double Low() const { return range_.Low(); }
  double High() const { return range_.High(); }
  // Pixel columns of the plot: no series ever holds more points.
  int PixelColumns() const;
  QLineSeries* SeriesOf(int device) const { return series_.value(device); }
  QString CrosshairText() const { return crosshairText_; }

 signals:
  // The visible range or the shown devices changed.
  void ViewChanged();
  // What the crosshair points at ("2004-01-10 09:05:08  value 123"), empty when it left.
  void CursorMoved(const QString& text);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void drawForeground(QPainter* painter, const QRectF& rect) override;

 private:
  enum class Drag { None, Zoom, Pan };

  void Redraw();
  void UpdateTimeAxis();
  void UpdateValueAxis();
  QRectF PlotRect() const;
  double TimeAt(double x) const;
  double ValueAt(double y) const;
  void UpdateCrosshair(const QPoint& position);
  QColor NextColor() const;

  const LogColumns* log_ = nullptr;
  QList<int> shown_;
  QHash<int, QLineSeries*> series_;
  QHash<int, QColor> colors_;
  QCategoryAxis* timeAxis_ = nullptr;
  QValueAxis* valueAxis_ = nullptr;
  QRubberBand* rubberBand_ = nullptr;

  VisibleRange range_;
  int drawnColumns_ = 0;

  Drag drag_ = Drag::None;
  QPoint dragStart_;
  QPoint dragLast_;
  bool crosshair_ = false;
  QPoint cursor_;
  QString crosshairText_;
  QTimer relayout_;
};
