// The monitor at its own operating point: Interval 1 s, 100 registers in 13 requests a cycle,
// through the real endpoint over the POSIX socket layer, the read cycle, its window timers and
// the CSV log, against a responder on 127.0.0.1 that stamps every datagram in the kernel.
// Beside it, in the same run and at the same cadence half a period later, the floor: a plain
// client process (varnel-cadence-floor) doing recvfrom / open-append-close / sendto.
//
// Turnaround = departure stamp of a reply to arrival stamp of the client's next request of the
// cycle: everything a client does per reply, the kernel's loopback path and the client's
// wake-up included, measured outside the client. Also: CPU per cycle (cycle start to row end;
// the median over the cycles, so that a cycle the shared machine delayed does not decide it)
// and CPU while idle between cycles of the client's thread, peak resident memory of each
// process. The responder runs as a process of its own, as a controller is never inside the
// program it answers. Prints figures, asserts nothing.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/monitor_settings.h"
#include "base/handler_guard.h"
#include "bench/bench_monitor.h"
#include "bench/bench_options.h"
#include "bench/bench_support.h"
#include "bench/responder_process.h"
#include "bench/stamping_responder.h"
#include "monitor/read_cycle.h"

extern char** environ;

namespace {

constexpr int kDeviceNum = 100;
constexpr int kChunk = 8;
constexpr int kRequestsPerCycle = (kDeviceNum + kChunk - 1) / kChunk;
constexpr int64_t kFloorOffsetNs = 500000000;  // half a period after the product
constexpr int64_t kFirstCycleDelayNs = 300000000;
constexpr double kTargetMedian = 1.3;
constexpr double kTargetP99 = 2.0;
constexpr double kTargetCpu = 1.3;

struct Options {
  int cycles = 30;
  int warmup = 2;
};

// The product's side as the main thread sees it: cycle spans and idle spans of its CPU.
struct Probe {
  int warmup = 0;
  int target = 0;  // rows to log in all
  int rows = 0;
  bool inCycle = false;
  int64_t cycleStartCpu = 0;
  int64_t rowEndCpu = 0;
  int64_t rowEndWall = 0;
  int64_t busyCpu = 0;
  std::vector<double> cycleCpu;  // ns, one per measured cycle
  int64_t idleCpu = 0;
  int64_t idleWall = 0;
  int retries = 0;
  int unexpected = 0;
  int errors = 0;
  QEventLoop* loop = nullptr;

  bool Measured() const { return rows >= warmup; }

  void CycleStarts() {
    const int64_t cpu = ThreadCpuNs();
    if (rows > warmup) {
      idleCpu += cpu - rowEndCpu;
      idleWall += MonotonicNs() - rowEndWall;
    }
    cycleStartCpu = cpu;
    inCycle = true;
  }

  void RowEnds() {
    rowEndCpu = ThreadCpuNs();
    rowEndWall = MonotonicNs();
    if (Measured()) {
      busyCpu += rowEndCpu - cycleStartCpu;
      cycleCpu.push_back(static_cast<double>(rowEndCpu - cycleStartCpu));
    }
    inCycle = false;
    if (++rows == target && loop != nullptr) loop->quit();
  }
};

struct ClientFigures {
  Summary turnaround;
  int resends = 0;
  double cpuPerCycleUs = 0;  // median over the cycles
  double cpuPerCycleMeanUs = 0;
  double idleCpuPercent = 0;
  long peakRssKib = 0;
};

// Turnarounds of one client's measured cycles: each request but a cycle's first against the
// reply to the request before it.
void CollectTurnarounds(const std::vector<StampingResponder::Exchange>& exchanges, uint16_t port,
                        int warmup, ClientFigures* figures) {
  std::vector<double> micros;
  const StampingResponder::Exchange* previous = nullptr;
  int cycle = -1;
  for (const StampingResponder::Exchange& e : exchanges) {
    if (e.fromPort != port) continue;
    if (e.first == 0) ++cycle;
    if (previous != nullptr && cycle >= warmup) {
      if (e.first == previous->first) {
        ++figures->resends;
      } else if (e.first == previous->first + kChunk && previous->replyNs > 0 &&
                 e.requestNs > previous->replyNs) {
        micros.push_back(static_cast<double>(e.requestNs - previous->replyNs) / 1000.0);
      }
    }
    previous = &e;
  }
  figures->turnaround = Summarize(std::move(micros));
}

// Starts the floor process with its standard output on a pipe; its pid, or -1.
pid_t SpawnFloor(const std::vector<std::string>& args, int* output) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  *output = pipeFds[0];
  return pid;
}

// The floor's one line of figures, or empty when it did not end within the bound.
std::string AwaitFloor(pid_t pid, int output, int boundMs) {
  std::string text;
  char chunk[512];
  const int64_t deadline = MonotonicNs() + int64_t{boundMs} * 1000000;
  while (true) {
    const int64_t left = (deadline - MonotonicNs()) / 1000000;
    pollfd ready{output, POLLIN, 0};
    if (left <= 0 || ::poll(&ready, 1, static_cast<int>(left)) != 1) {
      ::kill(pid, SIGTERM);
      text.clear();
      break;
    }
    const ssize_t got = ::read(output, chunk, sizeof chunk);
    if (got <= 0) break;  // the floor closed its output: it has ended
    text.append(chunk, static_cast<size_t>(got));
  }
  ::close(output);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return text;
}

long long FieldOf(const std::string& line, const std::string& name) {
  const size_t at = line.find(name + "=");
  return at == std::string::npos ? -1 : std::atoll(line.c_str() + at + name.size() + 1);
}

double Ratio(double product, double floor) { return floor > 0 ? product / floor : 0; }

void PrintRow(const char* name, double product, double floor, const char* target) {
  std::printf("  %-34s %10.1f %10.1f %8.2f   %s\n", name, product, floor, Ratio(product, floor),
              target);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  BenchOptions("varnel-cadence-bench")
      .Int("--cycles", "N", "measured cycles of each client at Interval 1 s (default 30)",
           &options.cycles, 1)
      .Int("--warmup", "W", "cycles run first and not counted (default 2)", &options.warmup, 0)
      .Flag("--quick", "5 cycles after 1 warm-up: a smoke run, not a figure",
            [&] {
              options.cycles = 5;
              options.warmup = 1;
            })
      .Parse(argc, argv);
  // Forked before Qt starts any thread.
  ResponderProcess responder;
  std::string error;
  if (!responder.Start(&error)) {
    std::fprintf(stderr, "varnel-cadence-bench: responder: %s\n", error.c_str());
    return 1;
  }

  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  if (!dir.isValid()) {
    std::fprintf(stderr, "varnel-cadence-bench: no temporary directory\n");
    return 1;
  }
  const std::string productFile = dir.filePath(QStringLiteral("product.csv")).toStdString();
  const std::string floorFile = dir.filePath(QStringLiteral("floor.csv")).toStdString();
  const std::string floorProgram =
      (QCoreApplication::applicationDirPath() + QStringLiteral("/varnel-cadence-floor"))
          .toStdString();

  Probe probe;
  probe.warmup = options.warmup;
  probe.target = options.warmup + options.cycles;
  HandlerGuard::SetReporter([&probe](const std::string& message) {
    ++probe.errors;
    std::fprintf(stderr, "varnel-cadence-bench: handler error: %s\n", message.c_str());
  });

  // The monitor's defaults but for the address: Interval 1, TimeOut 100.
  MonitorSettings settings;
  settings.IPAddress = "127.0.0.1";
  settings.PortNo = responder.Port();
  settings.DeviceStart = 0;
  settings.DeviceNum = kDeviceNum;

  // The monitor's core as the main window puts it together.
  BenchMonitor monitor(settings, productFile,
                       {[&probe] { probe.CycleStarts(); },
                        [&probe] {
                          if (probe.inCycle) probe.RowEnds();
                        },
                        [&probe](const std::string& text) {
                          if (text == "UDP-Unresponced. Retrying.") ++probe.retries;
                          if (text.rfind("Unexpected", 0) == 0) ++probe.unexpected;
                        }});
  ReadCycle& cycle = monitor.Cycle();
  const uint16_t productPort = monitor.Endpoint().BoundPort();

  const int64_t productStartNs = MonotonicNs() + kFirstCycleDelayNs;
  int floorOutput = -1;
  const pid_t floorPid = SpawnFloor(
      {floorProgram, "--port", std::to_string(responder.Port()), "--cycles",
       std::to_string(options.cycles), "--warmup", std::to_string(options.warmup), "--start-ns",
       std::to_string(productStartNs + kFloorOffsetNs), "--log", floorFile},
      &floorOutput);
  if (floorPid < 0) {
    std::fprintf(stderr, "varnel-cadence-bench: cannot start %s\n", floorProgram.c_str());
    return 1;
  }

  // Run as the window's Run button does; Timer1 starts every later cycle.
  QEventLoop loop;
  probe.loop = &loop;
  const int boundMs = (probe.target + 10) * 1000;
  bool timedOut = false;
  QTimer::singleShot(static_cast<int>(kFirstCycleDelayNs / 1000000), Qt::PreciseTimer, &loop, [&] {
    probe.CycleStarts();
    cycle.BeginMonitoring([] {});
  });
  QTimer::singleShot(boundMs, &loop, [&] {
    timedOut = true;
    loop.quit();
  });
  loop.exec();
  monitor.Timer1().SetEnabled(false);
  monitor.Timer2().SetEnabled(false);

  const std::string floorLine = AwaitFloor(floorPid, floorOutput, boundMs);
  std::vector<StampingResponder::Exchange> exchanges;
  if (!responder.Finish(&exchanges, &error)) {
    std::fprintf(stderr, "varnel-cadence-bench: %s\n", error.c_str());
    return 1;
  }
  if (timedOut || probe.errors > 0) {
    std::fprintf(stderr, "varnel-cadence-bench: the product did not log %d rows in time\n",
                 probe.target);
    return 1;
  }
  if (floorLine.empty() || FieldOf(floorLine, "floor_cycles") != options.cycles) {
    std::fprintf(stderr, "varnel-cadence-bench: the floor client failed\n");
    return 1;
  }

  ClientFigures product;
  CollectTurnarounds(exchanges, productPort, options.warmup, &product);
  product.cpuPerCycleUs = Summarize(probe.cycleCpu).median / 1000.0;
  product.cpuPerCycleMeanUs = static_cast<double>(probe.busyCpu) / 1000.0 / options.cycles;
  product.idleCpuPercent =
      probe.idleWall > 0 ? 100.0 * static_cast<double>(probe.idleCpu) / probe.idleWall : 0;
  product.peakRssKib = PeakRssKib();

  ClientFigures floor;
  uint16_t floorPort = 0;
  for (const StampingResponder::Exchange& e : exchanges) {
    if (e.fromPort != productPort) floorPort = e.fromPort;
  }
  CollectTurnarounds(exchanges, floorPort, options.warmup, &floor);
  floor.cpuPerCycleUs =
      static_cast<double>(FieldOf(floorLine, "floor_cycle_cpu_median_ns")) / 1000.0;
  floor.cpuPerCycleMeanUs =
      static_cast<double>(FieldOf(floorLine, "floor_busy_cpu_ns")) / 1000.0 / options.cycles;
  const double floorIdleWall = static_cast<double>(FieldOf(floorLine, "floor_idle_wall_ns"));
  floor.idleCpuPercent =
      floorIdleWall > 0
          ? 100.0 * static_cast<double>(FieldOf(floorLine, "floor_idle_cpu_ns")) / floorIdleWall
          : 0;
  floor.peakRssKib = static_cast<long>(FieldOf(floorLine, "floor_peak_rss_kib"));

  const double ratioMedian = Ratio(product.turnaround.median, floor.turnaround.median);
  const double ratioP99 = Ratio(product.turnaround.p99, floor.turnaround.p99);
  const double ratioCpu = Ratio(product.cpuPerCycleUs, floor.cpuPerCycleUs);

  std::printf("varnel-cadence-bench\n");
  std::printf("  machine: %s\n", MachineText().c_str());
  std::printf("  event dispatcher: %s\n",
              QAbstractEventDispatcher::instance()->metaObject()->className());
  std::printf(
      "  cadence: Interval 1 s, %d registers in %d requests; %d cycles of each client after %d "
      "warm-up; the floor runs half a period after the product\n",
      kDeviceNum, kRequestsPerCycle, options.cycles, options.warmup);
  std::printf(
      "  turnaround: kernel stamp of a reply leaving the responder to that of the next "
      "request arriving (%zu and %zu samples)\n",
      product.turnaround.count, floor.turnaround.count);
  std::printf("\n  %-34s %10s %10s %8s   %s\n", "", "product", "floor", "ratio", "target");
  PrintRow("turnaround median (us)", product.turnaround.median, floor.turnaround.median, "<= 1.3");
  PrintRow("turnaround p99 (us)", product.turnaround.p99, floor.turnaround.p99, "<= 2.0");
  PrintRow("turnaround min (us)", product.turnaround.min, floor.turnaround.min, "");
  PrintRow("turnaround max (us)", product.turnaround.max, floor.turnaround.max, "");
  PrintRow("CPU per cycle, median (us)", product.cpuPerCycleUs, floor.cpuPerCycleUs, "<= 1.3");
  PrintRow("CPU per cycle, mean (us)", product.cpuPerCycleMeanUs, floor.cpuPerCycleMeanUs, "");
  std::printf("  %-34s %10.4f %10.4f %8s   %s\n", "idle CPU between cycles (% core)",
              product.idleCpuPercent, floor.idleCpuPercent, "", "0.0 (product)");
  std::printf(
      "  %-34s %10ld %10ld %8.2f\n", "peak resident memory (KiB)", product.peakRssKib,
      floor.peakRssKib,
      Ratio(static_cast<double>(product.peakRssKib), static_cast<double>(floor.peakRssKib)));
  std::printf("  resends: product %d (status %d), floor %d; unexpected datagrams: %d\n",
              product.resends, probe.retries, floor.resends, probe.unexpected);
  const bool met = ratioMedian <= kTargetMedian && ratioP99 <= kTargetP99 &&
                   ratioCpu <= kTargetCpu && product.idleCpuPercent < 0.05;
  std::printf("  targets %s\n", met ? "met" : "NOT met");
  std::printf(
      "\ncadence_turnaround_median_us=%.1f cadence_turnaround_p99_us=%.1f "
      "floor_turnaround_median_us=%.1f floor_turnaround_p99_us=%.1f ratio_median=%.2f "
      "ratio_p99=%.2f cpu_per_cycle_us=%.1f floor_cpu_per_cycle_us=%.1f ratio_cpu=%.2f "
      "cpu_per_cycle_mean_us=%.1f floor_cpu_per_cycle_mean_us=%.1f idle_cpu_percent=%.4f "
      "floor_idle_cpu_percent=%.4f peak_rss_kib=%ld floor_peak_rss_kib=%ld\n",
      product.turnaround.median, product.turnaround.p99, floor.turnaround.median,
      floor.turnaround.p99, ratioMedian, ratioP99, product.cpuPerCycleUs, floor.cpuPerCycleUs,
      ratioCpu, product.cpuPerCycleMeanUs, floor.cpuPerCycleMeanUs, product.idleCpuPercent,
      floor.idleCpuPercent, product.peakRssKib, floor.peakRssKib);
  return 0;
}
