// Measures the chart viewer opening a week of logs as one timeline: seven daily files of
// one-second rows from 100 devices (604,800 rows, about 380 MB), each figure in a fresh child
// process so that peak memory is its own:
//   1. open: the viewer's folder follower (the span of the last seven days, the file follower,
//      the parser and the column store) against the floor, a plain C++ reader that splits the
//      same files into integer columns; runs interleaved;
//   2. memory: the column store and the peak resident memory above what the process held
//      before reading, against the values as 32-bit integers.
// Prints a table and one machine-readable line. Nothing is asserted: these are figures.

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
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
#include "viewer/folder_follower.h"
#include "viewer/log_columns.h"
#include "viewer/log_follower.h"
#include "viewer/log_parser.h"

namespace {

constexpr int kDevices = 100;
constexpr int kDays = 7;
constexpr int kDayRows = 86'400;
constexpr double kTargetOpenRatio = 2.0;
constexpr double kTargetMemoryRatio = 1.2;
const QDate kFirstDay(2004, 1, 10);

// One day's log as the logger writes it with daily rotation: a header, then a row a second
// of the simulator's counter pattern, values signed.
bool WriteDay(const QString& path, int day) {
  std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
  std::string text;
  CsvLog::AppendHeaderText(text, 0, 100, kDevices);
  const QDate date = kFirstDay.addDays(day);
  std::vector<uint16_t> values(kDevices);
  for (int second = 0; second < kDayRows; ++second) {
    CounterValues(day * kDayRows + second, &values);
    const LocalDateTime stamp{date.year(),   date.month(),       date.day(),
                              second / 3600, (second / 60) % 60, second % 60};
    LogFormat::AppendRow(text, stamp, values, false);
    if (text.size() > (size_t{8} << 20)) {
      out << text;
      text.clear();
    }
  }
  out << text;
  return static_cast<bool>(out);
}

// Child: reads the week once with the floor or the viewer and prints its figures.
int RunOpenChild(int argc, char** argv, bool viewer, const QString& folder) {
  QCoreApplication app(argc, argv);
  QStringList files;
  for (const QFileInfo& file :
       QDir(folder).entryInfoList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name)) {
    files.append(file.absoluteFilePath());
  }
  return PrintOpenFigures([&](OpenFigures* figures) {
    if (!viewer) {
      *figures = FloorReadAll(files);
      return true;
    }
    LogColumns columns;
    LogParser parser(&columns);
    LogFollower follower(&parser);
    FolderFollower days(&follower);
    days.SetClock([] { return QDateTime(kFirstDay.addDays(kDays - 1), QTime(23, 59, 59)); });
    QString error;
    if (!days.Open(folder, LogFolder::Span::Days(kDays, days.Today()), &error)) {
      std::fprintf(stderr, "varnel-viewer-week-bench: %s\n", qPrintable(error));
      return false;
    }
    *figures = WaitCaughtUp(follower, columns);
    return true;
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--child") == 0) {
    const std::string kind = argv[2];
    if (kind == "viewer" || kind == "floor") {
      return RunOpenChild(argc, argv, kind == "viewer", QString::fromLocal8Bit(argv[3]));
    }
    return 2;
  }
  int runs = 3;
  BenchOptions("varnel-viewer-week-bench")
      .Int("--runs", "N", "interleaved open runs of the viewer and the floor (default 3)", &runs, 1)
      .Flag("--quick", "1 run: a smoke run", [&] { runs = 1; })
      .Parse(argc, argv);

  QTemporaryDir dir;
  if (!dir.isValid()) {
    std::fprintf(stderr, "varnel-viewer-week-bench: no temporary directory\n");
    return 1;
  }
  qint64 fileBytes = 0;
  for (int day = 0; day < kDays; ++day) {
    // Named as the logger names the log it begins at midnight.
    const QDate date = kFirstDay.addDays(day);
    const QString path = dir.filePath(QString::fromStdString(
        LogFormat::FileName({date.year(), date.month(), date.day(), 0, 0, 0})));
    if (!WriteDay(path, day)) {
      std::fprintf(stderr, "varnel-viewer-week-bench: cannot write %s\n", qPrintable(path));
      return 1;
    }
    fileBytes += QFileInfo(path).size();
  }
  const double valuesMib = double{kDays} * kDayRows * kDevices * 4 / (1 << 20);

  std::vector<double> viewerMs;
  std::vector<double> floorMs;
  std::vector<double> viewerPeakMib;
  std::vector<double> floorPeakMib;
  double storeMib = 0;
  double rows = 0;
  double files = 0;
  for (int run = 0; run < runs; ++run) {
    for (const char* kind : {"viewer", "floor"}) {
      QString line;
      if (!RunChildForLine("varnel-viewer-week-bench", argv[0],
                           {QStringLiteral("--child"), QLatin1String(kind), dir.path()}, 600'000,
                           &line))
        return 1;
      const bool viewer = std::strcmp(kind, "viewer") == 0;
      (viewer ? viewerMs : floorMs).push_back(LineField(line, "ms"));
      (viewer ? viewerPeakMib : floorPeakMib).push_back(LineField(line, "peak_delta_kib") / 1024);
      if (viewer) {
        storeMib = LineField(line, "store_kib") / 1024;
        rows = LineField(line, "rows");
        files = LineField(line, "files");
      }
    }
  }

  const double viewer = Summarize(viewerMs).median;
  const double floor = Summarize(floorMs).median;
  const double viewerPeak = Summarize(viewerPeakMib).median;
  const double floorPeak = Summarize(floorPeakMib).median;
  const double openRatio = viewer / floor;
  const double storeRatio = storeMib / valuesMib;
  const double peakRatio = viewerPeak / valuesMib;
  std::printf("varnel-viewer-week-bench\n");
  std::printf("  machine: %s\n", MachineText().c_str());
  std::printf(
      "  logs: %d daily files, %d rows x %d devices, %.1f MiB; values as 32-bit integers "
      "%.1f MiB\n",
      kDays, kDays * kDayRows, kDevices, static_cast<double>(fileBytes) / (1 << 20), valuesMib);
  std::printf("  read by the viewer: %.0f rows from %.0f files; median of %d interleaved runs\n\n",
              rows, files, runs);
  std::printf("  %-34s %10s %10s %10s\n", "", "viewer", "floor", "ratio");
  std::printf("  %-34s %10.1f %10.1f %10.2f   (target <= %.1f)\n", "open the week (ms)", viewer,
              floor, openRatio, kTargetOpenRatio);
  std::printf("  %-34s %10.1f %10s %10.2f   (of the values; target <= %.1f)\n",
              "column store (MiB)", storeMib, "", storeRatio, kTargetMemoryRatio);
  std::printf("  %-34s %10.1f %10.1f %10.2f   (of the values)\n", "peak memory above start (MiB)",
              viewerPeak, floorPeak, peakRatio);
  std::printf(
      "week_viewer_open_ms=%.1f week_floor_open_ms=%.1f week_open_ratio=%.2f "
      "week_store_mib=%.1f week_values_mib=%.1f week_store_ratio=%.2f week_viewer_peak_mib=%.1f "
      "week_floor_peak_mib=%.1f week_peak_ratio=%.2f\n",
      viewer, floor, openRatio, storeMib, valuesMib, storeRatio, viewerPeak, floorPeak, peakRatio);
  return 0;
}
