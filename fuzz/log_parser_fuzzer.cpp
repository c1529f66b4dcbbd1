// The viewer's log reader on any bytes, appended in pieces of any size as the follower reads a
// growing file, against the same bytes read at once: the same devices, rows, times, values and
// counts, before and after the file is finished. The first two bytes choose where the pieces
// are cut; the rest is the file. Any difference aborts.
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/harness_support.h"
#include "viewer/log_columns.h"
#include "viewer/log_parser.h"

namespace {

void Compare(const LogParser& whole, const LogColumns& wholeLog, const LogParser& pieces,
             const LogColumns& piecesLog, const char* when) {
  const auto fail = [when](const std::string& what) {
    Fail(std::string("log_parser_fuzzer: ") + what + " differs " + when);
  };
  if (whole.HeaderRows() != pieces.HeaderRows()) fail("the header count");
  if (whole.DataRows() != pieces.DataRows()) fail("the row count");
  if (whole.SkippedLines() != pieces.SkippedLines()) fail("the skipped line count");
  if (whole.FirstSkippedLine() != pieces.FirstSkippedLine()) fail("the first skipped line");
  if (whole.PendingBytes() != pieces.PendingBytes()) fail("the pending line");
  if (wholeLog.RowCount() != piecesLog.RowCount()) fail("the rows");
  if (wholeLog.RowCount() != whole.DataRows()) fail("rows against the row count");
  if (wholeLog.DeviceCount() != piecesLog.DeviceCount()) fail("the devices");
  if (wholeLog.TimesAscending() != piecesLog.TimesAscending()) fail("the time order");
  const auto wholeTimes = wholeLog.Times();
  const auto pieceTimes = piecesLog.Times();
  if (!std::equal(wholeTimes.begin(), wholeTimes.end(), pieceTimes.begin())) fail("a time");
  for (int device = 0; device < wholeLog.DeviceCount(); ++device) {
    if (wholeLog.DeviceName(device) != piecesLog.DeviceName(device)) fail("a device name");
    const auto a = wholeLog.Values(device);
    const auto b = piecesLog.Values(device);
    if (a.size() != wholeLog.RowCount() || b.size() != a.size()) fail("a column's length");
    if (!std::equal(a.begin(), a.end(), b.begin())) fail("a value");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint32_t state = (uint32_t{data[0]} << 8 | data[1]) + 1;
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

  LogColumns wholeLog;
  LogParser whole(&wholeLog);
  whole.Feed(text);

  LogColumns piecesLog;
  LogParser pieces(&piecesLog);
  // As the follower does: the expected size first, so that the columns are reserved once.
  pieces.ExpectBytes(text.size());
  size_t at = 0;
  while (at < text.size()) {
    // Mostly short pieces, now and then a long one, as appends and read steps come.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const size_t length = (state & 7) == 0 ? state % 4096 : 1 + state % 24;
    const std::string_view piece = text.substr(at, length);
    pieces.Feed(piece);
    at += piece.size();
  }
  Compare(whole, wholeLog, pieces, piecesLog, "while the file grows");

  whole.FinishFile();
  pieces.FinishFile();
  Compare(whole, wholeLog, pieces, piecesLog, "after the file is finished");
  return 0;
}
