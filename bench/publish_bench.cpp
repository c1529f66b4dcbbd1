// The logger publishing its rows to a broker, against the floor: a plain client over
// libmosquitto (varnel-publish-floor) publishing the same JSON payloads with the same QoS (1)
// and window (64) to the same broker, in one run. The benchmark starts its own mosquitto on
// 127.0.0.1 with a free port, the controller simulator in-process (100 registers), and a
// subscriber of its own (libmosquitto on its own thread) that stamps each message's receipt
// with CLOCK_MONOTONIC. The logger and the floor run as child processes.
//   1. live latency: the logger at Interval 1 s (--sync none) and, half a period later, the
//      floor at the same cadence; from a row's append to its log (stamped when inotify reports
//      the file's growth, each new line matched to the payload's file and row) to its receipt;
//   2. CPU per row of the whole logger process (all its threads, /proc/PID/task/*/schedstat)
//      over the same rows, and of the logger without publishing;
//   3. replay: a day of rows (86,400 rows of 100 values) written to a folder before the logger
//      starts, with the kept position at its start; its drain rate at the subscriber against
//      the floor's for the same rows, and the worst live latency while it drains;
//   4. peak resident memory (VmHWM, read before it is stopped) of the logger draining the day
//   against the
//      same logger's without a backlog (run 1).
// Prints a table and one machine-readable line. Nothing is asserted: these are figures.

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_options.h"
#include "bench/bench_support.h"
#include "tools/sim/controller_simulator.h"

extern char** environ;

namespace {

constexpr int kDeviceNum = 100;
constexpr int64_t kMs = 1000000;

struct Options {
  int liveRows = 40;
  int plainRows = 15;
  int dayRows = 86400;
};

uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Children started: stopped, by their PIDs, when the benchmark gives up.
std::vector<pid_t>& Children() {
  static std::vector<pid_t> children;
  return children;
}

// A child process with its output in a file; stopped by its PID only.
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  if (pid > 0) Children().push_back(pid);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Stops a child (SIGTERM, then SIGKILL after `boundMs`) and returns its peak resident set
// until then.
long StopChild(pid_t pid, int boundMs = 10000) {
  auto& children = Children();
  const auto known = std::find(children.begin(), children.end(), pid);
  if (known == children.end()) return 0;  // already stopped and reaped
  children.erase(known);
  const long peakKib = PeakRssKibOf(pid);
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
    if (waited == boundMs) ::kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return peakKib;
}

// Waits for a child that ends by itself.
void WaitChild(pid_t pid) {
  auto& children = Children();
  children.erase(std::remove(children.begin(), children.end(), pid), children.end());
  int status = 0;
  ::waitpid(pid, &status, 0);
}

// The run time of every thread of a process, in ns.
int64_t ProcessRunNs(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  int64_t sum = 0;
  DIR* dir = ::opendir(tasks.c_str());
  if (dir == nullptr) return 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
    int64_t ns = 0;
    if (in >> ns) sum += ns;
  }
  ::closedir(dir);
  return sum;
}

bool WaitFor(const std::function<bool()>& done, int boundMs) {
  const int64_t until = MonotonicNs() + int64_t{boundMs} * kMs;
  while (!done()) {
    if (MonotonicNs() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// One mosquitto of the benchmark's own on 127.0.0.1, no queue limits, no persistence.
class Broker {
 public:
  explicit Broker(const std::string& folder) : folder_(folder), port_(FreePort()) {
    WriteText(folder_ + "/mosquitto.conf",
              "listener " + std::to_string(port_) +
                  " 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\n"
                  "max_inflight_messages 64\n" +
                  (::geteuid() == 0 ? "user root\n" : ""));
  }
  ~Broker() {
    if (pid_ > 0) StopChild(pid_);
  }
  bool Start() {
    pid_ = Spawn({"mosquitto", "-c", folder_ + "/mosquitto.conf"}, folder_ + "/mosquitto.log");
    return pid_ > 0 && WaitFor(
                           [this] {
                             const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                             sockaddr_in a{};
                             a.sin_family = AF_INET;
                             a.sin_port = htons(port_);
                             a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                             const bool up =
                                 ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
                             ::close(fd);
                             return up;
                           },
                           10000);
  }
  uint16_t Port() const { return port_; }

 private:
  std::string folder_;
  uint16_t port_;
  pid_t pid_ = -1;
};

// Stamps every line appended to a CSV file in the watched folders when inotify reports the
// growth: file name and row number (1: the first data row) to CLOCK_MONOTONIC ns.
class AppendWatcher {
 public:
  AppendWatcher() : fd_(::inotify_init1(IN_CLOEXEC)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~AppendWatcher() {
    stop_ = true;
    // Wakes the read: a file of our own appears in the first watched folder.
    if (!folders_.empty()) WriteText(folders_.begin()->second + "/.wake", "");
    thread_.join();
    ::close(fd_);
  }
  // Call before anything is written there.
  void Watch(const std::string& folder) {
    std::lock_guard lock(mutex_);
    folders_[::inotify_add_watch(fd_, folder.c_str(), IN_MODIFY | IN_CREATE)] = folder;
  }
  long Rows(const std::string& file) {
    std::lock_guard lock(mutex_);
    return files_[file].rows;
  }
  // Rows seen in any file of `folder` (the live files of one run).
  long RowsIn(const std::string& folder) {
    std::lock_guard lock(mutex_);
    long rows = 0;
    for (const auto& [name, f] : files_) rows += f.folder == folder ? f.rows : 0;
    return rows;
  }
  bool Stamp(const std::string& file, long row, int64_t* ns) {
    std::lock_guard lock(mutex_);
    const auto found = stamps_.find({file, row});
    if (found == stamps_.end()) return false;
    *ns = found->second;
    return true;
  }

 private:
  struct File {
    std::string folder;
    long offset = 0;
    long rows = 0;
    std::string partial;
  };

  void Run() {
    alignas(inotify_event) char buffer[16384];
    while (!stop_) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      const int64_t now = MonotonicNs();
      if (n <= 0) continue;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        const std::string name = event->len > 0 ? event->name : "";
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".csv") != 0) continue;
        std::lock_guard lock(mutex_);
        Take(folders_[event->wd], name, now);
      }
    }
  }

  // The file's new lines, each stamped `now`.
  void Take(const std::string& folder, const std::string& name, int64_t now) {
    File& f = files_[name];
    f.folder = folder;
    const int fd = ::open((folder + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char chunk[65536];
    ssize_t got = 0;
    while ((got = ::pread(fd, chunk, sizeof chunk, f.offset)) > 0) {
      f.offset += got;
      f.partial.append(chunk, static_cast<size_t>(got));
    }
    ::close(fd);
    size_t start = 0;
    for (size_t end = 0; (end = f.partial.find('\n', start)) != std::string::npos;
         start = end + 1) {
      if (f.partial.compare(start, 4, "YYYY") != 0) stamps_[{name, ++f.rows}] = now;
    }
    f.partial.erase(0, start);
  }

  int fd_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<int, std::string> folders_;
  std::map<std::string, File> files_;
  std::map<std::pair<std::string, long>, int64_t> stamps_;
  std::thread thread_;
};

// A subscriber to the benchmark's topics (QoS 1), on libmosquitto's own thread: each message's
// receipt stamped first, then its topic, file, row and replay flag taken from the payload.
class Subscriber {
 public:
  struct Receipt {
    int64_t ns = 0;
    std::string topic;
    std::string file;
    long row = 0;
    bool replay = false;
  };

  explicit Subscriber(uint16_t port) {
    mosq_ = mosquitto_new("varnel-publish-bench-subscriber", true, this);
    mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void*, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, "bench/#", 1);
    });
    mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<Subscriber*>(self)->subscribed_ = true;
    });
    mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
      static_cast<Subscriber*>(self)->Take(m);
    });
    mosquitto_connect(mosq_, "127.0.0.1", port, 60);
    mosquitto_loop_start(mosq_);
  }
  ~Subscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
  }
  bool Subscribed() const { return subscribed_; }
  long Count(const std::string& topic, bool replay) {
    std::lock_guard lock(mutex_);
    long n = 0;
    for (const Receipt& r : receipts_) n += r.topic == topic && r.replay == replay;
    return n;
  }
  std::vector<Receipt> Receipts() {
    std::lock_guard lock(mutex_);
    return receipts_;
  }

 private:
  void Take(const mosquitto_message* m) {
    Receipt r;
    r.ns = MonotonicNs();
    r.topic = m->topic;
    const std::string text(static_cast<const char*>(m->payload),
                           static_cast<size_t>(m->payloadlen));
    if (text.find("\"values\"") == std::string::npos) return;  // status and meta
    const size_t file = text.find("\"file\":\"");
    const size_t row = text.find("\"row\":");
    if (file == std::string::npos || row == std::string::npos) return;
    r.file = text.substr(file + 8, text.find('"', file + 8) - file - 8);
    r.row = std::atol(text.c_str() + row + 6);
    r.replay = text.find("\"replay\":true") != std::string::npos;
    std::lock_guard lock(mutex_);
    receipts_.push_back(std::move(r));
  }

  mosquitto* mosq_ = nullptr;
  std::atomic<bool> subscribed_{false};
  std::mutex mutex_;
  std::vector<Receipt> receipts_;
};

std::string Config(uint16_t simPort, uint16_t brokerPort, const std::string& topic) {
  std::string text =
      "[Setup]\nIPAddress=127.0.0.1\nPortNo=" + std::to_string(simPort) +
      "\nInterval=1\nTimeOut=1000\nDeviceStart=0\nDeviceNum=" + std::to_string(kDeviceNum) + "\n";
  if (brokerPort != 0) {
    text += "[MQTT]\nHost=127.0.0.1\nPort=" + std::to_string(brokerPort) + "\nTopic=" + topic +
            "\nClientId=varnel-bench-" + topic.substr(topic.find('/') + 1) + "\n";
  }
  return text;
}

// A day of rows, one a second from 2020-01-01 00:00:00, `rows` of 100 values.
void WriteDay(const std::string& path, int rows) {
  std::ofstream out(path, std::ios::binary);
  std::string line = "YYYY-MM-DD,HH:MM:SS";
  char name[16];
  for (int d = 0; d < kDeviceNum; ++d) {
    std::snprintf(name, sizeof name, ",DM%05d", d);
    line += name;
  }
  out << line << "\r\n";
  char stamp[32];
  for (int i = 0; i < rows; ++i) {
    std::snprintf(stamp, sizeof stamp, "2020-01-%02d,%02d:%02d:%02d", 1 + i / 86400,
                  i % 86400 / 3600, i % 3600 / 60, i % 60);
    line = stamp;
    for (int d = 0; d < kDeviceNum; ++d) line += "," + std::to_string((i * 7 + d * 131) % 65536);
    out << line << "\r\n";
  }
}

// The whole process's run time per row (µs) over the next `rows` rows it appends to `dir`.
double CpuPerRowUs(pid_t pid, AppendWatcher& watcher, const std::string& dir, long rows) {
  const int64_t cpu0 = ProcessRunNs(pid);
  const long row0 = watcher.RowsIn(dir);
  WaitFor([&] { return watcher.RowsIn(dir) >= row0 + rows; }, static_cast<int>(rows + 10) * 1000);
  const int64_t cpu1 = ProcessRunNs(pid);
  const long done = watcher.RowsIn(dir) - row0;
  return done > 0 ? static_cast<double>(cpu1 - cpu0) / 1000.0 / static_cast<double>(done) : 0;
}

// Append-to-receipt latencies (µs) of the first-seen non-replayed rows of `topic`, from row
// `from` on, received up to `untilNs` (0: all).
std::vector<double> Latencies(const std::vector<Subscriber::Receipt>& receipts,
                              AppendWatcher& watcher, const std::string& topic, long from,
                              int64_t untilNs = 0) {
  std::vector<double> micros;
  std::map<std::pair<std::string, long>, bool> seen;
  for (const Subscriber::Receipt& r : receipts) {
    if (r.topic != topic || r.replay || r.row < from || (untilNs != 0 && r.ns > untilNs)) continue;
    if (!seen.emplace(std::make_pair(r.file, r.row), true).second) continue;
    int64_t appended = 0;
    if (watcher.Stamp(r.file, r.row, &appended)) micros.push_back((r.ns - appended) / 1000.0);
  }
  return micros;
}

// Replayed rows received on `topic` (first copies): their count and rate from first to last.
double DrainRate(const std::vector<Subscriber::Receipt>& receipts, const std::string& topic,
                 long* count, int64_t* lastNs) {
  int64_t first = 0;
  int64_t last = 0;
  std::map<std::pair<std::string, long>, bool> seen;
  for (const Subscriber::Receipt& r : receipts) {
    if (r.topic != topic || !r.replay) continue;
    if (!seen.emplace(std::make_pair(r.file, r.row), true).second) continue;
    if (first == 0) first = r.ns;
    last = r.ns;
  }
  *count = static_cast<long>(seen.size());
  *lastNs = last;
  return last > first ? (static_cast<double>(seen.size()) - 1) * 1e9 / (last - first) : 0;
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "varnel-publish-bench: %s\n", why.c_str());
  for (const pid_t pid : Children()) StopChild(pid, 2000);
  std::exit(1);
}

// The temporary folder goes last, after every watch and child in it.
struct RemoveAtEnd {
  std::string path;
  ~RemoveAtEnd() { std::filesystem::remove_all(path); }
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  BenchOptions("varnel-publish-bench")
      .Flag("--quick", "a smoke run: 5 live rows, 4 rows without publishing, 5,000 replayed",
            [&o] {
              o.liveRows = 5;
              o.plainRows = 4;
              o.dayRows = 5000;
            })
      .Int("--live-rows", "N", "live rows measured, logger and floor each (default 40)",
           &o.liveRows, 2)
      .Int("--plain-rows", "N", "rows of the logger without publishing (default 15)", &o.plainRows,
           2)
      .Int("--day-rows", "N", "rows of the backlog (default 86400)", &o.dayRows, 100)
      .Parse(argc, argv);
  signal(SIGPIPE, SIG_IGN);

  std::string self(argv[0]);
  const std::string here =
      self.find('/') == std::string::npos ? "." : self.substr(0, self.rfind('/'));
  const std::string logger = here + "/../logger/varnel-logger";
  const std::string floor = here + "/varnel-publish-floor";
  char folderTemplate[] = "/tmp/varnel-publish-bench-XXXXXX";
  if (::mkdtemp(folderTemplate) == nullptr) Fail("cannot make a temporary folder");
  const std::string tmp = folderTemplate;
  const RemoveAtEnd cleanup{tmp};
  const std::string liveDir = tmp + "/live", plainDir = tmp + "/plain", floorDir = tmp + "/floor",
                    replayDir = tmp + "/replay", brokerDir = tmp + "/broker";
  for (const std::string& d : {liveDir, plainDir, floorDir, replayDir, brokerDir}) {
    ::mkdir(d.c_str(), 0755);
  }
  const std::string day = replayDir + "/2020-01-01 00-00-00.csv";
  WriteDay(day, o.dayRows);
  WriteText(replayDir + "/.varnel-publish",
            "varnel-publish 1\nfrom 0\t1\t2020-01-01 00-00-00.csv\n");

  SimulatorOptions simOptions;
  simOptions.port = 0;
  ControllerSimulator simulator(simOptions);
  std::string error;
  if (!simulator.Start(&error)) Fail(error);
  mosquitto_lib_init();
  Broker broker(brokerDir);
  if (!broker.Start()) Fail("the broker did not start (mosquitto installed?)");
  Subscriber subscriber(broker.Port());
  if (!WaitFor([&] { return subscriber.Subscribed(); }, 10000)) Fail("no subscription");
  AppendWatcher watcher;
  for (const std::string& d : {liveDir, plainDir, floorDir, replayDir}) watcher.Watch(d);

  std::printf("varnel-publish-bench (%d registers, Interval 1 s, QoS 1, window 64; %s)\n",
              kDeviceNum, MachineText().c_str());
  std::fflush(stdout);

  // 1 and 2: live rows, logger and floor half a period apart.
  WriteText(tmp + "/live.ini", Config(simulator.Port(), broker.Port(), "bench/live"));
  const pid_t live =
      Spawn({logger, "--config", tmp + "/live.ini", "--output", liveDir, "--sync", "none"},
            tmp + "/live.log");
  constexpr long kWarm = 3;  // rows before the measured ones
  if (!WaitFor([&] { return watcher.RowsIn(liveDir) >= 1; }, 15000)) Fail("no live row");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const pid_t floorLive =
      Spawn({floor, "--port", std::to_string(broker.Port()), "--topic", "bench/floor/rows", "--csv",
             day, "--count", std::to_string(o.liveRows + kWarm), "--period-ms", "1000", "--append",
             floorDir + "/floor.csv"},
            tmp + "/floor-live.log");
  if (!WaitFor([&] { return watcher.RowsIn(liveDir) >= kWarm; }, 15000)) Fail("no live rows");
  const double liveCpuUs = CpuPerRowUs(live, watcher, liveDir, o.liveRows);
  WaitChild(floorLive);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long liveRssKib = StopChild(live);
  const auto liveReceipts = subscriber.Receipts();
  const Summary product = Summarize(Latencies(liveReceipts, watcher, "bench/live/rows", kWarm));
  const Summary floorLat = Summarize(Latencies(liveReceipts, watcher, "bench/floor/rows", kWarm));

  // 2: the same logger without publishing.
  WriteText(tmp + "/plain.ini", Config(simulator.Port(), 0, ""));
  const pid_t plain =
      Spawn({logger, "--config", tmp + "/plain.ini", "--output", plainDir, "--sync", "none"},
            tmp + "/plain.log");
  if (!WaitFor([&] { return watcher.RowsIn(plainDir) >= kWarm; }, 15000)) Fail("no plain rows");
  const double plainCpuUs = CpuPerRowUs(plain, watcher, plainDir, o.plainRows);
  StopChild(plain);

  // 3: the floor drains the day's rows as fast as the window lets.
  const pid_t floorDrain =
      Spawn({floor, "--port", std::to_string(broker.Port()), "--topic", "bench/floor-replay/rows",
             "--csv", day, "--count", std::to_string(o.dayRows), "--replay"},
            tmp + "/floor-drain.log");
  WaitFor([&] { return subscriber.Count("bench/floor-replay/rows", true) >= o.dayRows; }, 120000);
  WaitChild(floorDrain);

  // 3 and 4: the logger drains the day while live rows go on.
  WriteText(tmp + "/replay.ini", Config(simulator.Port(), broker.Port(), "bench/replay"));
  const pid_t replay =
      Spawn({logger, "--config", tmp + "/replay.ini", "--output", replayDir, "--sync", "none"},
            tmp + "/replay.log");
  const bool drained =
      WaitFor([&] { return subscriber.Count("bench/replay/rows", true) >= o.dayRows; }, 150000);
  // One live row more after the drain, so that every live row during it has arrived.
  const long afterDrain = watcher.RowsIn(replayDir);
  WaitFor([&] { return subscriber.Count("bench/replay/rows", false) > afterDrain; }, 5000);
  const long replayRssKib = StopChild(replay);
  const auto receipts = subscriber.Receipts();
  long floorCount = 0, productCount = 0;
  int64_t floorLast = 0, productLast = 0;
  const double floorRate = DrainRate(receipts, "bench/floor-replay/rows", &floorCount, &floorLast);
  const double productRate = DrainRate(receipts, "bench/replay/rows", &productCount, &productLast);
  const Summary during =
      Summarize(Latencies(receipts, watcher, "bench/replay/rows", 1, productLast));

  const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0; };
  std::printf(
      "\n| Publishing figure | Logger | Floor (plain libmosquitto client) | Ratio (target) |\n");
  std::printf("|---|---|---|---|\n");
  std::printf(
      "| live latency, append to receipt, median (%zu; %zu rows) | %.0f µs | %.0f µs | "
      "%.2f (≤ 1.5) |\n",
      product.count, floorLat.count, product.median, floorLat.median,
      ratio(product.median, floorLat.median));
  std::printf("| live latency, p99 | %.0f µs | %.0f µs | %.2f (≤ 2) |\n", product.p99, floorLat.p99,
              ratio(product.p99, floorLat.p99));
  std::printf(
      "| replay of %d rows, drain rate at the subscriber | %.0f rows/s (%ld) | %.0f "
      "rows/s (%ld) | %.2f (≥ 0.5) |\n",
      o.dayRows, productRate, productCount, floorRate, floorCount, ratio(productRate, floorRate));
  std::printf(
      "| live latency while the day drains, worst (median; %zu rows) | %.1f ms (%.1f "
      "ms) | | (≤ 2000 ms) |\n",
      during.count, during.max / 1000, during.median / 1000);
  std::printf(
      "| peak resident memory, draining the day | %.1f MiB | %.1f MiB (no backlog) | "
      "+%.2f MiB (≤ +4) |\n",
      replayRssKib / 1024.0, liveRssKib / 1024.0, (replayRssKib - liveRssKib) / 1024.0);
  std::printf(
      "| logger CPU per row (all threads), with publishing | %.0f µs | %.0f µs (without) "
      "| %.2f |\n",
      liveCpuUs, plainCpuUs, ratio(liveCpuUs, plainCpuUs));
  if (!drained) std::printf("(the logger's drain did not finish within the bound)\n");
  std::printf(
      "publish_live_median_us=%.0f publish_live_p99_us=%.0f floor_live_median_us=%.0f "
      "floor_live_p99_us=%.0f live_median_ratio=%.2f live_p99_ratio=%.2f "
      "replay_rows_per_s=%.0f floor_rows_per_s=%.0f replay_ratio=%.2f replay_rows=%ld "
      "replay_worst_live_ms=%.1f rss_drain_kib=%ld rss_live_kib=%ld rss_diff_kib=%ld "
      "cpu_per_row_publish_us=%.0f cpu_per_row_plain_us=%.0f\n",
      product.median, product.p99, floorLat.median, floorLat.p99,
      ratio(product.median, floorLat.median), ratio(product.p99, floorLat.p99), productRate,
      floorRate, ratio(productRate, floorRate), productCount, during.max / 1000, replayRssKib,
      liveRssKib, replayRssKib - liveRssKib, liveCpuUs, plainCpuUs);
  std::fflush(stdout);
  return 0;
}
