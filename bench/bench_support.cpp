#include "bench/bench_support.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>

Summary Summarize(std::vector<double> values) {
  Summary s;
  s.count = values.size();
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  s.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  const size_t rank = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(n)));
  s.p99 = values[std::clamp<size_t>(rank, 1, n) - 1];
  s.min = values.front();
  s.max = values.back();
  return s;
}

namespace {
int64_t Nanoseconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}
}  // namespace

int64_t ThreadCpuNs() { return Nanoseconds(CLOCK_THREAD_CPUTIME_ID); }

int64_t MonotonicNs() { return Nanoseconds(CLOCK_MONOTONIC); }

long PeakRssKib() {
  // The high-water mark of this process's own memory: getrusage's maximum would carry over
  // that of a parent whose memory a spawned process shared until its exec.
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

void ResidentKib(long* rssKib, long* peakKib) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) *rssKib = std::atol(line.c_str() + 6);
    if (line.rfind("VmHWM:", 0) == 0) *peakKib = std::atol(line.c_str() + 6);
  }
}

std::string MachineText() {
  std::string model = "unknown";
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos) model = line.substr(colon + 2);
      break;
    }
  }
  return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cpus, " + model;
}
