// The whole reply path without a socket: the UDP endpoint over the fake socket layer, the read
// cycle (the monitor's conduct or the logger's, by the first byte) and a real CSV file in a
// temporary folder, driven by operations decoded from the input: Run, Stop (whose wait
// dispatches further operations nested, as the real wait does), timer firings, replies,
// stray and broken datagrams, setting changes, time passing, and the log file removed or
// blocked. Afterwards every datagram sent must be a 15-byte read command to 127.0.0.0/8, and
// every line of the log a header or a row that starts at the start of a line.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/handler_guard.h"
#include "fuzz/harness_support.h"
#include "monitor/csv_log.h"
#include "monitor/logger_conduct.h"
#include "monitor/monitor_conduct.h"
#include "monitor/poller.h"
#include "monitor/read_cycle.h"
#include "net/udp_endpoint.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_cycle_timer.h"
#include "tests/fakes/fake_socket_api.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

fs::path g_dir;
// REPLY_PATH_TRACE=1 prints each operation, to follow a finding.
bool g_trace = false;

enum Op {
  kRun,
  kTimer1,
  kTimer2,
  kTimer3,
  kStop,
  kReply,
  kDatagram,
  kStranger,
  kFailedReceive,
  kSetting,
  kTimePasses,
  kRemoveLog,
  kBlockLog,
  kLastOp = kBlockLog
};

class Harness {
 public:
  Harness(FuzzedDataProvider& input, const fs::path& logPath)
      : input_(input), logPath_(logPath), log_(logPath.string()) {
    settings_.IPAddress = "127.0.0.1";
    settings_.PortNo = 8501;
    settings_.DeviceStart = 100;
    settings_.DeviceNum = 20;
    api_.SetHostAddress("localhost", "127.0.0.1");
    std::unique_ptr<ReadCycle::Conduct> conduct = std::make_unique<MonitorConduct>(log_);
    if (input_.ConsumeBool()) {
      // The logger's settings are fixed for its run, within what its config check accepts.
      unattended_ = true;
      settings_.IPAddress = input_.ConsumeBool() ? "127.0.0.1" : "localhost";
      settings_.PortNo = input_.ConsumeIntegralInRange(1, 65535);
      settings_.Interval = input_.ConsumeIntegralInRange(0, 3600);
      settings_.TimeOut = input_.ConsumeIntegralInRange(1, 5000);
      settings_.DeviceName = input_.ConsumeIntegralInRange<uint8_t>(0, 1);
      settings_.DeviceNum = input_.ConsumeIntegralInRange(1, 40);
      settings_.DeviceStart = input_.ConsumeIntegralInRange(0, 100000 - settings_.DeviceNum);
      settings_.Unsigned = Pick<int32_t>({0, 1, -1, 2});
      LoggerConduct::Sinks sinks;
      sinks.Row = [this](const LocalDateTime& stamp, const std::vector<uint16_t>& row) {
        CompleteRow(stamp, row);
      };
      conduct = std::make_unique<LoggerConduct>(api_.EphemeralPortCount(), std::move(sinks));
    }
    cycle_ = &poller_.Assemble(
        settings_, std::move(conduct), [](const std::string&) {}, [this] { DispatchPass(); });
  }

  void Run() {
    while (input_.remaining_bytes() > 0) {
      HandlerGuard::Run([this] { Step(); });
    }
  }

  // May the first line of the log continue a row? Only when the file was removed meanwhile.
  bool Removed() const { return removed_; }
  const FakeSocketApi& Api() const { return api_; }

 private:
  void Step() {
    const int op = input_.ConsumeIntegralInRange<int>(0, kLastOp);
    if (g_trace) {
      const PollCycle& state = cycle_->State();
      std::fprintf(stderr, "%*sop %d: busy %d awaiting %d chunk %d+%d sent %zu\n", 2 * depth_, "",
                   op, state.CycleBusy, state.AwaitingReply, state.ChunkStart, state.ChunkCount,
                   api_.Sent().size());
    }
    switch (op) {
      case kRun:
        CycleStarts();
        headerDue_ = true;
        cycle_->BeginMonitoring({});
        break;
      case kTimer1:
        if (!timer1_.Armed()) break;
        Pass(timer1_.Interval());
        if (!cycle_->State().CycleBusy) CycleStarts();
        cycle_->Timer1Timer();
        break;
      case kTimer2:
        if (!timer2_.Armed()) break;
        Pass(timer2_.Interval());
        cycle_->Timer2Timer();
        break;
      case kTimer3:
        if (timer3_.Armed()) cycle_->Timer3Timer();
        break;
      case kStop:
        // As the window's Stop: the bounded wait, then no more repeats.
        cycle_->StopWait();
        timer1_.SetEnabled(false);
        break;
      case kReply:
        Deliver(Reply(), Controller(), ControllerPort());
        break;
      case kDatagram:
        Deliver(input_.ConsumeRandomLengthString(2100), Controller(), ControllerPort());
        break;
      case kStranger:
        if (input_.ConsumeBool()) {
          Deliver(Reply(), "127.0.0.2", ControllerPort());
        } else {
          Deliver(Reply(), Controller(), static_cast<uint16_t>(ControllerPort() + 1));
        }
        break;
      case kFailedReceive:
        api_.FailNext("recvfrom", kWsaEConnReset);
        Deliver(Reply(), Controller(), ControllerPort());
        break;
      case kSetting:
        if (!unattended_) ChangeSetting();
        break;
      case kTimePasses:
        Pass(input_.ConsumeIntegralInRange<int32_t>(0, 30000));
        break;
      case kRemoveLog: {
        std::error_code ignored;
        if (fs::remove_all(logPath_, ignored) > 0) removed_ = true;
        break;
      }
      case kBlockLog: {
        // A folder in the file's place: it can be neither opened nor created.
        std::error_code ignored;
        if (!fs::exists(logPath_, ignored)) fs::create_directory(logPath_, ignored);
        break;
      }
    }
  }

  // One pass of the Stop wait: the next operations run nested, and errors leave the wait, as
  // in the program. With nothing left to do, the wait's bound fires.
  void DispatchPass() {
    if (depth_ < 4 && input_.remaining_bytes() > 0) {
      ++depth_;
      struct Leave {
        int& depth;
        ~Leave() { --depth; }
      } leave{depth_};
      Step();
    } else {
      cycle_->Timer3Timer();
    }
  }

  void CycleStarts() { rowCount_ = settings_.DeviceNum; }

  void CompleteRow(const LocalDateTime& stamp, const std::vector<uint16_t>& row) {
    if (row.size() != static_cast<size_t>(rowCount_)) {
      Fail("a row of " + std::to_string(row.size()) + " values for " + std::to_string(rowCount_) +
           " devices");
    }
    // As the logger's writer: whole rows, a header first after Run; a failed write is its
    // writer's to report and is left out here.
    try {
      std::string header;
      std::string text;
      CsvLog::AppendHeaderText(header, settings_.DeviceName, settings_.DeviceStart,
                               settings_.DeviceNum);
      CsvLog::AppendRowText(text, stamp, row, settings_.Unsigned == 1);
      log_.AppendRows(header, headerDue_, text, false);
      headerDue_ = false;
    } catch (const std::exception&) {
    }
  }

  // Five-digit fields for the request in flight, sometimes one more or one fewer.
  std::string Reply() {
    const int32_t count = cycle_->State().ChunkCount + input_.ConsumeIntegralInRange(-1, 1);
    std::string reply;
    for (int32_t i = 0; i < count && i < 400; ++i) {
      char field[8];
      std::snprintf(field, sizeof field, "%05u", unsigned{input_.ConsumeIntegral<uint16_t>()});
      reply += i == 0 ? "" : " ";
      reply += field;
    }
    return reply + "\r\n";
  }

  std::string Controller() const {
    const std::string& address = cycle_->ControllerAddress();
    return address.empty() ? "127.0.0.1" : address;
  }
  uint16_t ControllerPort() const { return static_cast<uint16_t>(settings_.PortNo); }

  void Deliver(const std::string& bytes, const std::string& from, uint16_t port) {
    if (g_trace) std::fprintf(stderr, "  %zu bytes from %s:%u\n", bytes.size(), from.c_str(), port);
    api_.Deliver(bytes, from, port);
    if (input_.ConsumeBool()) api_.Deliver(bytes, from, port);  // the network doubled it
    QCoreApplication::sendPostedEvents();
  }

  void Pass(int32_t milliseconds) {
    clock_.Steady += std::chrono::milliseconds(std::min(milliseconds, 60000));
  }

  template <typename T>
  T Pick(std::initializer_list<T> choices) {
    const T any = input_.ConsumeIntegral<T>();
    const size_t at = input_.ConsumeIntegralInRange<size_t>(0, choices.size());
    return at == choices.size() ? any : *(choices.begin() + at);
  }

  void ChangeSetting() {
    switch (input_.ConsumeIntegralInRange(0, 7)) {
      case 0:
        settings_.IPAddress = input_.PickValueInArray(
            {"127.0.0.1", "127.0.0.2", "localhost", "0.0.0.0", "no-such-host.invalid"});
        break;
      case 1:
        settings_.PortNo = Pick<int32_t>({8501, 8502, 70000, 0, -1});
        break;
      case 2:
        settings_.Interval = Pick<int32_t>({1, 0, -1, 3600, kMax});
        break;
      case 3:
        settings_.TimeOut = Pick<int32_t>({100, 0, -1, 5000, kMax});
        break;
      case 4:
        settings_.DeviceName = Pick<uint8_t>({0, 1, 2, 255});
        break;
      case 5:
        settings_.DeviceStart = Pick<int32_t>({0, 100, 99995, -5, kMax - 3, kMin});
        break;
      case 6:
        // Counts beyond the header's bound and up to the 32-bit limit as well.
        settings_.DeviceNum = input_.ConsumeBool() ? input_.ConsumeIntegralInRange<int32_t>(-3, 40)
                                                   : Pick<int32_t>({100, 100001, kMax});
        break;
      default:
        settings_.Unsigned = Pick<int32_t>({0, 1, -1, 2});
        break;
    }
  }

  FuzzedDataProvider& input_;
  fs::path logPath_;
  FakeSocketApi api_;
  MonitorSettings settings_;
  FakeTimer timer1_, timer2_, timer3_;
  FakeClock clock_;
  CsvLog log_;
  Poller poller_{{&api_, &clock_}, timer1_, timer2_, timer3_};
  TUDPEndpoint& endpoint_ = poller_.Endpoint();
  int depth_ = 0;
  int32_t rowCount_ = 0;
  bool unattended_ = false;
  bool headerDue_ = false;
  bool removed_ = false;
  ReadCycle* cycle_ = nullptr;  // the poller's
};

bool IsInteger(std::string_view text, long long low, long long high) {
  if (text.empty() || text.size() > 7) return false;
  const bool negative = text.front() == '-';
  const std::string_view digits = text.substr(negative ? 1 : 0);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  if (digits.size() > 1 && digits.front() == '0') return false;
  const long long value = std::stoll(std::string(text));
  return value >= low && value <= high;
}

std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    const size_t comma = text.find(',', start);
    fields.push_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

// "YYYY-MM-DD,HH:MM:SS" and columns of one device code with consecutive numbers, counted in
// 32 bits.
bool IsHeader(std::string_view line) {
  const std::vector<std::string_view> fields = Fields(line);
  if (fields.size() < 2 || fields[0] != "YYYY-MM-DD" || fields[1] != "HH:MM:SS") return false;
  uint32_t expected = 0;
  for (size_t i = 2; i < fields.size(); ++i) {
    const std::string_view column = fields[i];
    if (column.size() < 7 || column.substr(0, 2) != fields[2].substr(0, 2) ||
        (column.substr(0, 2) != "DM" && column.substr(0, 2) != "TM")) {
      return false;
    }
    const std::string_view number = column.substr(2);
    const bool negative = number.front() == '-';
    const std::string_view digits = number.substr(negative ? 1 : 0);
    if (digits.size() < 5 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
      return false;
    }
    const auto device = static_cast<uint32_t>(std::stoll(std::string(number)));
    if (i > 2 && device != expected) return false;
    expected = device + 1;
  }
  return true;
}

// The stamp (unless the row continues one begun in a removed file), then "," + value each.
bool IsRow(std::string_view line, bool continuation) {
  std::vector<std::string_view> fields = Fields(line);
  size_t first = 0;
  if (!continuation) {
    if (fields.size() < 2 || fields[0] != "2004-01-10" || fields[1] != "09:05:08") return false;
    first = 2;
  } else if (!line.empty() && line.front() != ',') {
    return false;
  } else {
    first = 1;
  }
  if (line.empty()) return true;
  for (size_t i = first; i < fields.size(); ++i) {
    if (!IsInteger(fields[i], -32768, 65535)) return false;
  }
  return true;
}

void CheckLog(const fs::path& path, bool removed) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return;
  std::ifstream in(path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  size_t start = 0;
  for (bool firstLine = true; start < text.size(); firstLine = false) {
    size_t end = text.find("\r\n", start);
    const bool ended = end != std::string::npos;
    if (!ended) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    if (line.find_first_of("\r\n") != std::string_view::npos) Fail("a lone CR or LF in the log");
    if (!IsHeader(line) && !IsRow(line, false) && !(firstLine && removed && IsRow(line, true))) {
      Fail("a log line that is neither header nor row: " + std::string(line.substr(0, 200)));
    }
    start = ended ? end + 2 : end;
  }
}

void CheckSent(const FakeSocketApi& api) {
  for (const FakeSocketApi::SentDatagram& sent : api.Sent()) {
    if (sent.bytes.size() != 15 || !sent.bytes.starts_with("RDS ") ||
        !sent.bytes.ends_with("\r\n") || !sent.toIp.starts_with("127.")) {
      Fail("sent \"" + sent.bytes + "\" to " + sent.toIp);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // Created once; the posted notifications need it.
  static QCoreApplication* application = new QCoreApplication(*argc, *argv);
  (void)application;
  g_trace = std::getenv("REPLY_PATH_TRACE") != nullptr;
  HandlerGuard::SetReporter([](const std::string& message) {
    if (g_trace) std::fprintf(stderr, "error: %s\n", message.c_str());
  });
  g_dir = ScratchFolder("reply_path_fuzzer");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path log = g_dir / "log.csv";
  std::error_code ignored;
  fs::remove_all(log, ignored);
  FuzzedDataProvider input(data, size);
  bool removed = false;
  {
    Harness harness(input, log);
    harness.Run();
    CheckSent(harness.Api());
    removed = harness.Removed();
  }
  QCoreApplication::sendPostedEvents();
  CheckLog(log, removed);
  return 0;
}
