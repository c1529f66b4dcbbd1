#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "monitor/read_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t end = text.find('\0') == std::string_view::npos ? size : text.find('\0');
  if (ParseReplyValues(text).size() != end / 6) std::abort();
  ConvertField(text);
  return 0;
}
