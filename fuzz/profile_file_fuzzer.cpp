// The INI reader and writer: arbitrary bytes as the settings file, the eight settings (taken
// from the input too) saved into it and loaded back. The eight values must come back, every
// other line must survive byte for byte with its own line end, a second save must change
// nothing, and no temporary file may be left beside the file.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings_store.h"
#include "fuzz/harness_support.h"

namespace fs = std::filesystem;

namespace {

const char* const kKeys[] = {"IPAddress",  "PortNo",      "Interval",  "TimeOut",
                             "DeviceName", "DeviceStart", "DeviceNum", "Unsigned"};

struct Line {
  std::string_view content;
  std::string_view eol;
};

// LF, CR LF and a lone CR end a line.
std::vector<Line> Lines(std::string_view text) {
  std::vector<Line> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    const size_t eolLength = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
    lines.push_back({text.substr(start, i - start), text.substr(i, eolLength)});
    i += eolLength - 1;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back({text.substr(start), {}});
  return lines;
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The written value of the key that `content` sets, or null when it sets none of the eight.
const std::string* WrittenValue(std::string_view content, const std::vector<std::string>& values) {
  const auto equals = content.find('=');
  const std::string_view text = Trim(content);
  if (equals == std::string_view::npos || text.starts_with(';') || text.starts_with('[')) {
    return nullptr;
  }
  for (size_t k = 0; k < values.size(); ++k) {
    if (SameName(Trim(content.substr(0, equals)), kKeys[k])) return &values[k];
  }
  return nullptr;
}

// A line the writer added: one of the eight keys with its value, or the section itself.
bool Inserted(const Line& line, const std::vector<std::string>& values) {
  if (line.content == "[Setup]") return true;
  const std::string* value = WrittenValue(line.content, values);
  return value != nullptr && line.content.substr(line.content.find('=') + 1) == *value;
}

// The old key line with its value (what follows '=' and its blanks) replaced by the new one; a
// last line without a line end may have got one.
bool Rewritten(const Line& before, const Line& after, bool last,
               const std::vector<std::string>& values) {
  const std::string* value = WrittenValue(before.content, values);
  if (value == nullptr || (before.eol != after.eol && !(last && before.eol.empty()))) {
    return false;
  }
  const auto equals = before.content.find('=');
  auto valueStart = before.content.find_first_not_of(" \t", equals + 1);
  if (valueStart == std::string_view::npos) valueStart = before.content.size();
  return after.content == std::string(before.content.substr(0, valueStart)) + *value;
}

// Every line of `before` is in `after`, in order: unchanged, or (the last line) ended now, or a
// key line of the eight with its new value; whatever else `after` holds was inserted.
bool OtherLinesSurvive(std::string_view before, std::string_view after,
                       const std::vector<std::string>& values) {
  const std::vector<Line> old = Lines(before);
  const std::vector<Line> now = Lines(after);
  size_t j = 0;
  int added = 0;
  for (size_t i = 0; i < old.size(); ++i) {
    const bool last = i + 1 == old.size();
    for (;; ++j) {
      if (j == now.size()) return false;
      const Line& o = old[i];
      const Line& n = now[j];
      if (n.content == o.content && (n.eol == o.eol || (last && o.eol.empty()))) break;
      if (Rewritten(o, n, last, values)) break;
      if (!Inserted(n, values) || ++added > 9) return false;
    }
    ++j;
  }
  for (; j < now.size(); ++j) {
    if (!Inserted(now[j], values) || ++added > 9) return false;
  }
  return true;
}

// The bytes with CR, LF and other control characters spelled out, for a finding's report.
std::string Escaped(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n\n";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      text += hex;
    } else {
      text += c;
    }
  }
  return text;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path g_dir;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_dir = ScratchFolder("profile_file_fuzzer");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  MonitorSettings settings;
  // An address as the file can hold it: one line, no outer blanks, at most 1023 characters.
  std::string address = input.ConsumeRandomLengthString(1100);
  std::erase_if(address, [](char c) { return c == '\r' || c == '\n'; });
  settings.IPAddress = std::string(Trim(std::string_view(address).substr(0, 1023)));
  settings.PortNo = input.ConsumeIntegral<int32_t>();
  settings.Interval = input.ConsumeIntegral<int32_t>();
  settings.TimeOut = input.ConsumeIntegral<int32_t>();
  settings.DeviceName = input.ConsumeIntegral<uint8_t>();
  settings.DeviceStart = input.ConsumeIntegral<int32_t>();
  settings.DeviceNum = input.ConsumeIntegral<int32_t>();
  settings.Unsigned = input.ConsumeIntegral<int32_t>();
  const std::string before = input.ConsumeRemainingBytesAsString();

  const fs::path ini = g_dir / "varnel.ini";
  {
    std::ofstream out(ini, std::ios::binary | std::ios::trunc);
    out << before;
  }
  SettingsStore::Load(ini.string());  // must not fail on any bytes
  if (!SettingsStore::Save(ini.string(), settings)) Fail("save failed");
  if (!(SettingsStore::Load(ini.string()) == settings)) Fail("settings did not load back");

  const std::string after = ReadAll(ini);
  const std::vector<std::string> values = {settings.IPAddress,
                                           std::to_string(settings.PortNo),
                                           std::to_string(settings.Interval),
                                           std::to_string(settings.TimeOut),
                                           std::to_string(settings.DeviceName),
                                           std::to_string(settings.DeviceStart),
                                           std::to_string(settings.DeviceNum),
                                           std::to_string(settings.Unsigned)};
  if (!OtherLinesSurvive(before, after, values)) {
    Fail("a line was lost or changed:\n" + Escaped(before) + "\nbecame\n" + Escaped(after));
  }

  if (!SettingsStore::Save(ini.string(), settings)) Fail("second save failed");
  if (ReadAll(ini) != after) Fail("a second save changed the file");

  for (const auto& entry : fs::directory_iterator(g_dir)) {
    if (entry.path() != ini) Fail("a temporary file was left");
  }
  return 0;
}
