// Measures the chart viewer on a day of one-second rows from 100 devices (86,400 rows, about
// 55 MB), in one run, each figure in a fresh child process so that peak memory is its own:
//   1. open: the viewer's reader (file follower, parser, column store) against the floor, a
//      plain C++ reader that splits the same file into integer columns; runs interleaved;
//   2. peak memory of both above what the process held before reading, against the size of
//      the values as 32-bit integers;
//   3. the window (offscreen): open to the chart drawn, and the time from appending 100 rows
//      to the file until the chart shows them and is painted, while following.
// Prints a table and one machine-readable line. Nothing is asserted: these are figures.

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineSeries>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_child.h"
#include "bench/bench_options.h"
#include "bench/bench_support.h"
#include "bench/open_figures.h"
#include "monitor/csv_log.h"
#include "monitor/log_format.h"
#include "viewer/log_chart_view.h"
#include "viewer/log_columns.h"
#include "viewer/log_follower.h"
#include "viewer/log_parser.h"
#include "viewer/viewer_window.h"

namespace {

constexpr int kDevices = 100;
constexpr int kRows = 86'400;
constexpr int kAppendRows = 100;
constexpr double kTargetOpenRatio = 2.0;
constexpr double kTargetMemoryRatio = 3.0;
// Bounds one wait of the follow measurement; new rows take milliseconds.
constexpr int kFollowBoundMs = 5000;

struct Options {
  int runs = 5;
  int followSamples = 20;
};

// Rows as the monitor logs the simulator's counter pattern: devices DM00100.. read in 13
// commands of up to 8, each command counting one, values signed.
std::string Rows(int first, int count) {
  std::string text;
  text.reserve(static_cast<size_t>(count) * 700);
  std::vector<uint16_t> values(kDevices);
  for (int row = first; row < first + count; ++row) {
    CounterValues(row, &values);
    const int day = 10 + row / 86400;
    const LocalDateTime stamp{2004, 1, day, (row / 3600) % 24, (row / 60) % 60, row % 60};
    LogFormat::AppendRow(text, stamp, values, false);
  }
  return text;
}

bool WriteLog(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string header;
  CsvLog::AppendHeaderText(header, 0, 100, kDevices);
  out << header;
  for (int first = 0; first < kRows; first += 3600)
    out << Rows(first, std::min(3600, kRows - first));
  return static_cast<bool>(out);
}

// Child: reads the file once with the floor or the viewer's reader and prints its figures.
int RunOpenChild(int argc, char** argv, bool viewer, const char* path) {
  QCoreApplication app(argc, argv);
  return PrintOpenFigures([&](OpenFigures* figures) {
    if (!viewer) {
      *figures = FloorReadAll({QString::fromLocal8Bit(path)});
      return true;
    }
    LogColumns columns;
    LogParser parser(&columns);
    LogFollower follower(&parser);
    follower.SetFollowing(false);
    QString error;
    if (!follower.Open(QString::fromLocal8Bit(path), &error)) {
      std::fprintf(stderr, "varnel-viewer-bench: %s\n", qPrintable(error));
      return false;
    }
    *figures = WaitCaughtUp(follower, columns);
    return true;
  });
}

// Child: the window offscreen, opened on the file, then rows appended while it follows.
int RunFollowChild(int argc, char** argv, const char* path, int samples) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir settings;
  ViewerWindow::Options options;
  options.settingsPath = settings.filePath(QStringLiteral("settings.ini"));
  ViewerWindow window(options);
  window.SetErrorSink([](const QString& message) {
    std::fprintf(stderr, "varnel-viewer-bench: %s\n", qPrintable(message));
  });
  window.resize(1200, 700);
  window.show();
  QCoreApplication::processEvents();

  QElapsedTimer timer;
  timer.start();
  if (!window.OpenPath(QString::fromLocal8Bit(path))) return 1;
  while (!window.Follower().CaughtUp()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  window.Chart()->viewport()->repaint();
  const double openMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  long rss = 0;
  long peak = 0;
  ResidentKib(&rss, &peak);

  std::vector<double> latencies;
  int next = kRows;
  for (int sample = 0; sample < samples; ++sample) {
    // Idle a little between appends, as a log grows once a second.
    {
      QEventLoop idle;
      QTimer::singleShot(100, &idle, &QEventLoop::quit);
      idle.exec();
    }
    const std::string rows = Rows(next, kAppendRows);
    next += kAppendRows;
    const size_t expected = window.Log().RowCount() + kAppendRows;
    QLineSeries* series = window.Chart()->SeriesOf(0);
    const double lastMs = static_cast<double>(window.Log().Times().back()) + kAppendRows * 1000.0;
    timer.restart();
    {
      std::ofstream out(path, std::ios::binary | std::ios::app);
      out << rows;
    }
    const auto shown = [&] {
      return window.Log().RowCount() == expected && series->count() > 0 &&
             series->points().back().x() == lastMs;
    };
    // Woken by every redraw of the chart, and by the bound.
    QEventLoop wait;
    const auto redrawn = QObject::connect(window.Chart(), &LogChartView::ViewChanged, &wait, [&] {
      if (shown()) wait.quit();
    });
    QTimer::singleShot(kFollowBoundMs, &wait, &QEventLoop::quit);
    if (!shown()) wait.exec();
    QObject::disconnect(redrawn);
    if (!shown()) {
      std::fprintf(stderr,
                   "varnel-viewer-bench: appended rows did not appear (sample %d: %zu rows of "
                   "%zu, last point %.0f of %.0f)\n",
                   sample, window.Log().RowCount(), expected,
                   series->count() > 0 ? series->points().back().x() : 0.0, lastMs);
      return 1;
    }
    window.Chart()->viewport()->repaint();
    latencies.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  std::sort(latencies.begin(), latencies.end());
  std::printf(
      "open_ms=%.3f rss_kib=%ld peak_kib=%ld follow_median_ms=%.3f follow_max_ms=%.3f "
      "points=%lld columns=%d\n",
      openMs, rss, peak, latencies[latencies.size() / 2], latencies.back(),
      static_cast<long long>(window.Chart()->SeriesOf(0)->count()), window.Chart()->PixelColumns());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--child") == 0) {
    const std::string kind = argv[2];
    if (kind == "reader" || kind == "floor")
      return RunOpenChild(argc, argv, kind == "reader", argv[3]);
    if (kind == "follow" && argc >= 5)
      return RunFollowChild(argc, argv, argv[3], std::atoi(argv[4]));
    return 2;
  }
  Options options;
  BenchOptions("varnel-viewer-bench")
      .Int("--runs", "N", "interleaved open runs of reader and floor (default 5)", &options.runs, 1)
      .Int("--follow-samples", "N", "appends of 100 rows timed while following (default 20)",
           &options.followSamples, 1)
      .Flag("--quick", "2 runs, 5 appends: a smoke run",
            [&] {
              options.runs = 2;
              options.followSamples = 5;
            })
      .Parse(argc, argv);

  QTemporaryDir dir;
  if (!dir.isValid()) {
    std::fprintf(stderr, "varnel-viewer-bench: no temporary directory\n");
    return 1;
  }
  const QString log =
      dir.filePath(QString::fromStdString(LogFormat::FileName({2004, 1, 10, 0, 0, 0})));
  if (!WriteLog(log.toStdString())) {
    std::fprintf(stderr, "varnel-viewer-bench: cannot write %s\n", qPrintable(log));
    return 1;
  }
  const double fileMib = static_cast<double>(QFileInfo(log).size()) / (1 << 20);
  const double valuesMib = double{kRows} * kDevices * 4 / (1 << 20);

  std::vector<double> readerMs;
  std::vector<double> floorMs;
  std::vector<double> readerPeakMib;
  std::vector<double> floorPeakMib;
  double storeMib = 0;
  double rows = 0;
  for (int run = 0; run < options.runs; ++run) {
    for (const char* kind : {"reader", "floor"}) {
      QString line;
      if (!RunChildForLine("varnel-viewer-bench", argv[0],
                           {QStringLiteral("--child"), QLatin1String(kind), log}, 300'000, &line))
        return 1;
      const bool reader = std::strcmp(kind, "reader") == 0;
      (reader ? readerMs : floorMs).push_back(LineField(line, "ms"));
      (reader ? readerPeakMib : floorPeakMib).push_back(LineField(line, "peak_delta_kib") / 1024);
      if (reader) {
        storeMib = LineField(line, "store_kib") / 1024;
        rows = LineField(line, "rows");
      }
    }
  }
  // The follow child appends to the file: it runs last.
  QString followLine;
  if (!RunChildForLine("varnel-viewer-bench", argv[0],
                       {QStringLiteral("--child"), QStringLiteral("follow"), log,
                        QString::number(options.followSamples)},
                       300'000, &followLine)) {
    return 1;
  }

  const double reader = Summarize(readerMs).median;
  const double floor = Summarize(floorMs).median;
  const double readerPeak = Summarize(readerPeakMib).median;
  const double floorPeak = Summarize(floorPeakMib).median;
  const double openRatio = reader / floor;
  const double memoryRatio = readerPeak / valuesMib;
  std::printf("varnel-viewer-bench\n");
  std::printf("  machine: %s\n", MachineText().c_str());
  std::printf("  log: %d rows x %d devices, %.1f MiB; values as 32-bit integers %.1f MiB\n", kRows,
              kDevices, fileMib, valuesMib);
  std::printf("  rows read by the viewer: %.0f; median of %d interleaved runs each\n\n", rows,
              options.runs);
  std::printf("  %-40s %10s %10s %10s\n", "", "viewer", "floor", "ratio");
  std::printf("  %-40s %10.1f %10.1f %10.2f   (target <= %.1f)\n", "open (ms)", reader, floor,
              openRatio, kTargetOpenRatio);
  std::printf("  %-40s %10.1f %10.1f %10.2f   (of the values; target <= %.1f + fixed)\n",
              "peak memory above start (MiB)", readerPeak, floorPeak, memoryRatio,
              kTargetMemoryRatio);
  std::printf("  %-40s %10.1f\n", "column store (MiB)", storeMib);
  std::printf("\n  window, offscreen, 1200 x 700:\n");
  std::printf("  %-40s %10.1f ms\n", "open to the chart drawn", LineField(followLine, "open_ms"));
  std::printf("  %-40s %10.1f MiB\n", "resident after open",
              LineField(followLine, "rss_kib") / 1024);
  std::printf("  %-40s %10.1f ms   (median of %d)\n", "100 appended rows to the chart painted",
              LineField(followLine, "follow_median_ms"), options.followSamples);
  std::printf("  %-40s %10.1f ms\n", "  slowest", LineField(followLine, "follow_max_ms"));
  std::printf("  %-40s %10.0f of %.0f pixel columns\n", "points of one series, whole day",
              LineField(followLine, "points"), LineField(followLine, "columns"));
  std::printf(
      "viewer_open_ms=%.1f floor_open_ms=%.1f open_ratio=%.2f viewer_peak_mib=%.1f "
      "floor_peak_mib=%.1f values_mib=%.1f memory_ratio=%.2f window_open_ms=%.1f "
      "follow_median_ms=%.1f follow_max_ms=%.1f\n",
      reader, floor, openRatio, readerPeak, floorPeak, valuesMib, memoryRatio,
      LineField(followLine, "open_ms"), LineField(followLine, "follow_median_ms"),
      LineField(followLine, "follow_max_ms"));
  return 0;
}
