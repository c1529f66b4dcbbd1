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

namespace {

constexpr double kSecondMs = 1000;
constexpr double kMinuteMs = 60 * kSecondMs;
constexpr double kHourMs = 60 * kMinuteMs;
constexpr double kDayMs = 24 * kHourMs;
// A log that has just begun is shown over at least this span, so that it grows into view.
constexpr double kMinFullSpanMs = kMinuteMs;
// Zooming stops at a few one-second rows.
constexpr double kMinZoomSpanMs = 5 * kSecondMs;
constexpr double kWheelStep = 0.8;
constexpr int kMinDragPixels = 4;
constexpr int kTimeLabelPixels = 90;
constexpr int kValueLabelPixels = 36;

// Distinct on white and for the common colour deficiencies, in the order they are handed out.
constexpr std::array<QRgb, 10> kPalette = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                           0x8c564b, 0xe377c2, 0x17becf, 0xbcbd22, 0x7f7f7f};

// Tick spacings a reader takes in at a glance.
constexpr std::array<double, 21> kTimeSteps = {
    1 * kSecondMs, 2 * kSecondMs, 5 * kSecondMs, 10 * kSecondMs, 15 * kSecondMs, 30 * kSecondMs,
    1 * kMinuteMs, 2 * kMinuteMs, 5 * kMinuteMs, 10 * kMinuteMs, 15 * kMinuteMs, 30 * kMinuteMs,
    1 * kHourMs,   2 * kHourMs,   3 * kHourMs,   6 * kHourMs,    12 * kHourMs,   1 * kDayMs,
    2 * kDayMs,    7 * kDayMs,    30 * kDayMs};

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
  SetShownDevices({});
  zoomed_ = false;
  valuesFixed_ = false;
  lastDataMs_ = 0;
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
  Redraw();
}

bool LogChartView::DataRange(double* first, double* last) const {
  if (log_ == nullptr || log_->RowCount() == 0) return false;
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

void LogChartView::ClampTime() {
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

void LogChartView::ResetZoom() {
  zoomed_ = false;
  valuesFixed_ = false;
  Redraw();
}

void LogChartView::ZoomTime(double factor, double centerMs) {
  if (log_ == nullptr || log_->RowCount() == 0 || !(factor > 0)) return;
  const double span = std::max((toMs_ - fromMs_) * factor, kMinZoomSpanMs);
  const double applied = span / std::max(toMs_ - fromMs_, 1.0);
  centerMs = std::clamp(centerMs, fromMs_, toMs_);
  fromMs_ = centerMs - (centerMs - fromMs_) * applied;
  toMs_ = fromMs_ + span;
  zoomed_ = true;
  ClampTime();
  Redraw();
}

void LogChartView::ZoomValues(double factor, double center) {
  if (!(factor > 0) || shown_.isEmpty()) return;
  center = std::clamp(center, low_, high_);
  low_ = center - (center - low_) * factor;
  high_ = center + (high_ - center) * factor;
  if (high_ - low_ < 1e-3) high_ = low_ + 1e-3;
  valuesFixed_ = true;
  Redraw();
}

void LogChartView::ZoomIn() { ZoomTime(0.5, (fromMs_ + toMs_) / 2); }

void LogChartView::ZoomOut() { ZoomTime(2.0, (fromMs_ + toMs_) / 2); }

void LogChartView::ZoomTo(double fromMs, double toMs, bool fixValues, double low, double high) {
  if (log_ == nullptr || log_->RowCount() == 0) return;
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
  Redraw();
}

void LogChartView::Pan(double deltaMs, double deltaValue) {
  if (log_ == nullptr || log_->RowCount() == 0) return;
  if (zoomed_) {
    fromMs_ += deltaMs;
    toMs_ += deltaMs;
    ClampTime();
  }
  if (valuesFixed_) {
    low_ += deltaValue;
    high_ += deltaValue;
  }
  Redraw();
}

int LogChartView::PixelColumns() const {
  const qreal width = chart()->plotArea().width();
  const int columns = width > 0 ? static_cast<int>(width) : viewport()->width() - 80;
  return std::max(columns, 2);
}

void LogChartView::Redraw() {
  double first = 0;
  double last = 0;
  const bool hasRows = DataRange(&first, &last);
  if (!zoomed_) {
    if (hasRows) {
      fromMs_ = first;
      toMs_ = last;
    } else {
      const auto now = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
      fromMs_ = now - kMinFullSpanMs;
      toMs_ = now;
    }
  }
  const int columns = PixelColumns();
  bool anyValues = false;
  int32_t lowest = 0;
  int32_t highest = 0;
  for (const int device : shown_) {
    DecimatedSeries decimated = DecimateMinMax(*log_, device, fromMs_, toMs_, columns);
    series_.value(device)->replace(decimated.points);
    if (!decimated.hasValues) continue;
    lowest = anyValues ? std::min(lowest, decimated.min) : decimated.min;
    highest = anyValues ? std::max(highest, decimated.max) : decimated.max;
    anyValues = true;
  }
  drawnColumns_ = columns;
  if (!valuesFixed_) {
    if (!anyValues) {
      lowest = 0;
      highest = 10;
    }
    // A flat line sits in the middle of a small range rather than on the plot's edge.
    const double pad = std::max((static_cast<double>(highest) - lowest) * 0.05, 1.0);
    low_ = lowest - pad;
    high_ = highest + pad;
  }
  UpdateTimeAxis();
  UpdateValueAxis();
  viewport()->update();
  emit ViewChanged();
}

void LogChartView::UpdateTimeAxis() {
  const double span = std::max(toMs_ - fromMs_, 1.0);
  const int maxTicks = std::max(2, PixelColumns() / kTimeLabelPixels);
  double step = kTimeSteps.back();
  for (const double candidate : kTimeSteps) {
    if (span / candidate <= maxTicks) {
      step = candidate;
      break;
    }
  }
  QString format = QStringLiteral("HH:mm");
  if (step < kMinuteMs) {
    format = QStringLiteral("HH:mm:ss");
  } else if (span > 20 * kHourMs) {
    format = step >= kDayMs ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("MM-dd HH:mm");
  }
  for (const QString& label : timeAxis_->categoriesLabels()) timeAxis_->remove(label);
  // Ticks on round local times: the step is counted from local midnight.
  const QDateTime start = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(fromMs_));
  const double offset = start.offsetFromUtc() * kSecondMs;
  double tick = std::ceil((fromMs_ + offset) / step) * step - offset;
  timeAxis_->setStartValue(fromMs_);
  for (; tick <= toMs_; tick += step) {
    if (tick <= fromMs_) continue;
    timeAxis_->append(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(tick)).toString(format),
                      tick);
  }
  timeAxis_->setRange(fromMs_, toMs_);
  const QString firstDay = start.toString(QStringLiteral("yyyy-MM-dd"));
  const QString lastDay = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(toMs_))
                              .toString(QStringLiteral("yyyy-MM-dd"));
  timeAxis_->setTitleText(firstDay == lastDay ? firstDay
                                              : firstDay + QStringLiteral(" – ") + lastDay);
}

void LogChartView::UpdateValueAxis() {
  const qreal height = chart()->plotArea().height();
  const int maxTicks = std::max(2, static_cast<int>(height > 0 ? height : 300) / kValueLabelPixels);
  double step = NiceStep((high_ - low_) / maxTicks);
  if (!valuesFixed_) {
    // Values are integers: whole ticks, and a range that ends on them.
    step = std::max(step, 1.0);
    low_ = std::floor(low_ / step) * step;
    high_ = std::ceil(high_ / step) * step;
  }
  // Never a wide range with a fine interval on the way, which would lay out countless ticks.
  valueAxis_->setTickInterval(std::max(high_ - low_, valueAxis_->max() - valueAxis_->min()));
  valueAxis_->setRange(low_, high_);
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
  if (plot.width() <= 0) return fromMs_;
  return fromMs_ + (x - plot.left()) / plot.width() * (toMs_ - fromMs_);
}

double LogChartView::ValueAt(double y) const {
  const QRectF plot = PlotRect();
  if (plot.height() <= 0) return low_;
  return high_ - (y - plot.top()) / plot.height() * (high_ - low_);
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
    const int decimals = high_ - low_ < 20 ? 1 : 0;
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
      Pan(-delta.x() / plot.width() * (toMs_ - fromMs_),
          delta.y() / plot.height() * (high_ - low_));
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
    ZoomValues(factor, inPlot ? ValueAt(position.y()) : (low_ + high_) / 2);
  } else {
    ZoomTime(factor, inPlot ? TimeAt(position.x()) : (fromMs_ + toMs_) / 2);
  }
  event->accept();
}

void LogChartView::keyPressEvent(QKeyEvent* event) {
  const double span = toMs_ - fromMs_;
  const double range = high_ - low_;
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
