#pragma once

#include <QList>
#include <QString>

// The labelled ticks of the time axis over a span: a spacing a reader takes in at a glance, no
// closer than one label per kLabelPixels of the plot, on round local times, each labelled as
// finely as the spacing needs; and a title naming the day or days the span covers.
class TimeTicks {
 public:
  struct Tick {
    double ms = 0;
    QString label;
  };

  static constexpr int kLabelPixels = 90;

  TimeTicks(double fromMs, double toMs, int pixelColumns);

  double StepMs() const { return stepMs_; }
  // Within (fromMs, toMs], oldest first.
  const QList<Tick>& Ticks() const { return ticks_; }
  // "2004-01-10", or "2004-01-10 – 2004-01-12" for a span across days.
  const QString& Title() const { return title_; }

 private:
  double stepMs_ = 0;
  QList<Tick> ticks_;
  QString title_;
};
