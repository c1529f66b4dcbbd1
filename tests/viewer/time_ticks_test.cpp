#include "viewer/time_ticks.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/viewer/log_text.h"

namespace {

constexpr double kSecondMs = 1000;
constexpr double kHourMs = 3600 * kSecondMs;
constexpr double kDayMs = 24 * kHourMs;

struct TicksCase {
  const char* name;
  double spanMs;
  int pixelColumns;
  double stepMs;
  int count;
  const char* firstLabel;
  const char* title;
};

// From 2004-01-10 09:05:08 local time: the coarsest step that still gives a label every 90
// pixels, on round local times, labelled as finely as the step needs.
TEST(TimeTicksTest, StepLabelsAndTitleFollowTheSpanAndThePlotsWidth) {
  const double from = static_cast<double>(LocalMs(2004, 1, 10, 9, 5, 8));
  for (const TicksCase& c : {
           TicksCase{"half a minute", 30 * kSecondMs, 900, 5 * kSecondMs, 6, "09:05:10",
                     "2004-01-10"},
           TicksCase{"narrow plot", 30 * kSecondMs, 100, 15 * kSecondMs, 2, "09:05:15",
                     "2004-01-10"},
           TicksCase{"an hour", kHourMs, 900, 600 * kSecondMs, 6, "09:10", "2004-01-10"},
           TicksCase{"three days", 3 * kDayMs, 900, 12 * kHourMs, 6, "01-10 12:00",
                     "2004-01-10 – 2004-01-13"},
           TicksCase{"a month", 30 * kDayMs, 900, 7 * kDayMs, 4, "2004-01-15",
                     "2004-01-10 – 2004-02-09"},
       }) {
    SCOPED_TRACE(c.name);
    const TimeTicks ticks(from, from + c.spanMs, c.pixelColumns);
    EXPECT_DOUBLE_EQ(ticks.StepMs(), c.stepMs);
    ASSERT_EQ(ticks.Ticks().size(), c.count);
    EXPECT_EQ(ticks.Ticks().front().label.toStdString(), c.firstLabel);
    EXPECT_GT(ticks.Ticks().front().ms, from);
    EXPECT_LE(ticks.Ticks().back().ms, from + c.spanMs);
    EXPECT_DOUBLE_EQ(ticks.Ticks().back().ms - ticks.Ticks().front().ms, (c.count - 1) * c.stepMs);
    EXPECT_EQ(ticks.Title().toStdString(), c.title);
  }
}

}  // namespace
