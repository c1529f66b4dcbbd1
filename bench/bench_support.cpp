#include "bench/bench_support.h"

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
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

namespace {
long HighWaterKib(const std::string& statusPath) {
  std::ifstream in(statusPath);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}
}  // namespace

long PeakRssKib() { return HighWaterKib("/proc/self/status"); }

long PeakRssKibOf(int pid) { return HighWaterKib("/proc/" + std::to_string(pid) + "/status"); }

long RunForPeakRssKib(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    // Traced, so that it stops once more as it exits, while its memory can still be read.
    ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    if (std::freopen("/dev/null", "w", stderr) == nullptr) _exit(127);
    ::execv(program.c_str(), argv.data());
    _exit(127);
  }
  long peak = -1;
  int status = 0;
  while (::waitpid(child, &status, 0) == child && WIFSTOPPED(status)) {
    int pass = 0;
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      peak = PeakRssKibOf(child);
    } else if (WSTOPSIG(status) == SIGTRAP && peak < 0) {
      ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT);  // the stop at exec
    } else {
      pass = WSTOPSIG(status);
    }
    ::ptrace(PTRACE_CONT, child, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(pass)));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? peak : -1;
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
