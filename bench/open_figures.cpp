#include "bench/open_figures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <cstdio>

#include "bench/bench_support.h"
#include "bench/plain_log_reader.h"
#include "viewer/log_columns.h"
#include "viewer/log_follower.h"

int PrintOpenFigures(const std::function<bool(OpenFigures*)>& read) {
  long rssBefore = 0;
  long peak = 0;
  ResidentKib(&rssBefore, &peak);
  QElapsedTimer timer;
  timer.start();
  OpenFigures figures;
  if (!read(&figures)) return 1;
  const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  long rss = 0;
  ResidentKib(&rss, &peak);
  std::printf("ms=%.3f rows=%zu devices=%zu files=%d peak_delta_kib=%ld store_kib=%zu\n", ms,
              figures.rows, figures.devices, figures.files, peak - rssBefore,
              figures.storeBytes / 1024);
  return 0;
}

OpenFigures WaitCaughtUp(const LogFollower& follower, const LogColumns& columns) {
  while (!follower.CaughtUp()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  OpenFigures figures;
  figures.rows = columns.RowCount();
  figures.devices = static_cast<std::size_t>(columns.DeviceCount());
  figures.storeBytes = columns.MemoryBytes();
  figures.files = static_cast<int>(follower.Paths().size());
  return figures;
}

OpenFigures FloorReadAll(const QStringList& files) {
  FloorColumns columns;
  OpenFigures figures;
  for (const QString& file : files) {
    figures.rows = FloorRead(QFile::encodeName(file).constData(), &columns);
    ++figures.files;
  }
  figures.devices = columns.values.size();
  for (const auto& column : columns.values) {
    figures.storeBytes += column.capacity() * sizeof(int32_t);
  }
  figures.storeBytes += columns.times.capacity() * sizeof(int64_t);
  return figures;
}

double LineField(const QString& line, const char* key) {
  const QRegularExpression pattern(QStringLiteral("(?:^| )%1=([-0-9.]+)").arg(QLatin1String(key)));
  return pattern.match(line).captured(1).toDouble();
}

void CounterValues(int row, std::vector<uint16_t>* values) {
  for (std::size_t d = 0; d < values->size(); ++d) {
    const int device = 100 + static_cast<int>(d);
    (*values)[d] =
        static_cast<uint16_t>((device * 4099 + row * 13 + static_cast<int>(d) / 8) % 65536);
  }
}
