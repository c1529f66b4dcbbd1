#pragma once

#include <QChartView>
#include <QColor>
#include <QHash>
#include <QList>
#include <QPoint>
#include <QString>
#include <QTimer>

class LogColumns;
class QCategoryAxis;
class QLineSeries;
class QRubberBand;
class QValueAxis;

// The chart of a log: one line series per shown device against the rows' time. It owns the
// visible range: the whole log (growing with it) until the user zooms or pans; a zoomed range
// that reaches the end of the log moves on with the end as rows arrive. The value axis scales
// itself to what is visible unless a rectangle zoom or Ctrl+wheel fixed it.
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

  bool Zoomed() const { return zoomed_; }
  bool ValuesFixed() const { return valuesFixed_; }
  double FromMs() const { return fromMs_; }
  double ToMs() const { return toMs_; }
  double Low() const { return low_; }
  double High() const { return high_; }
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
  bool DataRange(double* first, double* last) const;
  void ClampTime();
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

  bool zoomed_ = false;
  bool valuesFixed_ = false;
  double fromMs_ = 0;
  double toMs_ = 0;
  double low_ = 0;
  double high_ = 1;
  double lastDataMs_ = 0;
  int drawnColumns_ = 0;

  Drag drag_ = Drag::None;
  QPoint dragStart_;
  QPoint dragLast_;
  bool crosshair_ = false;
  QPoint cursor_;
  QString crosshairText_;
  QTimer relayout_;
};
