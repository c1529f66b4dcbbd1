// Reply parsing against a model of the field conversion written out here on its own: the
// whole input as one field (so that long digit runs reach the overflow stop), then as a reply
// of five-character fields. Any difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/harness_support.h"
#include "monitor/read_command.h"

namespace {

constexpr std::string_view kDecimalDigits = "0123456789";
constexpr std::string_view kHexDigits = "0123456789abcdefABCDEF";

int HexValue(char c) {
  const auto at = kHexDigits.find(c);
  return static_cast<int>(at < 16 ? at : at - 6);
}

// The conversion, restated: blanks, one optional sign, then a hexadecimal prefix only when no
// sign was given, then digits. A stop (a non-digit, or a digit that would leave the range)
// yields the magnitude gathered so far without its sign; running out of text yields the value.
int32_t Model(std::string_view field) {
  const auto start = field.find_first_not_of(' ');
  if (start == std::string_view::npos) return 0;
  std::string_view rest = field.substr(start);

  char sign = 0;
  if (rest.front() == '-' || rest.front() == '+') {
    sign = rest.front();
    rest.remove_prefix(1);
  }
  if (sign == 0 && (rest.starts_with("0x") || rest.starts_with("0X"))) {
    rest.remove_prefix(2);
  } else if (sign == 0 && !rest.empty() &&
             std::string_view("$xX").find(rest.front()) != std::string_view::npos) {
    rest.remove_prefix(1);
  } else {
    const uint64_t limit = sign == '-' ? 0x80000000u : 0x7FFFFFFFu;
    uint64_t value = 0;
    for (const char c : rest) {
      if (kDecimalDigits.find(c) == std::string_view::npos ||
          value * 10 + static_cast<uint64_t>(c - '0') > limit) {
        return static_cast<int32_t>(static_cast<uint32_t>(value));
      }
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    const uint32_t bits = static_cast<uint32_t>(value);
    return static_cast<int32_t>(sign == '-' ? 0u - bits : bits);
  }
  // Hexadecimal: a 32-bit pattern, so "$FFFFFFFF" is -1; a 33rd bit stops like a non-digit.
  uint64_t value = 0;
  for (const char c : rest) {
    if (kHexDigits.find(c) == std::string_view::npos) break;
    const uint64_t next = value * 16 + static_cast<uint64_t>(HexValue(c));
    if (next > 0xFFFFFFFFu) break;
    value = next;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

[[noreturn]] void Differs(const char* what, std::string_view input, long long got,
                          long long expected) {
  Fail(std::string(what) + " differs for \"" + std::string(input) + "\": " + std::to_string(got) +
       ", model " + std::to_string(expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const int32_t whole = ConvertField(input);
  if (whole != Model(input)) Differs("ConvertField", input, whole, Model(input));

  const std::string_view text = input.substr(0, input.find('\0'));
  const std::vector<uint16_t> values = ParseReplyValues(input);
  if (values.size() != text.size() / 6) {
    Differs("value count", input, static_cast<long long>(values.size()),
            static_cast<long long>(text.size() / 6));
  }
  for (size_t k = 0; k < values.size(); ++k) {
    const auto expected = static_cast<uint16_t>(Model(text.substr(6 * k, 5)));
    if (values[k] != expected)
      Differs("ParseReplyValues", text.substr(6 * k, 5), values[k], expected);
    // Each slot shows as the decimal of its unsigned or signed 16-bit reading.
    if (FormatValue(values[k], true) != std::to_string(values[k]) ||
        FormatValue(values[k], false) != std::to_string(static_cast<int16_t>(values[k]))) {
      Differs("FormatValue", text.substr(6 * k, 5), values[k], values[k]);
    }
  }
  return 0;
}
