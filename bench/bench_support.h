#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Figures shared by the benchmarks: clocks, summaries, memory and the machine's name.

struct Summary {
  double median = 0;
  double p99 = 0;  // nearest rank
  double min = 0;
  double max = 0;
  size_t count = 0;
};

Summary Summarize(std::vector<double> values);

// CPU time of the calling thread, in nanoseconds.
int64_t ThreadCpuNs();
// CLOCK_MONOTONIC in nanoseconds: one time base for every process on the machine.
int64_t MonotonicNs();
// The process's peak resident set (VmHWM), in KiB.
long PeakRssKib();
// The peak resident set of a running process of ours, in KiB; 0 when it cannot be read.
// wait4's ru_maxrss is no measure of a spawned program: it also counts the parent's memory that
// the child shared until its exec.
long PeakRssKibOf(int pid);
// Runs a program to its end (its stderr to /dev/null) and returns its own peak resident set in
// KiB, read as it exits; -1 when it cannot be run or does not exit with 0.
long RunForPeakRssKib(const std::string& program, const std::vector<std::string>& arguments);
// The process's resident set now (VmRSS) and its peak so far (VmHWM), in KiB.
void ResidentKib(long* rssKib, long* peakKib);
// "2 cpus, AMD EPYC"
std::string MachineText();
