// The floor of the cadence benchmark: a plain client with nothing between it and the kernel.
// At its own 1 s cadence it reads the 100 registers in 13 requests, one in flight at a time,
// and per reply does what the monitor must do at the least: recvfrom, one open-append-close of
// the log, sendto of the next request. It runs as a process of its own so that its CPU and
// memory are its own; the turnarounds are stamped by the benchmark's responder.
//
// Prints one line: floor_cycles=N floor_busy_cpu_ns=... floor_cycle_cpu_median_ns=...
// floor_idle_cpu_ns=... floor_idle_wall_ns=... floor_peak_rss_kib=...

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "bench/bench_support.h"
#include "bench/plain_reply_append.h"

namespace {

constexpr int kDeviceNum = 100;
constexpr int kChunk = 8;
constexpr int64_t kPeriodNs = 1000000000;

struct Options {
  int port = 0;
  int cycles = 0;
  int warmup = 0;
  int64_t startNs = 0;
  std::string log;
};

void SleepUntil(int64_t monotonicNs) {
  const timespec due{static_cast<time_t>(monotonicNs / 1000000000),
                     static_cast<long>(monotonicNs % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  BenchOptions("varnel-cadence-floor")
      .Int("--port", "P", "the responder's port on 127.0.0.1", &options.port, 1, 65535)
      .Required()
      .Int("--cycles", "N", "measured cycles", &options.cycles, 1)
      .Required()
      .Int("--warmup", "W", "cycles run first and not counted", &options.warmup, 0)
      .Required()
      .Int64("--start-ns", "T", "when the first cycle starts, CLOCK_MONOTONIC", &options.startNs)
      .Required()
      .Text("--log", "FILE", "where the cycles' stamps go", &options.log)
      .Required()
      .Note("(started by varnel-cadence-bench)")
      .Parse(argc, argv);
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    std::perror("varnel-cadence-floor: socket");
    return 1;
  }
  // A lost reply ends the run instead of hanging it.
  const timeval bound{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(options.port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  std::vector<std::array<char, 16>> commands;
  for (int first = 0; first < kDeviceNum; first += kChunk) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "RDS DM%05d %d\r\n", first,
                  std::min(kChunk, kDeviceNum - first));
    commands.push_back(text);
  }

  std::array<char, 2048> reply{};
  int64_t busyCpu = 0;
  std::vector<double> cycleCpu;
  int64_t idleCpu = 0;
  int64_t idleWall = 0;
  int64_t lastEndCpu = 0;
  int64_t lastEndWall = 0;
  for (int cycle = 0; cycle < options.warmup + options.cycles; ++cycle) {
    SleepUntil(options.startNs + cycle * kPeriodNs);
    const int64_t startCpu = ThreadCpuNs();
    const bool measured = cycle >= options.warmup;
    if (measured && cycle > options.warmup) {
      idleCpu += startCpu - lastEndCpu;
      idleWall += MonotonicNs() - lastEndWall;
    }
    for (size_t k = 0; k < commands.size(); ++k) {
      if (::sendto(fd, commands[k].data(), 15, 0, reinterpret_cast<const sockaddr*>(&to),
                   sizeof to) != 15) {
        std::perror("varnel-cadence-floor: sendto");
        return 1;
      }
      const ssize_t got = ::recvfrom(fd, reply.data(), reply.size(), 0, nullptr, nullptr);
      if (got < 0) {
        std::perror("varnel-cadence-floor: recvfrom");
        return 1;
      }
      AppendReplyPlainly(options.log.c_str(), reply.data(), static_cast<size_t>(got), k == 0,
                         k + 1 == commands.size());
    }
    lastEndCpu = ThreadCpuNs();
    lastEndWall = MonotonicNs();
    if (measured) {
      busyCpu += lastEndCpu - startCpu;
      cycleCpu.push_back(static_cast<double>(lastEndCpu - startCpu));
    }
  }
  std::printf(
      "floor_cycles=%d floor_busy_cpu_ns=%lld floor_cycle_cpu_median_ns=%lld "
      "floor_idle_cpu_ns=%lld floor_idle_wall_ns=%lld floor_peak_rss_kib=%ld\n",
      options.cycles, static_cast<long long>(busyCpu),
      static_cast<long long>(Summarize(cycleCpu).median), static_cast<long long>(idleCpu),
      static_cast<long long>(idleWall), PeakRssKib());
  ::close(fd);
  return 0;
}
