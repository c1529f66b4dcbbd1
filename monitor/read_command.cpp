#include "monitor/read_command.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr size_t kFieldWidth = 5;
constexpr size_t kFieldPitch = 6;  // five characters and one separator byte

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Hexadecimal digits denote a 32-bit pattern, so "$FFFFFFFF" gives -1. A digit that would
// need a 33rd bit stops the conversion like any other error: the bits so far are the result.
int32_t ConvertHexDigits(std::string_view digits) {
  uint32_t value = 0;
  for (const char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0 || value > 0x0FFFFFFFu) break;
    value = value * 16u + static_cast<uint32_t>(digit);
  }
  return static_cast<int32_t>(value);
}

}  // namespace

const char* DeviceCode(uint8_t kind) {
  switch (kind) {
    case 0:
      return "DM";
    case 1:
      return "TM";
    default:
      return nullptr;
  }
}

char* FormatDeviceNumberTo(char* out, int64_t number) {
  // Unsigned negation keeps INT64_MIN defined.
  const uint64_t magnitude =
      number < 0 ? uint64_t{0} - static_cast<uint64_t>(number) : static_cast<uint64_t>(number);
  char digits[20];
  char* const end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  if (number < 0) *out++ = '-';
  for (auto length = static_cast<size_t>(end - digits); length < kFieldWidth; ++length) {
    *out++ = '0';
  }
  return std::copy(digits, end, out);
}

std::string FormatDeviceNumber(int64_t number) {
  char text[kMaxDeviceNumberLength];
  return std::string(text, FormatDeviceNumberTo(text, number));
}

ReadCommand BuildReadCommand(uint8_t kind, int32_t first, int32_t count) {
  ReadCommand command{};
  auto out = command.begin();
  out = std::copy_n("RDS ", 4, out);
  const char* code = DeviceCode(kind);
  out = std::copy_n(code != nullptr ? code : "  ", 2, out);
  // The number field keeps only the first five characters: 123456 -> "12345", -5 -> "-0000".
  char number[kMaxDeviceNumberLength];
  FormatDeviceNumberTo(number, first);
  out = std::copy_n(number, kFieldWidth, out);
  *out++ = ' ';
  // One character of the count as printed: '8' for 8, '1' for 12, '-' for a negative count.
  char countText[12];
  std::to_chars(countText, countText + sizeof countText, count);
  *out++ = countText[0];
  *out++ = '\r';
  *out = '\n';
  return command;
}

bool ReplyLengthValid(int32_t n) {
  // 64-bit so that INT32_MIN - 1 does not overflow; % keeps the sign, as the rule intends.
  return (static_cast<int64_t>(n) - 1) % 6 == 0;
}

bool ReplyWellFormed(std::string_view datagram) {
  const size_t size = datagram.size();
  if (size < kFieldPitch + 1 || (size - 1) % kFieldPitch != 0) return false;
  if (datagram.substr(size - 2) != "\r\n") return false;
  for (size_t start = 0; start + kFieldPitch <= size - 1; start += kFieldPitch) {
    const std::string_view field = datagram.substr(start, kFieldWidth);
    size_t i = field.find_first_not_of(' ');
    if (i == std::string_view::npos) return false;
    if (field[i] == '-' || field[i] == '+') ++i;
    if (i == field.size()) return false;
    for (; i < field.size(); ++i) {
      if (field[i] < '0' || field[i] > '9') return false;
    }
    if (start + kFieldPitch < size - 1 && datagram[start + kFieldWidth] != ' ') return false;
  }
  return true;
}

int32_t ConvertField(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;

  bool negative = false;
  bool signed_ = false;
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) {
    negative = field[i] == '-';
    signed_ = true;
    ++i;
  }

  // A hexadecimal prefix counts only without a sign; "-$10" is a decimal field stopped at '$'.
  if (!signed_ && i < field.size()) {
    if (field[i] == '$' || field[i] == 'x' || field[i] == 'X') {
      return ConvertHexDigits(field.substr(i + 1));
    }
    if (field[i] == '0' && i + 1 < field.size() && (field[i + 1] == 'x' || field[i + 1] == 'X')) {
      return ConvertHexDigits(field.substr(i + 2));
    }
  }

  // The conversion reports an error both at a non-digit and at a value beyond the signed
  // 32-bit range; the error is ignored, and what it leaves is the unsigned magnitude
  // accumulated before the offending character. -2147483648 itself is in range.
  const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
  int64_t magnitude = 0;
  for (; i < field.size(); ++i) {
    const char c = field[i];
    if (c < '0' || c > '9') return static_cast<int32_t>(magnitude);
    const int64_t next = magnitude * 10 + (c - '0');
    if (next > limit) return static_cast<int32_t>(magnitude);
    magnitude = next;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::vector<uint16_t> ParseReplyValues(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  const size_t count = text.size() / kFieldPitch;
  std::vector<uint16_t> values;
  values.reserve(count);
  // Field k ends at 6k + 5 <= 6 * count <= text.size(), so every field lies inside the text.
  for (size_t k = 0; k < count; ++k) {
    const std::string_view field = text.substr(k * kFieldPitch, kFieldWidth);
    // A controller's field is five decimal digits, which convert to their plain value (no
    // sign, prefix or overflow to consider); anything else takes the whole rule.
    uint32_t digits = 0;
    size_t i = 0;
    for (; i < kFieldWidth && field[i] >= '0' && field[i] <= '9'; ++i) {
      digits = digits * 10 + static_cast<uint32_t>(field[i] - '0');
    }
    values.push_back(static_cast<uint16_t>(i == kFieldWidth ? digits : ConvertField(field)));
  }
  return values;
}

char* FormatValueTo(char* out, uint16_t slot, bool unsignedValue) {
  const auto result = unsignedValue
                          ? std::to_chars(out, out + kMaxValueLength, slot)
                          : std::to_chars(out, out + kMaxValueLength, static_cast<int16_t>(slot));
  return result.ptr;
}

std::string FormatValue(uint16_t slot, bool unsignedValue) {
  char text[kMaxValueLength];
  return std::string(text, FormatValueTo(text, slot, unsignedValue));
}
