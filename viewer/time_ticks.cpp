#include "viewer/time_ticks.h"

#include <QDateTime>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double kSecondMs = 1000;
constexpr double kMinuteMs = 60 * kSecondMs;
constexpr double kHourMs = 60 * kMinuteMs;
constexpr double kDayMs = 24 * kHourMs;

// Tick spacings a reader takes in at a glance.
constexpr std::array<double, 21> kTimeSteps = {
    1 * kSecondMs, 2 * kSecondMs, 5 * kSecondMs, 10 * kSecondMs, 15 * kSecondMs, 30 * kSecondMs,
    1 * kMinuteMs, 2 * kMinuteMs, 5 * kMinuteMs, 10 * kMinuteMs, 15 * kMinuteMs, 30 * kMinuteMs,
    1 * kHourMs,   2 * kHourMs,   3 * kHourMs,   6 * kHourMs,    12 * kHourMs,   1 * kDayMs,
    2 * kDayMs,    7 * kDayMs,    30 * kDayMs};

}  // namespace

TimeTicks::TimeTicks(double fromMs, double toMs, int pixelColumns) {
  const double span = std::max(toMs - fromMs, 1.0);
  const int maxTicks = std::max(2, pixelColumns / kLabelPixels);
  stepMs_ = kTimeSteps.back();
  for (const double candidate : kTimeSteps) {
    if (span / candidate <= maxTicks) {
      stepMs_ = candidate;
      break;
    }
  }
  QString format = QStringLiteral("HH:mm");
  if (stepMs_ < kMinuteMs) {
    format = QStringLiteral("HH:mm:ss");
  } else if (span > 20 * kHourMs) {
    format = stepMs_ >= kDayMs ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("MM-dd HH:mm");
  }
  // Ticks on round local times: the step is counted from local midnight.
  const QDateTime start = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(fromMs));
  const double offset = start.offsetFromUtc() * kSecondMs;
  for (double tick = std::ceil((fromMs + offset) / stepMs_) * stepMs_ - offset; tick <= toMs;
       tick += stepMs_) {
    if (tick <= fromMs) continue;
    ticks_.append(
        Tick{tick, QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(tick)).toString(format)});
  }
  const QString firstDay = start.toString(QStringLiteral("yyyy-MM-dd"));
  const QString lastDay = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(toMs))
                              .toString(QStringLiteral("yyyy-MM-dd"));
  title_ = firstDay == lastDay ? firstDay : firstDay + QStringLiteral(" – ") + lastDay;
}
