// The simulator's parsers against models written out here: the read command, the --fault and
// --pattern texts. The first byte picks the parser, the rest is its text. Also checked: every
// command the monitor builds parses back, and every reply the simulator builds parses, by the
// monitor's own reply parser, into the values it was built from.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/harness_support.h"
#include "monitor/read_command.h"
#include "tools/sim/controller_protocol.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& text) {
  ::Fail(std::string(what) + ": \"" + text + "\"");
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "RDS " + "DM" or "TM" + five digits or "-" and four + " " + 1..8 + CR LF, exactly 15 bytes.
void CheckCommand(const std::string& text) {
  int kind = -1, count = -1;
  int32_t first = -1;
  const bool parsed = ControllerProtocol::ParseCommand(text, kind, first, count);
  const std::string_view t = text;
  const bool valid = t.size() == 15 && t.starts_with("RDS ") &&
                     (t.substr(4, 2) == "DM" || t.substr(4, 2) == "TM") &&
                     (AllDigits(t.substr(6, 5)) || (t[6] == '-' && AllDigits(t.substr(7, 4)))) &&
                     t[11] == ' ' && t[12] >= '1' && t[12] <= '8' && t.substr(13) == "\r\n";
  if (parsed != valid) Fail(valid ? "valid command refused" : "invalid command taken", text);
  if (!parsed) return;
  if (kind != (t[4] == 'T') || first != std::stoi(text.substr(6, 5)) || count != t[12] - '0') {
    Fail("command fields differ", text);
  }
}

// A number: 1 to 10 digits, at most 2147483647, at least `min`.
bool Number(std::string_view text, long long min, long long max, long long* value) {
  if (!AllDigits(text) || text.size() > 10) return false;
  *value = std::stoll(std::string(text));
  return *value >= min && *value <= max;
}

void CheckFault(const std::string& text) {
  Fault fault{Fault::Kind::kSilent, -7};
  const bool parsed = ControllerProtocol::ParseFault(text, &fault);
  struct Form {
    std::string_view name;
    Fault::Kind kind;
    long long min;  // -1: takes no number
  };
  constexpr Form kForms[] = {{"none", Fault::Kind::kNone, -1},
                             {"silent", Fault::Kind::kSilent, -1},
                             {"twice", Fault::Kind::kTwice, -1},
                             {"badlength", Fault::Kind::kBadLength, -1},
                             {"altaddress", Fault::Kind::kAltAddress, -1},
                             {"delay", Fault::Kind::kDelay, 0},
                             {"unsolicited", Fault::Kind::kUnsolicited, 1},
                             {"drop", Fault::Kind::kDrop, 1},
                             {"late", Fault::Kind::kLateCopy, 1}};
  const std::string_view t = text;
  const auto colon = t.find(':');
  const std::string_view name = t.substr(0, colon);
  for (const Form& form : kForms) {
    if (name != form.name) continue;
    long long value = 0;
    const bool valid = form.min < 0 ? colon == std::string_view::npos
                                    : colon != std::string_view::npos &&
                                          Number(t.substr(colon + 1), form.min, 2147483647, &value);
    if (parsed != valid) Fail(valid ? "valid fault refused" : "invalid fault taken", text);
    if (parsed && (fault.kind != form.kind || fault.parameter != value)) {
      Fail("fault differs", text);
    }
    return;
  }
  if (parsed) Fail("unknown fault taken", text);
}

void CheckPattern(const std::string& text) {
  ValuePattern pattern{ValuePattern::Kind::kConstant, 7};
  const bool parsed = ControllerProtocol::ParsePattern(text, &pattern);
  const std::string_view t = text;
  long long value = 0;
  if (t == "address" || t == "counter") {
    const auto kind = t == "address" ? ValuePattern::Kind::kAddress : ValuePattern::Kind::kCounter;
    if (!parsed || pattern.kind != kind) Fail("pattern differs", text);
  } else if (t.starts_with("constant:") && Number(t.substr(9), 0, 65535, &value)) {
    if (!parsed || pattern.kind != ValuePattern::Kind::kConstant || pattern.constant != value) {
      Fail("pattern differs", text);
    }
  } else if (parsed) {
    Fail("invalid pattern taken", text);
  }
}

// The monitor's command for (kind, first, count) with a first device of five digits or fewer
// is read back by the simulator as the same request.
void CheckBuiltCommand(const std::string& text) {
  if (text.size() < 4) return;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const int kind = byte(0) & 1;
  const int32_t first = static_cast<int32_t>((byte(1) << 16 | byte(2) << 8 | byte(3)) % 100000);
  const int count = 1 + byte(0) / 2 % 8;
  const ReadCommand command = BuildReadCommand(static_cast<uint8_t>(kind), first, count);
  int parsedKind = -1, parsedCount = -1;
  int32_t parsedFirst = -1;
  const std::string bytes(command.begin(), command.end());
  if (!ControllerProtocol::ParseCommand(bytes, parsedKind, parsedFirst, parsedCount) ||
      parsedKind != kind || parsedFirst != first || parsedCount != count) {
    Fail("built command does not parse back", bytes);
  }
}

// A simulator reply of the values taken two bytes each parses back into the same values.
void CheckReply(const std::string& text) {
  std::vector<uint16_t> values;
  for (size_t i = 0; i + 1 < text.size() && values.size() < 341; i += 2) {
    values.push_back(static_cast<uint16_t>(static_cast<uint8_t>(text[i]) << 8 |
                                           static_cast<uint8_t>(text[i + 1])));
  }
  if (values.empty()) return;
  const std::string reply = ControllerProtocol::BuildReply(values);
  if (!ReplyLengthValid(static_cast<int32_t>(reply.size())) || ParseReplyValues(reply) != values) {
    Fail("reply does not parse back", reply);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0:
      CheckCommand(text);
      break;
    case 1:
      CheckFault(text);
      break;
    case 2:
      CheckPattern(text);
      break;
    case 3:
      CheckBuiltCommand(text);
      break;
    default:
      CheckReply(text);
      break;
  }
  return 0;
}
