#include "viewer/log_chart_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineSeries>
#include <QSet>
#include <QTest>
#include <QWheelEvent>
#include <memory>
#include <vector>

#include "tests/net/wait_until.h"
#include "tests/viewer/log_text.h"
#include "viewer/log_columns.h"
#include "viewer/log_parser.h"

namespace {

constexpr int64_t kStartMs = 1'000'000'000'000;

// `rows` one-second rows of `devices` devices: value = row % 100 + device * 1000.
void Fill(LogColumns* log, int devices, int rows, int firstRow = 0) {
  for (int d = log->DeviceCount(); d < devices; ++d) log->AddDevice(QStringLiteral("D%1").arg(d));
  std::vector<int32_t> values(static_cast<size_t>(devices));
  for (int row = firstRow; row < firstRow + rows; ++row) {
    for (int d = 0; d < devices; ++d) values[static_cast<size_t>(d)] = row % 100 + d * 1000;
    log->AppendRow(kStartMs + int64_t{row} * 1000, values);
  }
}

class LogChartViewTest : public ::testing::Test {
 protected:
  void Show(int devices, int rows) {
    Fill(&log_, devices, rows);
    view_.resize(900, 500);
    view_.show();
    view_.SetLog(&log_);
    QList<int> all;
    for (int d = 0; d < devices; ++d) all.append(d);
    view_.SetShownDevices(all);
    ASSERT_TRUE(WaitUntil([&] { return view_.chart()->plotArea().width() > 100; }));
    QApplication::processEvents();
  }

  QPoint PlotPoint(double fx, double fy) const {
    const QRectF plot = view_.chart()->plotArea();
    return view_.mapFromScene(view_.chart()->mapToScene(
        QPointF(plot.left() + fx * plot.width(), plot.top() + fy * plot.height())));
  }

  void Wheel(const QPoint& at, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWheelEvent event(at, view_.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view_.viewport(), &event);
  }

  LogColumns log_;
  LogChartView view_;
};

TEST_F(LogChartViewTest, NoSeriesHoldsMorePointsThanThePlotHasColumns) {
  Show(3, 86'400);
  // One spike a day: it must be drawn whatever the zoom.
  log_.AddDevice(QStringLiteral("spiky"));
  std::vector<int32_t> row(4, 0);
  row[3] = 9999;
  log_.AppendRow(kStartMs + 86'400'000, row);
  view_.SetShownDevices({0, 1, 2, 3});
  const int columns = view_.PixelColumns();
  EXPECT_GT(columns, 500);
  const auto check = [&] {
    for (const int device : view_.ShownDevices()) {
      EXPECT_LE(view_.SeriesOf(device)->count(), columns) << "device " << device;
    }
  };
  check();
  const QList<QPointF> spike = view_.SeriesOf(3)->points();
  EXPECT_TRUE(
      std::any_of(spike.begin(), spike.end(), [](const QPointF& p) { return p.y() == 9999; }));
  view_.ZoomTo(kStartMs + 3'600'000.0, kStartMs + 7'200'000.0, false, 0, 0);
  check();
  EXPECT_GT(view_.SeriesOf(0)->count(), columns / 2);
}

TEST_F(LogChartViewTest, WheelZoomsTimeAboutTheCursor) {
  Show(2, 3600);
  const QPoint at = PlotPoint(0.25, 0.5);
  const double before = view_.FromMs() + 0.25 * (view_.ToMs() - view_.FromMs());
  const double span = view_.ToMs() - view_.FromMs();
  Wheel(at, 120);
  EXPECT_TRUE(view_.Zoomed());
  EXPECT_NEAR(view_.ToMs() - view_.FromMs(), span * 0.8, 1);
  EXPECT_NEAR(view_.FromMs() + 0.25 * (view_.ToMs() - view_.FromMs()), before, 2000);
  Wheel(at, -120);
  EXPECT_FALSE(view_.Zoomed());  // back to the whole log
  EXPECT_FALSE(view_.ValuesFixed());
  Wheel(at, 120, Qt::ControlModifier);
  EXPECT_TRUE(view_.ValuesFixed());
  EXPECT_FALSE(view_.Zoomed());
}

TEST_F(LogChartViewTest, DragZoomsIntoItsRectangleAndDoubleClickResets) {
  Show(2, 3600);
  const QPoint from = PlotPoint(0.2, 0.2);
  const QPoint to = PlotPoint(0.4, 0.8);
  const double span = view_.ToMs() - view_.FromMs();
  const double expectedFrom = view_.FromMs() + 0.2 * span;
  QTest::mousePress(view_.viewport(), Qt::LeftButton, Qt::NoModifier, from);
  QTest::mouseMove(view_.viewport(), to);
  QTest::mouseRelease(view_.viewport(), Qt::LeftButton, Qt::NoModifier, to);
  EXPECT_TRUE(view_.Zoomed());
  EXPECT_TRUE(view_.ValuesFixed());
  EXPECT_NEAR(view_.FromMs(), expectedFrom, span / 100);
  EXPECT_NEAR(view_.ToMs() - view_.FromMs(), 0.2 * span, span / 100);
  QTest::mouseDClick(view_.viewport(), Qt::LeftButton, Qt::NoModifier, to);
  EXPECT_FALSE(view_.Zoomed());
  EXPECT_FALSE(view_.ValuesFixed());
}

TEST_F(LogChartViewTest, FlatDragZoomsTimeAloneAndValuesScaleToWhatIsVisible) {
  Show(1, 3600);
  EXPECT_LE(view_.Low(), 0);
  EXPECT_GE(view_.High(), 99);
  QTest::mousePress(view_.viewport(), Qt::LeftButton, Qt::NoModifier, PlotPoint(0.0, 0.5));
  QTest::mouseMove(view_.viewport(), PlotPoint(0.01, 0.5));
  QTest::mouseRelease(view_.viewport(), Qt::LeftButton, Qt::NoModifier, PlotPoint(0.01, 0.5));
  ASSERT_TRUE(view_.Zoomed());
  EXPECT_FALSE(view_.ValuesFixed());
  // About 36 rows from row 0: values 0..36 and the neighbour after, in a range that fits them.
  EXPECT_LE(view_.Low(), 0);
  EXPECT_LT(view_.High(), 60);
}

TEST_F(LogChartViewTest, PanStaysWithinTheLog) {
  Show(1, 3600);
  view_.ZoomTo(kStartMs + 1'000'000.0, kStartMs + 1'360'000.0, false, 0, 0);
  QTest::keyClick(&view_, Qt::Key_Right);
  EXPECT_NEAR(view_.FromMs(), kStartMs + 1'036'000.0, 1);
  for (int i = 0; i < 200; ++i) QTest::keyClick(&view_, Qt::Key_Right);
  EXPECT_DOUBLE_EQ(view_.ToMs(), kStartMs + 3'599'000.0);
  EXPECT_NEAR(view_.ToMs() - view_.FromMs(), 360'000, 1);
  QTest::keyClick(&view_, Qt::Key_Home);
  EXPECT_FALSE(view_.Zoomed());
}

TEST_F(LogChartViewTest, ZoomAtTheEndMovesOnWithNewRowsElsewhereStays) {
  Show(1, 3600);
  view_.ZoomTo(kStartMs + 3'000'000.0, kStartMs + 3'599'000.0, false, 0, 0);
  Fill(&log_, 1, 60, 3600);
  view_.Refresh();
  EXPECT_DOUBLE_EQ(view_.ToMs(), kStartMs + 3'659'000.0);
  EXPECT_DOUBLE_EQ(view_.FromMs(), kStartMs + 3'060'000.0);

  view_.ZoomTo(kStartMs + 1'000'000.0, kStartMs + 2'000'000.0, false, 0, 0);
  Fill(&log_, 1, 60, 3660);
  view_.Refresh();
  EXPECT_DOUBLE_EQ(view_.FromMs(), kStartMs + 1'000'000.0);
}

TEST_F(LogChartViewTest, WholeLogGrowsWithItsRows) {
  Show(1, 10);
  // A young log is shown over a minute at least, so its rows grow into view.
  EXPECT_DOUBLE_EQ(view_.ToMs() - view_.FromMs(), 60'000);
  Fill(&log_, 1, 100, 10);
  view_.Refresh();
  EXPECT_DOUBLE_EQ(view_.ToMs(), kStartMs + 109'000.0);
  EXPECT_EQ(view_.SeriesOf(0)->count(), 110);
}

TEST_F(LogChartViewTest, CrosshairShowsTheNearestRowsTime) {
  Show(1, 61);
  QTest::mouseMove(view_.viewport(), PlotPoint(0.5, 0.5));
  const QString expected = QDateTime::fromMSecsSinceEpoch(kStartMs + 30'000)
                               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  EXPECT_TRUE(view_.CrosshairText().contains(expected)) << view_.CrosshairText().toStdString();
  QTest::mouseMove(view_.viewport(), QPoint(1, 1));
  EXPECT_TRUE(view_.CrosshairText().isEmpty());
}

TEST_F(LogChartViewTest, ShownDevicesHaveDistinctColoursAndFreedOnesComeBack) {
  Show(12, 10);
  view_.SetShownDevices({0, 1, 2, 3, 4, 5, 6, 7});
  QSet<QRgb> colours;
  for (const int device : view_.ShownDevices()) colours.insert(view_.ColorOf(device).rgb());
  EXPECT_EQ(colours.size(), 8);
  const QColor freed = view_.ColorOf(3);
  view_.SetShownDevices({0, 1, 2, 4, 5, 6, 7, 11});
  EXPECT_FALSE(view_.ColorOf(3).isValid());
  EXPECT_EQ(view_.ColorOf(11), freed);
  EXPECT_EQ(view_.SeriesOf(11)->name(), QStringLiteral("D11"));
  EXPECT_EQ(view_.chart()->series().size(), 8);
}

TEST_F(LogChartViewTest, LogReadAgainWithFewerDevicesDropsTheirSeries) {
  Show(4, 10);
  log_.Clear();
  Fill(&log_, 2, 10);
  view_.Refresh();
  EXPECT_EQ(view_.ShownDevices(), QList<int>({0, 1}));
  EXPECT_EQ(view_.chart()->series().size(), 2);
}

}  // namespace
