#include "viewer/min_max_decimation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "viewer/log_columns.h"

namespace {

constexpr int32_t kMissing = LogColumns::kMissing;

// One device, one row a second from t = 0.
LogColumns OneDevice(const std::vector<int32_t>& values) {
  LogColumns log;
  log.AddDevice(QStringLiteral("DM00000"));
  for (size_t row = 0; row < values.size(); ++row) {
    log.AppendRow(static_cast<int64_t>(row) * 1000, std::vector<int32_t>{values[row]});
  }
  return log;
}

std::set<std::pair<double, double>> PointSet(const DecimatedSeries& series) {
  std::set<std::pair<double, double>> points;
  for (const QPointF& p : series.points) points.insert({p.x(), p.y()});
  return points;
}

TEST(MinMaxDecimationTest, FewRowsAreShownAsTheyAre) {
  const LogColumns log = OneDevice({5, 7, kMissing, -3});
  const DecimatedSeries series = DecimateMinMax(log, 0, 0, 3000, 800);
  ASSERT_EQ(series.points.size(), 3);
  EXPECT_EQ(series.points[0], QPointF(0, 5));
  EXPECT_EQ(series.points[1], QPointF(1000, 7));
  EXPECT_EQ(series.points[2], QPointF(3000, -3));
  EXPECT_TRUE(series.hasValues);
  EXPECT_EQ(series.min, -3);
  EXPECT_EQ(series.max, 7);
}

TEST(MinMaxDecimationTest, NearestRowsOutsideTheRangeCarryTheLineToTheEdges) {
  const LogColumns log = OneDevice({1, kMissing, 100, 200, 300, kMissing, 9});
  const DecimatedSeries series = DecimateMinMax(log, 0, 2000, 4000, 800);
  const QList<QPointF> expected = {{0, 1}, {2000, 100}, {3000, 200}, {4000, 300}, {6000, 9}};
  EXPECT_EQ(series.points, expected);
  // Scaling looks at what is inside only.
  EXPECT_EQ(series.min, 100);
  EXPECT_EQ(series.max, 300);
}

class DecimationColumnsTest : public ::testing::TestWithParam<int> {};

// Noise with one-row spikes, decimated for plots of several widths.
TEST_P(DecimationColumnsTest, EveryTwoPixelColumnKeepsItsMinimumAndMaximum) {
  const int columns = GetParam();
  std::mt19937 random(42);
  std::uniform_int_distribution<int32_t> noise(-100, 100);
  std::vector<int32_t> values(86'400);
  for (auto& value : values) value = noise(random);
  for (size_t row = 500; row < values.size(); row += 7919) values[row] = (row % 2) ? 30000 : -30000;
  const LogColumns log = OneDevice(values);

  const double from = 3'600'000;
  const double to = 80'000'000;
  const DecimatedSeries series = DecimateMinMax(log, 0, from, to, columns);
  EXPECT_LE(series.points.size(), columns);
  EXPECT_TRUE(std::is_sorted(series.points.begin(), series.points.end(),
                             [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); }));

  // The plot less the two edge points and the range's first and last rows (when it has room
  // for them), cut into buckets two pixels wide.
  const int budget = columns >= 4 ? columns - 2 : columns;
  const int buckets = budget >= 4 ? budget / 2 - 1 : budget / 2;
  const auto points = PointSet(series);
  std::vector<int32_t> low(static_cast<size_t>(buckets), INT32_MAX);
  std::vector<int32_t> high(static_cast<size_t>(buckets), INT32_MIN);
  std::vector<double> lowAt(static_cast<size_t>(buckets));
  std::vector<double> highAt(static_cast<size_t>(buckets));
  for (size_t row = 0; row < values.size(); ++row) {
    const double t = static_cast<double>(row) * 1000;
    if (t < from || t > to) continue;
    const auto b = std::min<size_t>(static_cast<size_t>(buckets) - 1,
                                    static_cast<size_t>((t - from) / (to - from) * buckets));
    if (values[row] < low[b]) low[b] = values[row], lowAt[b] = t;
    if (values[row] > high[b]) high[b] = values[row], highAt[b] = t;
  }
  for (size_t b = 0; b < static_cast<size_t>(buckets); ++b) {
    ASSERT_TRUE(points.count({lowAt[b], low[b]})) << "minimum of column " << b;
    ASSERT_TRUE(points.count({highAt[b], high[b]})) << "maximum of column " << b;
  }
  EXPECT_EQ(series.min, -30000);
  EXPECT_EQ(series.max, 30000);
  if (budget >= 4) {
    // The line ends at the last row of the range, then runs on to the row after it.
    const QPointF last = series.points[series.points.size() - 2];
    EXPECT_EQ(last, QPointF(to, values[static_cast<size_t>(to / 1000)]));
  }
}

INSTANTIATE_TEST_SUITE_P(PlotWidths, DecimationColumnsTest,
                         ::testing::Values(2, 3, 101, 640, 1921));

TEST(MinMaxDecimationTest, ColumnsOfOneRowKeepIt) {
  // 400 rows crowded into the first second, then 30 rows 30 s apart, drawn 300 columns wide:
  // each of the 30 falls into a bucket of its own and must not be lost.
  LogColumns log;
  log.AddDevice(QStringLiteral("A"));
  for (int row = 0; row < 400; ++row) log.AppendRow(row, std::vector<int32_t>{row % 5});
  for (int row = 1; row <= 30; ++row) {
    log.AppendRow(int64_t{row} * 30'000, std::vector<int32_t>{1000 + row});
  }
  const DecimatedSeries series = DecimateMinMax(log, 0, 0, 900'000, 300);
  EXPECT_LE(series.points.size(), 300);
  const auto points = PointSet(series);
  for (int row = 1; row <= 30; ++row) {
    EXPECT_TRUE(points.count({row * 30'000.0, 1000.0 + row})) << row;
  }
}

TEST(MinMaxDecimationTest, MissingValuesNeverBecomePoints) {
  std::vector<int32_t> values(10'000, kMissing);
  for (size_t row = 0; row < values.size(); row += 3) values[row] = static_cast<int32_t>(row);
  const LogColumns log = OneDevice(values);
  const DecimatedSeries series = DecimateMinMax(log, 0, 0, 10'000'000, 100);
  EXPECT_LE(series.points.size(), 100);
  for (const QPointF& p : series.points) {
    EXPECT_NE(p.y(), kMissing);
    EXPECT_EQ(static_cast<int>(p.x() / 1000) % 3, 0);
  }
}

TEST(MinMaxDecimationTest, TimesThatGoBackAreFilteredByRangeNotBySearch) {
  LogColumns log;
  log.AddDevice(QStringLiteral("A"));
  for (const auto& [t, v] : std::vector<std::pair<int64_t, int32_t>>{
           {5000, 1}, {1000, 2}, {9000, 3}, {3000, 4}, {7000, 5}}) {
    log.AppendRow(t, std::vector<int32_t>{v});
  }
  ASSERT_FALSE(log.TimesAscending());
  const DecimatedSeries series = DecimateMinMax(log, 0, 2000, 7000, 800);
  const QList<QPointF> expected = {{5000, 1}, {3000, 4}, {7000, 5}};
  EXPECT_EQ(series.points, expected);
}

TEST(MinMaxDecimationTest, EmptyOrReversedRangeGivesNothing) {
  const LogColumns log = OneDevice({1, 2, 3});
  EXPECT_TRUE(DecimateMinMax(log, 0, 3000, 1000, 800).points.isEmpty());
  EXPECT_TRUE(DecimateMinMax(OneDevice({}), 0, 0, 1000, 800).points.isEmpty());
  const DecimatedSeries between = DecimateMinMax(log, 0, 1200, 1800, 800);
  // No row inside: only the neighbours, which do not count for scaling.
  EXPECT_EQ(between.points.size(), 2);
  EXPECT_FALSE(between.hasValues);
}

}  // namespace

namespace {

struct FitCase {
  const char* name;
  int columns;
  int rows;  // one a second from t = 0, value = row
  double fromMs;
  double toMs;
  int points;
  bool everyRow;  // the points are every row of the range and its neighbours
};

void PrintTo(const FitCase& c, std::ostream* out) { *out << c.name; }

class DecimationFitTest : public ::testing::TestWithParam<FitCase> {};

// Where decimation starts: rows that fit in the plot's columns are all drawn.
TEST_P(DecimationFitTest, RowsThatFitThePlotAreAllShown) {
  const FitCase& c = GetParam();
  std::vector<int32_t> values(static_cast<size_t>(c.rows));
  for (size_t row = 0; row < values.size(); ++row) values[row] = static_cast<int32_t>(row);
  const DecimatedSeries series = DecimateMinMax(OneDevice(values), 0, c.fromMs, c.toMs, c.columns);
  EXPECT_EQ(series.points.size(), c.points);
  EXPECT_LE(series.points.size(), c.columns);
  if (c.everyRow) {
    for (qsizetype i = 1; i < series.points.size(); ++i) {
      EXPECT_EQ(series.points[i].y(), series.points[i - 1].y() + 1) << i;
    }
  } else {
    EXPECT_LT(series.points.size(), c.rows);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boundary, DecimationFitTest,
    ::testing::Values(FitCase{"WholeLogAsManyRowsAsColumns", 100, 100, 0, 99'000, 100, true},
                      FitCase{"RangeAndItsTwoNeighboursFillThePlot", 100, 200, 50'000, 147'000, 100,
                              true},
                      FitCase{"NarrowPlotWithoutNeighbours", 3, 3, 0, 2'000, 3, true},
                      FitCase{"OneRowMoreIsDecimated", 100, 101, 0, 100'000, 98, false}),
    [](const ::testing::TestParamInfo<FitCase>& info) { return info.param.name; });

struct NeighbourCase {
  const char* name;
  int columns;
  bool neighbours;
};

void PrintTo(const NeighbourCase& c, std::ostream* out) { *out << c.name; }

class DecimationNeighbourTest : public ::testing::TestWithParam<NeighbourCase> {};

TEST_P(DecimationNeighbourTest, NeighboursFromFourColumnsOn) {
  const NeighbourCase& c = GetParam();
  const DecimatedSeries series =
      DecimateMinMax(OneDevice({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), 0, 3000, 5000, c.columns);
  ASSERT_FALSE(series.points.isEmpty());
  EXPECT_LE(series.points.size(), c.columns);
  EXPECT_EQ(series.points.front() == QPointF(2000, 2), c.neighbours);
  EXPECT_EQ(series.points.back() == QPointF(6000, 6), c.neighbours);
  // Neighbours never count for scaling.
  EXPECT_EQ(series.min, 3);
  EXPECT_EQ(series.max, 5);
}

INSTANTIATE_TEST_SUITE_P(PlotWidths, DecimationNeighbourTest,
                         ::testing::Values(NeighbourCase{"ThreeColumns", 3, false},
                                           NeighbourCase{"FourColumns", 4, true},
                                           NeighbourCase{"FiveColumns", 5, true}),
                         [](const ::testing::TestParamInfo<NeighbourCase>& info) {
                           return info.param.name;
                         });

}  // namespace
