#include "tools/sim/controller_protocol.h"

#include <cstdio>

namespace {

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  if (result > max) return false;
  *value = result;
  return true;
}

}  // namespace

uint16_t ControllerProtocol::ValueOf(const ValuePattern& pattern, int kind, int32_t device,
                                     uint64_t answerCount) {
  if (pattern.kind == ValuePattern::Kind::kConstant) return pattern.constant;
  // 64-bit arithmetic and a non-negative remainder keep negative devices well defined.
  const int64_t raw = static_cast<int64_t>(device) * 4099 + static_cast<int64_t>(kind) * 1000;
  int64_t value = ((raw % 65536) + 65536) % 65536;
  if (pattern.kind == ValuePattern::Kind::kCounter) {
    value = static_cast<int64_t>((static_cast<uint64_t>(value) + answerCount % 65536) % 65536);
  }
  return static_cast<uint16_t>(value);
}

std::string ControllerProtocol::BuildReply(const std::vector<uint16_t>& values) {
  std::string reply;
  reply.reserve(values.size() * 6 + 1);
  for (size_t i = 0; i < values.size(); ++i) {
    char field[8];
    std::snprintf(field, sizeof field, "%05u", static_cast<unsigned>(values[i]));
    reply += field;
    if (i + 1 < values.size()) reply += ' ';
  }
  reply += "\r\n";
  return reply;
}

bool ControllerProtocol::ParseCommand(const std::string& bytes, int& kind, int32_t& first,
                                      int& count) {
  if (bytes.size() != 15) return false;
  if (bytes.compare(0, 4, "RDS ") != 0) return false;
  int parsedKind = 0;
  if (bytes.compare(4, 2, "DM") == 0) {
    parsedKind = 0;
  } else if (bytes.compare(4, 2, "TM") == 0) {
    parsedKind = 1;
  } else {
    return false;
  }
  // Five digits, or a minus and four digits: what a zero-padded five-character field holds.
  const bool negative = bytes[6] == '-';
  int32_t number = 0;
  for (size_t i = negative ? 7 : 6; i < 11; ++i) {
    if (bytes[i] < '0' || bytes[i] > '9') return false;
    number = number * 10 + (bytes[i] - '0');
  }
  if (bytes[11] != ' ') return false;
  if (bytes[12] < '1' || bytes[12] > '8') return false;
  if (bytes[13] != '\r' || bytes[14] != '\n') return false;
  kind = parsedKind;
  first = negative ? -number : number;
  count = bytes[12] - '0';
  return true;
}

bool ControllerProtocol::ParsePattern(const std::string& text, ValuePattern* pattern) {
  if (text == "address") {
    *pattern = ValuePattern{ValuePattern::Kind::kAddress, 0};
    return true;
  }
  if (text == "counter") {
    *pattern = ValuePattern{ValuePattern::Kind::kCounter, 0};
    return true;
  }
  const std::string prefix = "constant:";
  uint64_t value = 0;
  if (text.rfind(prefix, 0) == 0 && ParseUnsigned(text.substr(prefix.size()), 65535, &value)) {
    *pattern = ValuePattern{ValuePattern::Kind::kConstant, static_cast<uint16_t>(value)};
    return true;
  }
  return false;
}

bool ControllerProtocol::ParseFault(const std::string& text, Fault* fault) {
  struct Plain {
    const char* name;
    Fault::Kind kind;
  };
  for (const Plain& plain :
       {Plain{"none", Fault::Kind::kNone}, Plain{"silent", Fault::Kind::kSilent},
        Plain{"twice", Fault::Kind::kTwice}, Plain{"badlength", Fault::Kind::kBadLength},
        Plain{"altaddress", Fault::Kind::kAltAddress}}) {
    if (text == plain.name) {
      *fault = Fault{plain.kind, 0};
      return true;
    }
  }
  struct WithNumber {
    const char* prefix;
    Fault::Kind kind;
    uint64_t min;
  };
  constexpr uint64_t kMax = 2147483647;
  for (const WithNumber& form : {WithNumber{"delay:", Fault::Kind::kDelay, 0},
                                 WithNumber{"unsolicited:", Fault::Kind::kUnsolicited, 1},
                                 WithNumber{"drop:", Fault::Kind::kDrop, 1},
                                 WithNumber{"late:", Fault::Kind::kLateCopy, 1}}) {
    const std::string prefix = form.prefix;
    if (text.rfind(prefix, 0) != 0) continue;
    uint64_t value = 0;
    if (!ParseUnsigned(text.substr(prefix.size()), kMax, &value) || value < form.min) {
      return false;
    }
    *fault = Fault{form.kind, static_cast<int>(value)};
    return true;
  }
  return false;
}

std::string ControllerProtocol::AnswerTo(const std::string& command, const ValuePattern& pattern,
                                         uint64_t answerCount, bool* valid) {
  int kind = 0;
  int32_t first = 0;
  int count = 0;
  *valid = ParseCommand(command, kind, first, count);
  if (!*valid) return kErrorAnswer;
  std::vector<uint16_t> values;
  for (int i = 0; i < count; ++i) values.push_back(ValueOf(pattern, kind, first + i, answerCount));
  return BuildReply(values);
}
