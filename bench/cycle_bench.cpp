// Measures, in one run and against the in-process controller simulator on 127.0.0.1:
//   1. one cycle of 100 registers through the real endpoint, cycle, timers and log;
//   2. the floor: the same 13 datagrams exchanged over a plain socket, with a file append per
//      reply, interleaved sample by sample with (1) so that machine drift hits both;
//   3. the main thread's CPU while idle between cycles (Interval 1 s);
//   4. the peak resident memory.
// Prints a table and one machine-readable line. Nothing is asserted: these are figures.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/monitor_settings.h"
#include "base/handler_guard.h"
#include "bench/bench_monitor.h"
#include "bench/bench_options.h"
#include "bench/bench_support.h"
#include "bench/plain_reply_append.h"
#include "monitor/read_cycle.h"
#include "tools/sim/controller_simulator.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kDeviceNum = 100;
constexpr int kDeviceStart = 0;
constexpr int kChunk = 8;
constexpr double kTargetRatio = 1.5;
constexpr double kTargetIdleCpuPercent = 0.1;
// Sampling stops early when the interleaved samples have taken this long.
constexpr auto kSamplingBudget = std::chrono::seconds(15);
// Bounds one sample of either kind; a loopback cycle takes a few milliseconds.
constexpr int kSampleBoundMs = 5000;

struct Options {
  int samples = 300;
  int warmup = 30;
  double idleSeconds = 5.0;
};

double Micros(SteadyClock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

int64_t ProcessCpuNs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ns = [](const timeval& tv) {
    return int64_t{tv.tv_sec} * 1000000000 + tv.tv_usec * 1000;
  };
  return ns(usage.ru_utime) + ns(usage.ru_stime);
}

size_t CountLines(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  size_t lines = 0;
  std::string line;
  while (std::getline(in, line)) ++lines;
  return lines;
}

// The floor: what a cycle costs with nothing between the program and the kernel. A plain
// non-blocking socket, one request in flight, and per reply the same open-append-close of a
// file with the parsed values that the log does.
class RawExchange {
 public:
  RawExchange(uint16_t port, std::string fileName) : fileName_(std::move(fileName)) {
    to_.sin_family = AF_INET;
    to_.sin_port = htons(port);
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int first = kDeviceStart; first < kDeviceStart + kDeviceNum; first += kChunk) {
      const int count = std::min(kChunk, kDeviceStart + kDeviceNum - first);
      std::array<char, 16> text{};
      std::snprintf(text.data(), text.size(), "RDS DM%05d %d\r\n", first, count);
      commands_.push_back({std::string(text.data(), 15), count});
    }
  }

  ~RawExchange() {
    if (fd_ >= 0) ::close(fd_);
  }

  RawExchange(const RawExchange&) = delete;
  RawExchange& operator=(const RawExchange&) = delete;

  bool Open() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return fd_ >= 0;
  }

  size_t RequestCount() const { return commands_.size(); }

  // One cycle; false (with a reason in *error) when a reply is late or malformed.
  bool RunCycle(std::string* error) {
    for (size_t k = 0; k < commands_.size(); ++k) {
      const Command& command = commands_[k];
      if (::sendto(fd_, command.bytes.data(), command.bytes.size(), 0,
                   reinterpret_cast<const sockaddr*>(&to_), sizeof to_) < 0) {
        *error = std::string("sendto: ") + std::strerror(errno);
        return false;
      }
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, kSampleBoundMs) != 1) {
        *error = "no reply within the bound";
        return false;
      }
      const ssize_t got = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
      if (got != 6 * command.count + 1) {
        *error = "reply of " + std::to_string(got) + " bytes";
        return false;
      }
      AppendReply(static_cast<size_t>(got), k == 0, k + 1 == commands_.size());
    }
    return true;
  }

 private:
  struct Command {
    std::string bytes;
    int count;
  };

  void AppendReply(size_t length, bool first, bool last) {
    AppendReplyPlainly(fileName_.c_str(), buffer_.data(), length, first, last);
  }

  std::string fileName_;
  sockaddr_in to_{};
  std::vector<Command> commands_;
  std::array<char, 2048> buffer_{};
  int fd_ = -1;
};

// What the event hooks record: the loop a sample waits in, and the idle spans of the
// monitoring run.
struct Probe {
  QEventLoop* waiting = nullptr;
  bool measuringIdle = false;
  bool inIdle = false;
  int64_t idleStartCpu = 0;
  SteadyClock::time_point idleStartWall;
  int64_t idleCpuNs = 0;
  SteadyClock::duration idleWall{};
  int idleSpans = 0;
  int cyclesStarted = 0;
  int rowsEnded = 0;
  int retries = 0;
  int unexpected = 0;
  int errors = 0;

  void RowEnded() {
    ++rowsEnded;
    if (waiting != nullptr) waiting->quit();
    if (measuringIdle) {
      inIdle = true;
      idleStartCpu = ThreadCpuNs();
      idleStartWall = SteadyClock::now();
    }
  }

  void CloseIdleSpan() {
    if (!inIdle) return;
    const int64_t cpu = ThreadCpuNs();
    idleWall += SteadyClock::now() - idleStartWall;
    idleCpuNs += cpu - idleStartCpu;
    ++idleSpans;
    inIdle = false;
  }
};

void PrintRow(const char* name, const Summary& s) {
  std::printf("  %-34s %10.1f %10.1f %10.1f %10.1f\n", name, s.median, s.p99, s.min, s.max);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  BenchOptions("varnel-bench")
      .Int("--samples", "N", "interleaved cycle/floor samples (default 300)", &options.samples, 1)
      .Double("--idle-seconds", "S", "wall time of the idle-CPU run at Interval 1 (default 5)",
              &options.idleSeconds, 0)
      .Flag("--quick", "30 samples, 1 s idle: a smoke run",
            [&] {
              options.samples = 30;
              options.warmup = 5;
              options.idleSeconds = 1.0;
            })
      .Parse(argc, argv);
  QCoreApplication app(argc, argv);

  QTemporaryDir dir;
  if (!dir.isValid()) {
    std::fprintf(stderr, "varnel-bench: no temporary directory\n");
    return 1;
  }
  const std::string productFile = dir.filePath(QStringLiteral("cycle.csv")).toStdString();
  const std::string floorFile = dir.filePath(QStringLiteral("floor.csv")).toStdString();

  SimulatorOptions simOptions;
  simOptions.bindAddress = "127.0.0.1";
  simOptions.port = 0;
  ControllerSimulator simulator(simOptions);
  std::string simError;
  if (!simulator.Start(&simError)) {
    std::fprintf(stderr, "varnel-bench: simulator: %s\n", simError.c_str());
    return 1;
  }

  Probe probe;
  HandlerGuard::SetReporter([&probe](const std::string& message) {
    ++probe.errors;
    std::fprintf(stderr, "varnel-bench: handler error: %s\n", message.c_str());
  });

  MonitorSettings settings;
  settings.IPAddress = "127.0.0.1";
  settings.PortNo = simulator.Port();
  settings.Interval = 0;  // Timer1 never fires while cycles are timed
  settings.TimeOut = 1000;
  settings.DeviceName = 0;
  settings.DeviceStart = kDeviceStart;
  settings.DeviceNum = kDeviceNum;
  settings.Unsigned = 0;

  // Loaded the way the main window loads it.
  BenchMonitor monitor(settings, productFile,
                       {[&probe] {
                          probe.CloseIdleSpan();
                          ++probe.cyclesStarted;
                        },
                        [&probe] { probe.RowEnded(); },
                        [&probe](const std::string& text) {
                          if (text == "UDP-Unresponced. Retrying.") ++probe.retries;
                          if (text.rfind("Unexpected", 0) == 0) ++probe.unexpected;
                        }});
  ReadCycle& cycle = monitor.Cycle();

  RawExchange floor(simulator.Port(), floorFile);
  if (!floor.Open()) {
    std::perror("varnel-bench: socket");
    return 1;
  }

  QEventLoop loop;
  bool sampleTimedOut = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
    sampleTimedOut = true;
    loop.quit();
  });

  const auto productCycle = [&]() -> double {
    watchdog.start(kSampleBoundMs);
    const auto start = SteadyClock::now();
    probe.waiting = &loop;
    cycle.StartCycle(settings.DeviceName, settings.DeviceStart, settings.DeviceNum);
    if (cycle.State().CycleBusy) loop.exec();
    const auto end = SteadyClock::now();
    probe.waiting = nullptr;
    watchdog.stop();
    return Micros(end - start);
  };

  std::string floorError;
  const auto floorCycle = [&]() -> double {
    const auto start = SteadyClock::now();
    const bool ok = floor.RunCycle(&floorError);
    const auto end = SteadyClock::now();
    return ok ? Micros(end - start) : -1;
  };

  // 1 and 2, interleaved; the order within a pair alternates so neither side always runs on
  // caches the other has just warmed.
  std::vector<double> cycleUs;
  std::vector<double> floorUs;
  const auto samplingStart = SteadyClock::now();
  bool budgetHit = false;
  for (int i = 0; i < options.warmup + options.samples; ++i) {
    double a = 0;
    double b = 0;
    if (i % 2 == 0) {
      a = productCycle();
      b = floorCycle();
    } else {
      b = floorCycle();
      a = productCycle();
    }
    if (sampleTimedOut || probe.errors > 0 || cycle.State().CycleBusy) {
      std::fprintf(stderr, "varnel-bench: product cycle did not complete (sample %d)\n", i);
      return 1;
    }
    if (b < 0) {
      std::fprintf(stderr, "varnel-bench: floor cycle failed: %s\n", floorError.c_str());
      return 1;
    }
    if (i >= options.warmup) {
      cycleUs.push_back(a);
      floorUs.push_back(b);
    }
    if (SteadyClock::now() - samplingStart > kSamplingBudget) {
      budgetHit = true;
      break;
    }
  }
  const int retriesWhileTimed = probe.retries;
  const Summary product = Summarize(cycleUs);
  const Summary raw = Summarize(floorUs);
  const double ratioMedian = raw.median > 0 ? product.median / raw.median : 0;
  const double ratioP99 = raw.p99 > 0 ? product.p99 / raw.p99 : 0;

  // 3: monitoring as Run starts it, Timer1 at 1000 ms.
  settings.Interval = 1;
  probe.measuringIdle = true;
  const int rowsBeforeIdle = probe.rowsEnded;
  const auto idleWallStart = SteadyClock::now();
  const int64_t processCpuStart = ProcessCpuNs();
  const int64_t threadCpuStart = ThreadCpuNs();
  QTimer::singleShot(static_cast<int>(options.idleSeconds * 1000), Qt::PreciseTimer, &loop, [&] {
    probe.CloseIdleSpan();
    loop.quit();
  });
  cycle.BeginMonitoring([] {});
  ++probe.cyclesStarted;
  loop.exec();
  const int64_t threadCpuEnd = ThreadCpuNs();
  const int64_t processCpuEnd = ProcessCpuNs();
  const auto idleWallEnd = SteadyClock::now();
  probe.measuringIdle = false;
  cycle.StopWait();
  monitor.Timer1().SetEnabled(false);
  const int monitoringRows = probe.rowsEnded - rowsBeforeIdle;

  const double idleWallNs = std::chrono::duration<double, std::nano>(probe.idleWall).count();
  const double idleCpuPercent =
      idleWallNs > 0 ? 100.0 * static_cast<double>(probe.idleCpuNs) / idleWallNs : 0;
  const double periodNs =
      std::chrono::duration<double, std::nano>(idleWallEnd - idleWallStart).count();
  const double processCpuPercent =
      100.0 * static_cast<double>(processCpuEnd - processCpuStart) / periodNs;
  const double busyCpuPerCycleUs =
      monitoringRows > 0 ? static_cast<double>(threadCpuEnd - threadCpuStart - probe.idleCpuNs) /
                               1000.0 / monitoringRows
                         : 0;

  // 4.
  const long peakRss = PeakRssKib();

  std::printf("varnel-bench\n");
  std::printf("  machine: %s\n", MachineText().c_str());
  std::printf("  event dispatcher: %s\n",
              QAbstractEventDispatcher::instance()->metaObject()->className());
  std::printf("  cycle: %d registers in %zu requests, simulator on 127.0.0.1:%u\n", kDeviceNum,
              floor.RequestCount(), simulator.Port());
  std::printf("\n  %-34s %10s %10s %10s %10s\n", "time per cycle (us)", "median", "p99", "min",
              "max");
  PrintRow("product (endpoint, cycle, log)", product);
  PrintRow("floor (raw socket, file appends)", raw);
  std::printf("  %-34s %10.2f %10.2f   (target <= %.1f)\n", "ratio product/floor", ratioMedian,
              ratioP99, kTargetRatio);
  std::printf("  samples: %zu interleaved pairs after %d warm-up%s; resends while timed: %d\n",
              cycleUs.size(), options.warmup, budgetHit ? " (time budget reached)" : "",
              retriesWhileTimed);
  std::printf("\n  monitoring at Interval 1 s for %.1f s: %d rows, %d idle spans\n", periodNs / 1e9,
              monitoringRows, probe.idleSpans);
  std::printf("  %-34s %10.4f %%   (target < %.1f %%)\n", "main thread CPU while idle",
              idleCpuPercent, kTargetIdleCpuPercent);
  std::printf("  %-34s %10.1f us\n", "main thread CPU per monitored cycle", busyCpuPerCycleUs);
  std::printf("  %-34s %10.4f %%   (simulator thread included)\n", "process CPU over the period",
              processCpuPercent);
  std::printf("  %-34s %10ld KiB\n", "peak resident memory", peakRss);
  std::printf("  rows logged: product %zu (header included), floor %zu\n", CountLines(productFile),
              CountLines(floorFile));
  std::printf("  unexpected datagrams: %d, handler errors: %d\n", probe.unexpected, probe.errors);
  std::printf(
      "\ncycle_median_us=%.1f cycle_p99_us=%.1f cycle_min_us=%.1f floor_median_us=%.1f "
      "floor_p99_us=%.1f floor_min_us=%.1f ratio_median=%.2f ratio_p99=%.2f "
      "idle_cpu_percent=%.4f process_cpu_percent=%.4f peak_rss_kib=%ld\n",
      product.median, product.p99, product.min, raw.median, raw.p99, raw.min, ratioMedian, ratioP99,
      idleCpuPercent, processCpuPercent, peakRss);

  simulator.Stop();
  return probe.errors == 0 ? 0 : 1;
}
