#include "viewer/log_chart_view.h"

#include <QCategoryAxis>
#include <QDateTime>
#include <QGraphicsLayout>
#include <QKeyEvent>
#include <QLegend>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>

#include "viewer/log_columns.h"
#include "viewer/min_max_decimation.h"
#include "viewer/time_ticks.h"

namespace {

constexpr double kWheelStep = 0.8;
constexpr int kMinDragPixels = 4;
constexpr int kValueLabelPixels = 36;

// Distinct on white and for the common colour deficiencies, in the order they are handed out.
constexpr std::array<QRgb, 10> kPalette = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                           0x8c564b, 0xe377c2, 0x17becf, 0xbcbd22, 0x7f7f7f};

}  // namespace

LogChartView::LogChartView(QWidget* parent) : QChartView(new QChart, parent) {
  setObjectName(QStringLiteral("chartView"));
  setRenderHint(QPainter::Antialiasing);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  QChart* chart = this->chart();
  chart->setBackgroundRoundness(0);
  chart->setMargins(QMargins(4, 4, 12, 4));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->legend()->setAlignment(Qt::AlignBottom);

  timeAxis_ = new QCategoryAxis;
  timeAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  valueAxis_ = new QValueAxis;
  valueAxis_->setTickInterval(1);
  valueAxis_->setTickType(QValueAxis::TicksDynamic);
  valueAxis_->setTickAnchor(0);
  valueAxis_->setMinorTickCount(0);
  chart->addAxis(timeAxis_, Qt::AlignBottom);
  chart->addAxis(valueAxis_, Qt::AlignLeft);

  rubberBand_ = new QRubberBand(QRubberBand::Rectangle, viewport());
  rubberBand_->hide();

  // The plot's size settles only after the chart laid itself out; the points follow it.
  relayout_.setSingleShot(true);
  relayout_.setInterval(0);
  connect(&relayout_, &QTimer::timeout, this, &LogChartView::Redraw);
  connect(chart, &QChart::plotAreaChanged, this, [this] {
    if (PixelColumns() != drawnColumns_) relayout_.start();
  });
  Redraw();
}

LogChartView::~LogChartView() = default;

void LogChartView::SetLog(const LogColumns* log) {
  log_ = log;
  range_.SetLog(log);
  SetShownDevices({});
  Refresh();
}

void LogChartView::SetShownDevices(const QList<int>& devices) {
  QList<int> wanted;
  for (const int device : devices) {
    if (log_ != nullptr && device >= 0 && device < log_->DeviceCount() &&
        !wanted.contains(device)) {
      wanted.append(device);
    }
  }
  std::sort(wanted.begin(), wanted.end());
  for (const int device : shown_) {
    if (wanted.contains(device)) continue;
    QLineSeries* series = series_.take(device);
    chart()->removeSeries(series);
    delete series;
    colors_.remove(device);
  }
  for (const int device : wanted) {
    if (series_.contains(device)) continue;
    const QColor color = NextColor();
    colors_.insert(device, color);
    auto* series = new QLineSeries;
    series->setName(log_->DeviceName(device));
    QPen pen(color);
    pen.setWidthF(1.5);
    series->setPen(pen);
    series_.insert(device, series);
  }
  // Added in device order, so the legend reads like the list.
  for (const int device : wanted) {
    QLineSeries* series = series_.value(device);
    if (!chart()->series().contains(series)) {
      chart()->addSeries(series);
      series->attachAxis(timeAxis_);
      series->attachAxis(valueAxis_);
    }
  }
  shown_ = wanted;
  Redraw();
}

QColor LogChartView::NextColor() const {
  for (const QRgb rgb : kPalette) {
    const QColor color(rgb);
    if (std::find(colors_.cbegin(), colors_.cend(), color) == colors_.cend()) return color;
  }
  return QColor(kPalette[static_cast<size_t>(colors_.size()) % kPalette.size()]);
}

void LogChartView::Refresh() {
  // A log read again from its start may hold fewer devices than before.
  if (log_ == nullptr || std::any_of(shown_.cbegin(), shown_.cend(), [this](int device) {
        return device >= log_->DeviceCount();
      })) {
    QList<int> kept;
    for (const int device : shown_) {
      if (log_ != nullptr && device < log_->DeviceCount()) kept.append(device);
    }
    if (kept != shown_) {
      SetShownDevices(kept);
      return;
    }
  }
  range_.Follow();
  Redraw();
}

void LogChartView::ResetZoom() {
  range_.Reset();
  Redraw();
}

void LogChartView::ZoomTime(double factor, double centerMs) {
  if (range_.ZoomTime(factor, centerMs)) Redraw();
}

void LogChartView::ZoomValues(double factor, double center) {
  if (!shown_.isEmpty() && range_.ZoomValues(factor, center)) Redraw();
}

void LogChartView::ZoomIn() { ZoomTime(0.5, (FromMs() + ToMs()) / 2); }

void LogChartView::ZoomOut() { ZoomTime(2.0, (FromMs() + ToMs()) / 2); }

void LogChartView::ZoomTo(double fromMs, double toMs, bool fixValues, double low, double high) {
  if (range_.ZoomTo(fromMs, toMs, fixValues, low, high)) Redraw();
}

void LogChartView::Pan(double deltaMs, double deltaValue) {
  if (range_.Pan(deltaMs, deltaValue)) Redraw();
}

int LogChartView::PixelColumns() const {
  const qreal width = chart()->plotArea().width();
  const int columns = width > 0 ? static_cast<int>(width) : viewport()->width() - 80;
  return std::max(columns, 2);
}

void LogChartView::Redraw() {
  range_.Settle(static_cast<double>(QDateTime::currentMSecsSinceEpoch()));
  const int columns = PixelColumns();
  bool anyValues = false;
  int32_t lowest = 0;
  int32_t highest = 0;
  for (const int device : shown_) {
    DecimatedSeries decimated = DecimateMinMax(*log_, device, FromMs(), ToMs(), columns);
    series_.value(device)->replace(decimated.points);
    if (!decimated.hasValues) continue;
    lowest = anyValues ? std::min(lowest, decimated.min) : decimated.min;
    highest = anyValues ? std::max(highest, decimated.max) : decimated.max;
    anyValues = true;
  }
  drawnColumns_ = columns;
  range_.FitValues(anyValues, lowest, highest);
  UpdateTimeAxis();
  UpdateValueAxis();
  viewport()->update();
  emit ViewChanged();
}

void LogChartView::UpdateTimeAxis() {
  const TimeTicks ticks(FromMs(), ToMs(), PixelColumns());
  for (const QString& label : timeAxis_->categoriesLabels()) timeAxis_->remove(label);
  timeAxis_->setStartValue(FromMs());
  for (const TimeTicks::Tick& tick : ticks.Ticks()) timeAxis_->append(tick.label, tick.ms);
  timeAxis_->setRange(FromMs(), ToMs());
  timeAxis_->setTitleText(ticks.Title());
}

void LogChartView::UpdateValueAxis() {
  const qreal height = chart()->plotArea().height();
  const int maxTicks = std::max(2, static_cast<int>(height > 0 ? height : 300) / kValueLabelPixels);
  const double step = range_.ValueStep(maxTicks);
  // Never a wide range with a fine interval on the way, which would lay out countless ticks.
  valueAxis_->setTickInterval(std::max(High() - Low(), valueAxis_->max() - valueAxis_->min()));
  valueAxis_->setRange(Low(), High());
  valueAxis_->setTickInterval(step);
  valueAxis_->setLabelFormat(step >= 1
                                 ? QStringLiteral("%.0f")
                                 : (step >= 0.1 ? QStringLiteral("%.1f") : QStringLiteral("%.2f")));
}

QRectF LogChartView::PlotRect() const {
  return mapFromScene(chart()->mapToScene(chart()->plotArea())).boundingRect();
}

double LogChartView::TimeAt(double x) const {
  const QRectF plot = PlotRect();
  if (plot.width() <= 0) return FromMs();
  return FromMs() + (x - plot.left()) / plot.width() * (ToMs() - FromMs());
}

double LogChartView::ValueAt(double y) const {
  const QRectF plot = PlotRect();
  if (plot.height() <= 0) return Low();
  return High() - (y - plot.top()) / plot.height() * (High() - Low());
}

void LogChartView::UpdateCrosshair(const QPoint& position) {
  const bool inside = log_ != nullptr && log_->RowCount() > 0 && PlotRect().contains(position);
  QString text;
  if (inside) {
    cursor_ = position;
    double time = TimeAt(position.x());
    // The nearest logged row's time: rows are what the log holds, and seconds are its grain.
    const auto times = log_->Times();
    if (log_->TimesAscending()) {
      const auto next = std::lower_bound(times.begin(), times.end(), static_cast<int64_t>(time));
      int64_t best = next == times.end() ? times.back() : *next;
      if (next != times.begin() && (next == times.end() || time - static_cast<double>(*(next - 1)) <
                                                               static_cast<double>(*next) - time)) {
        best = *(next - 1);
      }
      time = static_cast<double>(best);
    }
    const double value = ValueAt(position.y());
    const int decimals = High() - Low() < 20 ? 1 : 0;
    text = tr("%1   value %2")
               .arg(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(time))
                        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                    QString::number(value, 'f', decimals));
  }
  if (inside != crosshair_ || text != crosshairText_) {
    crosshair_ = inside;
    crosshairText_ = text;
    viewport()->update();
    emit CursorMoved(text);
  }
}

void LogChartView::mousePressEvent(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  const bool inPlot = PlotRect().contains(position);
  if (inPlot && (event->button() == Qt::MiddleButton ||
                 (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier)))) {
    drag_ = Drag::Pan;
    dragLast_ = position;
    viewport()->setCursor(Qt::ClosedHandCursor);
  } else if (inPlot && event->button() == Qt::LeftButton) {
    drag_ = Drag::Zoom;
    dragStart_ = position;
    rubberBand_->setGeometry(QRect(position, QSize()));
    rubberBand_->show();
  } else {
    QChartView::mousePressEvent(event);
    return;
  }
  event->accept();
}

void LogChartView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  if (drag_ == Drag::Zoom) {
    rubberBand_->setGeometry(QRect(dragStart_, position).normalized() & PlotRect().toRect());
  } else if (drag_ == Drag::Pan) {
    const QRectF plot = PlotRect();
    const QPoint delta = position - dragLast_;
    dragLast_ = position;
    if (plot.width() > 0 && plot.height() > 0) {
      Pan(-delta.x() / plot.width() * (ToMs() - FromMs()),
          delta.y() / plot.height() * (High() - Low()));
    }
  }
  UpdateCrosshair(position);
  QChartView::mouseMoveEvent(event);
}

void LogChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (drag_ == Drag::Zoom) {
    const QRect band = rubberBand_->geometry();
    rubberBand_->hide();
    drag_ = Drag::None;
    // A flat drag zooms time alone; a rectangle fixes the values too.
    if (band.width() >= kMinDragPixels) {
      ZoomTo(TimeAt(band.left()), TimeAt(band.right() + 1), band.height() >= kMinDragPixels,
             ValueAt(band.bottom() + 1), ValueAt(band.top()));
    }
    event->accept();
    return;
  }
  if (drag_ == Drag::Pan) {
    drag_ = Drag::None;
    viewport()->unsetCursor();
    event->accept();
    return;
  }
  QChartView::mouseReleaseEvent(event);
}

void LogChartView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    ResetZoom();
    event->accept();
    return;
  }
  QChartView::mouseDoubleClickEvent(event);
}

void LogChartView::wheelEvent(QWheelEvent* event) {
  const int notches = event->angleDelta().y();
  if (notches == 0) {
    event->ignore();
    return;
  }
  const double factor = std::pow(kWheelStep, notches / 120.0);
  const QPointF position = event->position();
  const bool inPlot = PlotRect().contains(position);
  if (event->modifiers() & Qt::ControlModifier) {
    ZoomValues(factor, inPlot ? ValueAt(position.y()) : (Low() + High()) / 2);
  } else {
    ZoomTime(factor, inPlot ? TimeAt(position.x()) : (FromMs() + ToMs()) / 2);
  }
  event->accept();
}

void LogChartView::keyPressEvent(QKeyEvent* event) {
  const double span = ToMs() - FromMs();
  const double range = High() - Low();
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      ZoomIn();
      break;
    case Qt::Key_Minus:
      ZoomOut();
      break;
    case Qt::Key_Left:
      Pan(-span / 10, 0);
      break;
    case Qt::Key_Right:
      Pan(span / 10, 0);
      break;
    case Qt::Key_Up:
      Pan(0, range / 10);
      break;
    case Qt::Key_Down:
      Pan(0, -range / 10);
      break;
    case Qt::Key_Home:
      ResetZoom();
      break;
    default:
      QChartView::keyPressEvent(event);
      return;
  }
  event->accept();
}

void LogChartView::leaveEvent(QEvent* event) {
  if (crosshair_) {
    crosshair_ = false;
    crosshairText_.clear();
    viewport()->update();
    emit CursorMoved(QString());
  }
  QChartView::leaveEvent(event);
}

void LogChartView::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  relayout_.start();
}

void LogChartView::drawForeground(QPainter* painter, const QRectF& rect) {
  QChartView::drawForeground(painter, rect);
  const QRectF plot = chart()->mapToScene(chart()->plotArea()).boundingRect();
  painter->save();
  if (log_ == nullptr || log_->RowCount() == 0 || shown_.isEmpty()) {
    QString hint = tr("Open a log with File > Open, or drop a file here.");
    if (log_ != nullptr && log_->RowCount() == 0) {
      hint = tr("Waiting for the first row…");
    } else if (log_ != nullptr) {
      hint = tr("Tick devices in the list to chart them.");
    }
    painter->setPen(palette().color(QPalette::PlaceholderText));
    painter->drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, hint);
  } else if (crosshair_) {
    const QPointF at = mapToScene(cursor_);
    QPen pen(QColor(0x55, 0x55, 0x55));
    pen.setStyle(Qt::DashLine);
    pen.setCosmetic(true);
    painter->setPen(pen);
    painter->drawLine(QPointF(at.x(), plot.top()), QPointF(at.x(), plot.bottom()));
    painter->drawLine(QPointF(plot.left(), at.y()), QPointF(plot.right(), at.y()));
    const QFontMetrics metrics(painter->font());
    QRectF box = metrics.boundingRect(crosshairText_).adjusted(-4, -2, 4, 2);
    box.moveTopLeft(at + QPointF(10, 10));
    if (box.right() > plot.right()) box.moveRight(at.x() - 10);
    if (box.bottom() > plot.bottom()) box.moveBottom(at.y() - 10);
    painter->setPen(QColor(0x99, 0x99, 0x99));
    painter->setBrush(QColor(255, 255, 255, 230));
    painter->drawRect(box);
    painter->setPen(Qt::black);
    painter->drawText(box, Qt::AlignCenter, crosshairText_);
  }
  painter->restore();
}
