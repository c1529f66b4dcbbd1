// The headless logger against the monitor's cycle and a bare Qt Core program, in one run, with
// the controller simulator on 127.0.0.1 (Interval 1 s, 100 registers):
//   1. main-thread CPU per cycle: the monitor's cycle (endpoint, cycle, CSV log, as the window
//      drives it) and the logger with --sync none and --sync row, each measured as the CPU of
//      a run of N cycles less that of a run of one, so start-up cancels out;
//   2. the logger process's CPU while idle between cycles (its main thread, from
//      /proc/PID/schedstat);
//   3. the logger process's peak resident memory against a bare QCoreApplication's, both as
//      child processes;
//   4. what --sync row costs per row: one append of a row with and without fdatasync;
//   5. requests and system calls per cycle, the monitor's against the logger's (the logger's
//      port per request: its bind and close, and 13 requests a cycle where it used to send
//      14), system calls counted by strace when it is installed;
//   6. the cost of one fresh port: a socket bound to a port the system picks, the old one
//      closed, its read watch moved.
// Prints a table and one machine-readable line. Nothing is asserted: these are figures.

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_monitor.h"
#include "bench/bench_options.h"
#include "bench/bench_support.h"
#include "logger/unattended_logger.h"
#include "monitor/clock.h"
#include "monitor/csv_log.h"
#include "monitor/read_cycle.h"
#include "net/posix_socket_api.h"
#include "net/recent_ports.h"
#include "net/udp_endpoint.h"
#include "tools/sim/controller_simulator.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kDeviceNum = 100;
constexpr double kRssTargetRatio = 1.5;

int64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

MonitorSettings Settings(uint16_t port) {
  MonitorSettings settings;
  settings.IPAddress = "127.0.0.1";
  settings.PortNo = port;
  settings.Interval = 1;
  settings.TimeOut = 1000;
  settings.DeviceStart = 0;
  settings.DeviceNum = kDeviceNum;
  return settings;
}

// The monitor's cycle as its window drives it, for `rows` rows; main-thread CPU in ns.
uint64_t g_requests = 0;  // requests sent by the last run

[[gnu::noinline]] int64_t MonitorRun(uint16_t port, const std::string& logFile, int rows) {
  QEventLoop loop;
  int done = 0;
  BenchMonitor monitor(Settings(port), logFile,
                       {nullptr,
                        [&] {
                          if (++done == rows) loop.quit();
                        },
                        nullptr});
  const int64_t start = ThreadCpuNs();
  monitor.Cycle().BeginMonitoring(nullptr);
  loop.exec();
  const int64_t cpu = ThreadCpuNs() - start;
  g_requests = monitor.Cycle().Stats().Requests;
  monitor.Timer1().SetEnabled(false);
  monitor.Timer2().SetEnabled(false);
  return cpu;
}

// The logger in-process for `rows` rows; main-thread CPU in ns.
[[gnu::noinline]] int64_t LoggerRun(uint16_t port, const std::string& folder, int rows, bool sync) {
  QDir().mkpath(QString::fromStdString(folder));
  LoggerOptions options;
  options.OutputDir = folder;
  options.Cycles = rows;
  options.Durability = sync ? LoggerOptions::Sync::kRow : LoggerOptions::Sync::kNone;
  std::FILE* quiet = std::fopen("/dev/null", "w");
  UnattendedLogger::Environment environment;
  environment.Journal = quiet;
  QEventLoop loop;
  int64_t cpu = 0;
  {
    UnattendedLogger logger(options, Settings(port), environment);
    logger.OnFinished = [&loop](int) { loop.quit(); };
    const int64_t start = ThreadCpuNs();
    logger.Start();
    loop.exec();
    cpu = ThreadCpuNs() - start;
    g_requests = logger.Requests();
  }
  std::fclose(quiet);
  return cpu;
}

// Time the main thread of `pid` has run, in ns.
int64_t ScheduledNs(qint64 pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/schedstat");
  int64_t ns = -1;
  stat >> ns;
  return ns;
}

double MedianUs(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

std::string WriteConfig(const QTemporaryDir& dir, uint16_t port, int interval) {
  const std::string path = dir.filePath("bench.ini").toStdString();
  std::ofstream(path) << "[Setup]\nIPAddress=127.0.0.1\nPortNo=" << port
                      << "\nInterval=" << interval << "\nTimeOut=1000\nDeviceNum=" << kDeviceNum
                      << "\n";
  return path;
}

// The system calls of this program run with `arguments` (one measured run, see main), counted
// by strace over all its threads; -1 without strace.
long SystemCallsOf(const std::string& self, const std::vector<std::string>& arguments,
                   const QTemporaryDir& dir) {
  const std::string report = dir.filePath("strace.txt").toStdString();
  std::vector<std::string> command{"/usr/bin/strace", "-f", "-c", "-o", report, self};
  command.insert(command.end(), arguments.begin(), arguments.end());
  if (::access(command[0].c_str(), X_OK) != 0 ||
      RunForPeakRssKib(command[0], {command.begin() + 1, command.end()}) < 0) {
    return -1;
  }
  std::ifstream lines(report);
  long calls = -1;
  for (std::string line; std::getline(lines, line);) {
    // "100.00    0.001234           2       567        12 total": the fourth field is calls.
    std::istringstream fields(line);
    std::vector<std::string> tokens;
    for (std::string token; fields >> token;) tokens.push_back(token);
    if (tokens.size() >= 5 && tokens.back() == "total") calls = std::stol(tokens[3]);
  }
  return calls;
}

// One fresh port: its cost in microseconds, the median of many.
double FreshPortUs() {
  PosixSocketApi api;
  TUDPEndpoint endpoint(api);
  endpoint.LoadStoredProperties();
  endpoint.BindLocal();
  RecentPorts recent(static_cast<std::size_t>(api.EphemeralPortCount()) / 2);
  std::vector<double> us;
  for (int i = 0; i < 2000; ++i) {
    const auto start = SteadyClock::now();
    endpoint.BindFreshPort(recent);
    us.push_back(std::chrono::duration<double, std::micro>(SteadyClock::now() - start).count());
  }
  return MedianUs(us);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // One measured run for the system-call count: --run monitor|logger PORT ROWS.
  if (argc == 5 && std::strcmp(argv[1], "--run") == 0) {
    QTemporaryDir runDir;
    const auto port = static_cast<uint16_t>(std::atoi(argv[3]));
    const int rows = std::atoi(argv[4]);
    if (std::strcmp(argv[2], "monitor") == 0) {
      MonitorRun(port, runDir.filePath("monitor.csv").toStdString(), rows);
    } else {
      LoggerRun(port, runDir.filePath("logger").toStdString(), rows, false);
    }
    return 0;
  }
  int cycles = 6;
  BenchOptions("varnel-logger-bench")
      .Int("--cycles", "N", "cycles of each measured run, 2 or more (default 6)", &cycles, 2)
      .Flag("--quick", "3 cycles: a smoke run", [&] { cycles = 3; })
      .Parse(argc, argv);
  const std::string here = QCoreApplication::applicationDirPath().toStdString();
  const std::string loggerProgram = here + "/../logger/varnel-logger";
  const std::string bareProgram = here + "/varnel-bare-core";

  SimulatorOptions simOptions;
  simOptions.port = 0;
  simOptions.recordLimit = 0;
  ControllerSimulator simulator(simOptions);
  std::string error;
  if (!simulator.Start(&error)) {
    std::fprintf(stderr, "varnel-logger-bench: %s\n", error.c_str());
    return 1;
  }
  const uint16_t port = simulator.Port();
  QTemporaryDir dir;

  // 1. Start-up cancels out: a run of N cycles less a run of one, per cycle.
  const auto perCycleUs = [&](auto run) {
    const int64_t one = run(1);
    const int64_t many = run(cycles);
    return static_cast<double>(many - one) / 1000.0 / (cycles - 1);
  };
  const double monitorUs = perCycleUs(
      [&](int rows) { return MonitorRun(port, dir.filePath("monitor.csv").toStdString(), rows); });
  const double monitorRequests = static_cast<double>(g_requests) / cycles;
  const double loggerUs = perCycleUs(
      [&](int rows) { return LoggerRun(port, dir.filePath("none").toStdString(), rows, false); });
  const double loggerRequests = static_cast<double>(g_requests) / cycles;
  const double loggerSyncUs = perCycleUs(
      [&](int rows) { return LoggerRun(port, dir.filePath("row").toStdString(), rows, true); });

  // 2. An hour between cycles: after the first row the logger only waits.
  double idlePercent = -1;
  {
    QProcess logger;
    logger.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    logger.setStandardErrorFile(QProcess::nullDevice());
    logger.start(QString::fromStdString(loggerProgram),
                 {"--config", QString::fromStdString(WriteConfig(dir, port, 3600)), "--output",
                  dir.filePath("idle")});
    if (logger.waitForStarted(5000)) {
      QThread::msleep(1500);
      const int64_t before = ScheduledNs(logger.processId());
      const auto wallStart = SteadyClock::now();
      QThread::msleep(5000);
      const int64_t after = ScheduledNs(logger.processId());
      const double wallNs =
          std::chrono::duration<double, std::nano>(SteadyClock::now() - wallStart).count();
      if (before >= 0 && after >= before) idlePercent = 100.0 * (after - before) / wallNs;
      logger.terminate();
      logger.waitForFinished(5000);
    }
  }

  // 3. Whole processes, peak resident memory.
  const long loggerRss =
      RunForPeakRssKib(loggerProgram, {"--config", WriteConfig(dir, port, 1), "--output",
                                       dir.filePath("rss").toStdString(), "--cycles", "3"});
  const long bareRss = RunForPeakRssKib(bareProgram, {});
  const double rssRatio = bareRss > 0 ? static_cast<double>(loggerRss) / bareRss : 0;

  // 4. One row appended, with and without fdatasync, on the folder's file system.
  std::vector<double> plain;
  std::vector<double> synced;
  {
    std::string header;
    CsvLog::AppendHeaderText(header, 0, 0, kDeviceNum);
    std::string row;
    std::vector<uint16_t> values(kDeviceNum, 12345);
    CsvLog::AppendRowText(row, {2026, 12, 9, 10, 0, 0}, values, false);
    CsvLog log(dir.filePath("sync.csv").toStdString());
    for (int i = 0; i < 200; ++i) {
      const bool sync = i % 2 == 1;
      const auto start = SteadyClock::now();
      log.AppendRows(header, false, row, sync);
      const double us =
          std::chrono::duration<double, std::micro>(SteadyClock::now() - start).count();
      (sync ? synced : plain).push_back(us);
    }
  }
  const double plainUs = MedianUs(plain);
  const double syncedUs = MedianUs(synced);

  // 5. System calls per cycle: a run of N cycles less a run of one, each a process of its own.
  const std::string self = QCoreApplication::applicationFilePath().toStdString();
  const auto callsPerCycle = [&](const char* which) {
    const long one = SystemCallsOf(self, {"--run", which, std::to_string(port), "1"}, dir);
    const long many =
        SystemCallsOf(self, {"--run", which, std::to_string(port), std::to_string(cycles)}, dir);
    return one < 0 || many < 0 ? -1.0 : static_cast<double>(many - one) / (cycles - 1);
  };
  const double monitorCalls = callsPerCycle("monitor");
  const double loggerCalls = callsPerCycle("logger");

  // 6. One fresh port.
  const double freshPortUs = FreshPortUs();

  std::printf("varnel-logger-bench (%d registers, Interval 1 s, %d cycles a run)\n", kDeviceNum,
              cycles);
  std::printf("  %-44s %10.1f us\n", "main-thread CPU per cycle: monitor", monitorUs);
  std::printf("  %-44s %10.1f us   ratio %.2f (a fresh port a request included)\n",
              "  logger, --sync none", loggerUs, monitorUs > 0 ? loggerUs / monitorUs : 0);
  std::printf("  %-44s %10.1f us   ratio %.2f\n", "  logger, --sync row", loggerSyncUs,
              monitorUs > 0 ? loggerSyncUs / monitorUs : 0);
  std::printf("  %-44s %10.4f %%   (target 0.0 %%)\n", "logger CPU while idle between cycles",
              idlePercent);
  std::printf("  %-44s %10ld KiB\n", "peak RSS: logger (3 cycles)", loggerRss);
  std::printf("  %-44s %10ld KiB   ratio %.2f (target <= %.1f)\n", "  bare QCoreApplication",
              bareRss, rssRatio, kRssTargetRatio);
  std::printf("  %-44s %10.1f us\n", "one row appended, median: without sync", plainUs);
  std::printf("  %-44s %10.1f us   (--sync row costs %.1f us a row)\n", "  with fdatasync",
              syncedUs, syncedUs - plainUs);
  std::printf("  %-44s %10.1f        logger %.1f\n", "requests per cycle: monitor", monitorRequests,
              loggerRequests);
  if (monitorCalls >= 0) {
    std::printf("  %-44s %10.1f        logger %.1f   ratio %.2f\n",
                "system calls per cycle: monitor", monitorCalls, loggerCalls,
                monitorCalls > 0 ? loggerCalls / monitorCalls : 0);
  } else {
    std::printf("  %-44s %10s\n", "system calls per cycle", "n/a (no strace)");
  }
  std::printf("  %-44s %10.1f us   (%.1f us a cycle of %d requests)\n",
              "one fresh port (bind, close, watch), median", freshPortUs,
              freshPortUs * loggerRequests, static_cast<int>(loggerRequests + 0.5));
  std::printf(
      "\nmonitor_cpu_us=%.1f logger_cpu_us=%.1f logger_sync_cpu_us=%.1f cpu_ratio=%.2f "
      "idle_cpu_percent=%.4f logger_rss_kib=%ld bare_rss_kib=%ld rss_ratio=%.2f "
      "append_us=%.1f append_sync_us=%.1f monitor_requests=%.1f logger_requests=%.1f "
      "monitor_syscalls=%.1f logger_syscalls=%.1f fresh_port_us=%.1f\n",
      monitorUs, loggerUs, loggerSyncUs, monitorUs > 0 ? loggerUs / monitorUs : 0, idlePercent,
      loggerRss, bareRss, rssRatio, plainUs, syncedUs, monitorRequests, loggerRequests,
      monitorCalls, loggerCalls, freshPortUs);
  simulator.Stop();
  return 0;
}
