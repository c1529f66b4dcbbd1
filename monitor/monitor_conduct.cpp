#include "monitor/monitor_conduct.h"

#include <vector>

#include "monitor/csv_log.h"
#include "monitor/cycle_timer.h"
#include "monitor/read_command.h"

namespace {

std::string SizeText(const char* what, int32_t numberBytes) {
  return std::string(what) + std::to_string(numberBytes) + "Bytes. Abandond.";
}

constexpr const char* kNotAwaited = "Unexpected-UDP-DataReceived ";
constexpr const char* kWrongSize = "Unexpected-UDP-NumberBytes ";
constexpr int32_t kMaxChunk = ReadCycle::kMaxChunk;

}  // namespace

void MonitorConduct::StartCycle(ReadCycle& cycle, uint8_t kind, int32_t first, int32_t count) {
  PollCycle& state = cycle.MutableState();
  FullChunksLeft = count / kMaxChunk;
  RemainderCount = count % kMaxChunk;
  if (FullChunksLeft > 0) {
    state.ChunkCount = kMaxChunk;
  } else {
    state.ChunkCount = RemainderCount;
    RemainderCount = 0;
  }
  cycle.SendReadRequest(kind, first, state.ChunkCount);
}

void MonitorConduct::Resend(ReadCycle& cycle) {
  const PollCycle& state = cycle.State();
  cycle.SendReadRequest(state.DeviceKind, state.ChunkStart, state.ChunkCount);
}

void MonitorConduct::Received(ReadCycle& cycle, int32_t numberBytes, const std::string& fromIP,
                              int32_t /*port*/) {
  // A datagram from anyone but the controller is not a reply, whatever it holds.
  if (!cycle.State().AwaitingReply || fromIP != cycle.ControllerAddress()) {
    ++cycle.MutableStats().Dropped;
    cycle.SetStatus(SizeText(kNotAwaited, numberBytes));
    return;
  }
  Take(cycle, numberBytes);
}

void MonitorConduct::Take(ReadCycle& cycle, int32_t numberBytes) {
  PollCycle& state = cycle.MutableState();
  const ReadCycle::Parts& parts = cycle.Part();
  state.AwaitingReply = false;
  cycle.SetStatus("");
  parts.Timer2.SetEnabled(false);

  const int32_t length = numberBytes <= ReadCycle::kReceiveBufferSize ? cycle.ReadReply() : 0;
  if (!ReplyLengthValid(numberBytes)) {
    cycle.SetStatus(SizeText(kWrongSize, numberBytes));
    return;
  }
  const std::string_view text = cycle.ReceivedText(length);

  const MonitorSettings& settings = parts.Settings;
  if (HeaderPending) {
    HeaderPending = false;
    log_.WriteHeaderRow(settings.DeviceName, settings.DeviceStart, settings.DeviceNum);
  }
  std::string stamp;
  if (state.StampPending) {
    state.StampPending = false;
    stamp = CsvLog::MakeRowStamp(parts.LocalTime.Now());
  }
  const std::vector<uint16_t> values = ParseReplyValues(text);
  log_.AppendValues(stamp, values, settings.Unsigned == 1);

  FullChunksLeft = ReadCycle::Wrapped(FullChunksLeft, -1);
  if (FullChunksLeft > 0) {
    state.ChunkStart = ReadCycle::Wrapped(state.ChunkStart, kMaxChunk);
    state.ChunkCount = kMaxChunk;
    cycle.SendReadRequest(state.DeviceKind, state.ChunkStart, kMaxChunk);
  } else if (RemainderCount > 0) {
    state.ChunkStart = ReadCycle::Wrapped(state.ChunkStart, kMaxChunk);
    state.ChunkCount = RemainderCount;
    cycle.SendReadRequest(state.DeviceKind, state.ChunkStart, RemainderCount);
    RemainderCount = 0;
  } else {
    log_.EndRow();
    ++cycle.MutableStats().Rows;
    state.CycleBusy = false;
  }
}
