// The floor of the publishing benchmark: a plain client over libmosquitto, nothing between it
// and the library. It publishes the rows of a CSV log as the logger's JSON payloads, QoS 1,
// with the same window of messages in flight, to the broker the benchmark started.
//   - With --period-ms: one row per period. Each row is first appended to --append (one
//     write, as the logger appends a row), then formatted and published at once, so that the
//     benchmark stamps the append the same way for the floor as for the logger.
//   - Without: every row as fast as the window lets, and one line at the end:
//     floor_sent=N floor_first_ns=... floor_last_ack_ns=... floor_peak_rss_kib=...
// Written C-style, the library's own loop driven on the one thread, so that a publish goes to
// the socket in the call.

#include <fcntl.h>
#include <mosquitto.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bench/bench_options.h"
#include "bench/bench_support.h"

namespace {

struct Options {
  int port = 0;
  std::string topic;
  std::string csv;
  std::string append;
  int count = 0;
  int periodMs = 0;
  int window = 64;
  int qos = 1;
  bool replay = false;
};

struct State {
  int inFlight = 0;
  long acked = 0;
  int64_t lastAckNs = 0;
  bool connected = false;
};

void OnConnect(mosquitto*, void* data, int rc) {
  if (rc == 0) static_cast<State*>(data)->connected = true;
}

void OnPublish(mosquitto*, void* data, int) {
  State* state = static_cast<State*>(data);
  --state->inFlight;
  ++state->acked;
  state->lastAckNs = MonotonicNs();
}

// Splits a CSV line at commas into `fields` (pointers into `line`, which is cut).
int Split(char* line, char** fields, int most) {
  int n = 0;
  char* p = line;
  while (n < most) {
    fields[n++] = p;
    char* comma = std::strchr(p, ',');
    if (comma == nullptr) break;
    *comma = '\0';
    p = comma + 1;
  }
  return n;
}

// The logger's JSON payload for one row: its stamp in local time with the offset, the file,
// the row's number, the replay flag and the values keyed by the header's names.
void Payload(const char* line, char** names, int columns, const char* file, long row, bool replay,
             std::string* out) {
  char copy[4096];
  std::snprintf(copy, sizeof copy, "%s", line);
  char* fields[256];
  const int n = Split(copy, fields, 256);
  tm local{};
  std::sscanf(fields[0], "%d-%d-%d", &local.tm_year, &local.tm_mon, &local.tm_mday);
  if (n > 1) std::sscanf(fields[1], "%d:%d:%d", &local.tm_hour, &local.tm_min, &local.tm_sec);
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  const time_t t = mktime(&local);
  tm back{};
  localtime_r(&t, &back);
  const long offset = back.tm_gmtoff;
  char head[512];
  std::snprintf(head, sizeof head,
                "{\"time\":\"%sT%s%c%02ld:%02ld\",\"file\":\"%s\",\"row\":%ld,\"replay\":%s,"
                "\"values\":{",
                fields[0], n > 1 ? fields[1] : "", offset < 0 ? '-' : '+', std::labs(offset) / 3600,
                std::labs(offset) % 3600 / 60, file, row, replay ? "true" : "false");
  out->assign(head);
  for (int i = 2; i < n && i < columns; ++i) {
    if (i > 2) out->push_back(',');
    out->push_back('"');
    out->append(names[i]);
    out->append("\":");
    out->append(fields[i]);
  }
  out->append("}}");
}

const char* BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  BenchOptions("varnel-publish-floor")
      .Int("--port", "N", "the broker's port on 127.0.0.1", &o.port, 1, 65535)
      .Required()
      .Text("--topic", "T", "the topic to publish to", &o.topic)
      .Required()
      .Text("--csv", "FILE", "the log whose rows are published (a header, then rows)", &o.csv)
      .Required()
      .Int("--count", "N", "rows to publish (the log's rows again from its start if fewer)",
           &o.count, 1)
      .Required()
      .Int("--period-ms", "MS", "one row per period (default: as fast as the window lets)",
           &o.periodMs, 1)
      .Text("--append", "FILE", "with --period-ms: append each row here before publishing",
            &o.append)
      .Int("--window", "N", "messages in flight at most (default 64)", &o.window, 1, 65535)
      .Int("--qos", "N", "0 or 1 (default 1)", &o.qos, 0, 1)
      .Flag("--replay", "flag the payloads as replayed", [&o] { o.replay = true; })
      .Parse(argc, argv);

  FILE* in = std::fopen(o.csv.c_str(), "r");
  if (in == nullptr) {
    std::fprintf(stderr, "varnel-publish-floor: cannot open %s\n", o.csv.c_str());
    return 1;
  }
  char header[8192];
  if (std::fgets(header, sizeof header, in) == nullptr) return 1;
  header[std::strcspn(header, "\r\n")] = '\0';
  char* names[256];
  const int columns = Split(header, names, 256);
  const int appendFd =
      o.append.empty() ? -1 : ::open(o.append.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);

  mosquitto_lib_init();
  State state;
  mosquitto* mosq = mosquitto_new("varnel-publish-floor", true, &state);
  mosquitto_connect_callback_set(mosq, OnConnect);
  mosquitto_publish_callback_set(mosq, OnPublish);
  mosquitto_max_inflight_messages_set(mosq, static_cast<unsigned>(o.window));
  if (mosquitto_connect(mosq, "127.0.0.1", o.port, 30) != MOSQ_ERR_SUCCESS) {
    std::fprintf(stderr, "varnel-publish-floor: cannot connect to port %d\n", o.port);
    return 1;
  }
  while (!state.connected) {
    if (mosquitto_loop(mosq, 100, 1) != MOSQ_ERR_SUCCESS) return 1;
  }

  const char* file = o.append.empty() ? BaseName(o.csv) : BaseName(o.append);
  char line[4096];
  std::string payload;
  int64_t firstNs = 0;
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (long row = 1; row <= o.count; ++row) {
    if (std::fgets(line, sizeof line, in) == nullptr) {
      std::fseek(in, 0, SEEK_SET);
      if (std::fgets(header, sizeof header, in) == nullptr ||
          std::fgets(line, sizeof line, in) == nullptr) {
        return 1;
      }
    }
    line[std::strcspn(line, "\r\n")] = '\0';
    if (o.periodMs > 0) {
      // Until the next period, the library's loop takes acknowledgements and keeps alive.
      next.tv_nsec += static_cast<long>(o.periodMs % 1000) * 1000000;
      next.tv_sec += o.periodMs / 1000 + next.tv_nsec / 1000000000;
      next.tv_nsec %= 1000000000;
      const int64_t due = int64_t{next.tv_sec} * 1000000000 + next.tv_nsec;
      for (int64_t left = due - MonotonicNs(); left > 0; left = due - MonotonicNs()) {
        if (left > 2000000) {
          mosquitto_loop(mosq, static_cast<int>(left / 1000000) - 1, 1);
        } else {
          clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
      }
      if (appendFd >= 0) {
        std::string text = std::string(line) + "\r\n";
        if (::write(appendFd, text.data(), text.size()) < 0) return 1;
      }
    } else {
      while (state.inFlight >= o.window) {
        if (mosquitto_loop(mosq, 100, 1) != MOSQ_ERR_SUCCESS) return 1;
      }
    }
    Payload(line, names, columns, file, row, o.replay, &payload);
    if (firstNs == 0) firstNs = MonotonicNs();
    if (o.qos == 1) ++state.inFlight;
    if (mosquitto_publish(mosq, nullptr, o.topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), o.qos, false) != MOSQ_ERR_SUCCESS) {
      std::fprintf(stderr, "varnel-publish-floor: publish failed\n");
      return 1;
    }
    if (o.periodMs == 0) mosquitto_loop(mosq, 0, 1);
  }
  // Every acknowledgement in, within a bound.
  const int64_t bound = MonotonicNs() + int64_t{60} * 1000000000;
  while (o.qos == 1 && state.acked < o.count && MonotonicNs() < bound) {
    mosquitto_loop(mosq, 100, 1);
  }
  std::printf(
      "floor_sent=%d floor_acked=%ld floor_first_ns=%lld floor_last_ack_ns=%lld "
      "floor_peak_rss_kib=%ld\n",
      o.count, state.acked, static_cast<long long>(firstNs),
      static_cast<long long>(state.lastAckNs), PeakRssKib());
  mosquitto_disconnect(mosq);
  mosquitto_destroy(mosq);
  mosquitto_lib_cleanup();
  if (appendFd >= 0) ::close(appendFd);
  std::fclose(in);
  return 0;
}
