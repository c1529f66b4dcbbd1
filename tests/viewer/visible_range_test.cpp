#include "viewer/visible_range.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "viewer/log_columns.h"

namespace {

constexpr int64_t kStartMs = 1'000'000'000'000;
constexpr double kNowMs = 2'000'000'000'000;

// `rows` one-second rows of one device from row `firstRow`, value = row % 100.
void Fill(LogColumns* log, int rows, int firstRow = 0) {
  if (log->DeviceCount() == 0) log->AddDevice(QStringLiteral("D0"));
  for (int row = firstRow; row < firstRow + rows; ++row) {
    const std::vector<int32_t> values{row % 100};
    log->AppendRow(kStartMs + int64_t{row} * 1000, values);
  }
}

class VisibleRangeTest : public ::testing::Test {
 protected:
  void Open(int rows) {
    Fill(&log_, rows);
    range_.SetLog(&log_);
    Draw();
  }
  // What the chart does before and after it draws, values as if the span showed 0..99.
  void Draw() {
    range_.Settle(kNowMs);
    range_.FitValues(true, 0, 99);
  }

  LogColumns log_;
  VisibleRange range_;
};

TEST_F(VisibleRangeTest, WithoutRowsShowsTheMinuteUpToNowAndRefusesToZoom) {
  range_.SetLog(&log_);
  Draw();
  EXPECT_DOUBLE_EQ(range_.FromMs(), kNowMs - 60'000);
  EXPECT_DOUBLE_EQ(range_.ToMs(), kNowMs);
  EXPECT_FALSE(range_.ZoomTime(0.5, kNowMs));
  EXPECT_FALSE(range_.ZoomTo(kNowMs - 10'000, kNowMs, true, 0, 1));
  EXPECT_FALSE(range_.Pan(1000, 1));
  EXPECT_FALSE(range_.Zoomed());
  EXPECT_FALSE(range_.ValuesFixed());
}

TEST_F(VisibleRangeTest, ZoomStopsAtFiveSecondsAndFixedValuesPan) {
  Open(3600);
  range_.ZoomTo(kStartMs + 100'000.0, kStartMs + 101'000.0, false, 0, 0);
  EXPECT_DOUBLE_EQ(range_.FromMs(), kStartMs + 98'000.0);
  EXPECT_DOUBLE_EQ(range_.ToMs(), kStartMs + 103'000.0);
  range_.ZoomTime(0.01, kStartMs + 100'500.0);
  EXPECT_DOUBLE_EQ(range_.ToMs() - range_.FromMs(), 5'000);
  // Fixed values move with a pan and stay as they are when drawn.
  range_.ZoomTo(kStartMs + 1'000'000.0, kStartMs + 1'360'000.0, true, 10, 20);
  range_.Pan(0, 5);
  Draw();
  EXPECT_DOUBLE_EQ(range_.Low(), 15);
  EXPECT_DOUBLE_EQ(range_.High(), 25);
}

struct FitCase {
  bool anyValues;
  int32_t lowest, highest;
  int maxTicks;
  double low, high, step;
};

// A margin of a twentieth (at least 1) on each side, then whole ticks of 1, 2 or 5 x 10^n.
TEST_F(VisibleRangeTest, FittedValuesGetAMarginAndEndOnWholeTicks) {
  for (const FitCase& c : {
           FitCase{true, 0, 99, 10, -20, 120, 20},
           FitCase{true, 7, 7, 8, 6, 8, 1},
           FitCase{false, 0, 0, 5, -5, 15, 5},
           FitCase{true, -32768, 32767, 10, -40000, 40000, 10000},
       }) {
    SCOPED_TRACE(::testing::Message() << c.lowest << ".." << c.highest);
    VisibleRange range;
    range.FitValues(c.anyValues, c.lowest, c.highest);
    EXPECT_DOUBLE_EQ(range.ValueStep(c.maxTicks), c.step);
    EXPECT_DOUBLE_EQ(range.Low(), c.low);
    EXPECT_DOUBLE_EQ(range.High(), c.high);
  }
}

}  // namespace
