#include "app/profile_file.h"

#include "base/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

namespace {

struct Line {
  std::string content;
  std::string_view eol;  // "\n", "\r\n", "\r", or empty for a last line without one
};

// The one rule by which both the reader and the writer see lines: LF, CR LF and a lone CR each
// end a line. Were the two to split differently, the writer could miss a section the reader
// finds (and append a second one the reader never reaches), or cut off part of a value.
struct LineView {
  std::string_view content;
  std::string_view eol;
};

LineView FirstLine(std::string_view text) {
  const auto end = text.find_first_of("\r\n");
  if (end == std::string_view::npos) {
    return {text, {}};
  }
  const bool crLf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
  return {text.substr(0, end), text.substr(end, crLf ? 2 : 1)};
}

enum class LineKind { kOther, kSection, kKey };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string_view name;
  std::string_view value;
  std::size_t equalsPos = 0;
};

enum class ReadResult { kOk, kMissing, kFailed };

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

ParsedLine Parse(std::string_view content) {
  ParsedLine parsed;
  const std::string_view text = Trim(content);
  if (text.empty() || text.front() == ';') {
    return parsed;
  }
  if (text.front() == '[') {
    const auto close = text.find(']');
    parsed.kind = LineKind::kSection;
    parsed.name =
        Trim(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return parsed;
  }
  const auto equals = content.find('=');
  if (equals == std::string_view::npos) {
    return parsed;
  }
  parsed.kind = LineKind::kKey;
  parsed.name = Trim(content.substr(0, equals));
  parsed.value = Trim(content.substr(equals + 1));
  parsed.equalsPos = equals;
  return parsed;
}

// Calls `visit` with each key line of the first section named `section`, in order, until it
// returns true.
template <typename Visit>
void VisitKeys(std::string_view text, std::string_view section, Visit&& visit) {
  bool inSection = false;
  for (std::string_view rest = text; !rest.empty();) {
    const LineView line = FirstLine(rest);
    rest.remove_prefix(line.content.size() + line.eol.size());
    const ParsedLine parsed = Parse(line.content);
    if (parsed.kind == LineKind::kSection) {
      if (inSection) return;
      inSection = EqualsIgnoreCase(parsed.name, section);
    } else if (inSection && parsed.kind == LineKind::kKey && visit(parsed)) {
      return;
    }
  }
}

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) {
    const LineView line = FirstLine(text);
    lines.push_back({std::string(line.content), line.eol});
    text.remove_prefix(line.content.size() + line.eol.size());
  }
  return lines;
}

ReadResult ReadWholeFile(const std::string& path, std::string& text, mode_t& mode) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    ::close(fd);
    return ReadResult::kFailed;
  }
  mode = status.st_mode & 07777;
  text.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count == 0) {
      break;
    }
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      ::close(fd);
      return ReadResult::kFailed;
    }
    text.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(fd);
  return ReadResult::kOk;
}

// The mode a newly created file gets, so a first settings file looks like any other new file
// rather than mkstemp's owner-only 0600.
mode_t NewFileMode() {
  mode_t mask = 022;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
      break;
    }
  }
  return 0666 & ~mask;
}

// Writes a temporary file beside the target and renames it over the target, so a crash or a
// full disk leaves either the old file or the new one, never half of one.
bool ReplaceFile(const std::filesystem::path& target, std::string_view data, mode_t mode) {
  std::filesystem::path directory = target.parent_path();
  if (directory.empty()) {
    directory = ".";
  }
  std::string temporary = (directory / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    return false;
  }
  bool ok = WriteAll(fd, data.data(), data.size()) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable.
  SyncDirectory(directory.string());
  return true;
}

// A value is one line: a CR or LF in it would start a line of its own that reads back as
// another key or section, so the value ends at the first of them.
std::string_view SingleLine(std::string_view value) {
  return value.substr(0, value.find_first_of("\r\n"));
}

void EndLine(Line& line, std::string_view eol) {
  if (line.eol.empty()) {
    line.eol = eol;
  }
}

void SetValue(std::vector<Line>& lines, std::string_view section, std::string_view key,
              std::string_view value, std::string_view eol) {
  std::size_t header = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ParsedLine parsed = Parse(lines[i].content);
    if (parsed.kind == LineKind::kSection && EqualsIgnoreCase(parsed.name, section)) {
      header = i;
      break;
    }
  }
  const std::string keyLine = std::string(key) + "=" + std::string(value);
  if (header == lines.size()) {
    if (!lines.empty()) {
      EndLine(lines.back(), eol);
    }
    lines.push_back({"[" + std::string(section) + "]", eol});
    lines.push_back({keyLine, eol});
    return;
  }
  std::size_t lastKey = header;
  for (std::size_t i = header + 1; i < lines.size(); ++i) {
    const ParsedLine parsed = Parse(lines[i].content);
    if (parsed.kind == LineKind::kSection) {
      break;
    }
    if (parsed.kind != LineKind::kKey) {
      continue;
    }
    if (EqualsIgnoreCase(parsed.name, key)) {
      std::string& content = lines[i].content;
      const auto valueStart = content.find_first_not_of(" \t", parsed.equalsPos + 1);
      content.resize(valueStart == std::string::npos ? content.size() : valueStart);
      content.append(value);
      return;
    }
    lastKey = i;
  }
  EndLine(lines[lastKey], eol);
  // The line end of the line it follows: a lone CR there is never followed by an empty LF line
  // (the two would have been one CR LF), so the new line cannot fuse with the next into one.
  // With the file's first line end instead, "A=1" CR before an empty LF line would read back
  // as "A=1" CR LF, and the empty line would be gone.
  const std::string_view follows = lines[lastKey].eol;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastKey + 1), Line{keyLine, follows});
}

}  // namespace

ProfileFile::ProfileFile(const std::string& path) {
  mode_t mode = 0;
  if (ReadWholeFile(path, text_, mode) != ReadResult::kOk) {
    text_.clear();
  }
}

ProfileFile::KeyValues ProfileFile::Entries(std::string_view section) const {
  KeyValues entries;
  VisitKeys(text_, section, [&](const ParsedLine& key) {
    entries.emplace_back(key.name, key.value);
    return false;
  });
  return entries;
}

void ProfileFile::SkipByteOrderMark() {
  if (text_.starts_with("\xEF\xBB\xBF")) text_.erase(0, 3);
}

std::optional<std::string_view> ProfileFile::FindValue(std::string_view section,
                                                       std::string_view key) const {
  std::optional<std::string_view> value;
  VisitKeys(text_, section, [&](const ParsedLine& line) {
    if (EqualsIgnoreCase(line.name, key)) value = line.value;
    return value.has_value();
  });
  return value;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    const std::string& defaultValue, std::size_t maxChars) const {
  const auto value = FindValue(section, key);
  return value ? std::string(value->substr(0, maxChars)) : defaultValue;
}

int32_t ProfileFile::ReadInteger(std::string_view section, std::string_view key,
                                 int32_t defaultValue) const {
  const auto value = FindValue(section, key);
  return value ? ParseInteger(*value) : defaultValue;
}

int32_t ProfileFile::ParseInteger(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Numbers beyond 32 bits clamp to INT32_MIN / INT32_MAX instead of wrapping.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      break;
    }
    magnitude = std::min(magnitude * 10 + (c - '0'), kLimit);
  }
  const int64_t value = negative ? -magnitude : magnitude;
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

bool ProfileFile::WriteStrings(const std::string& path, std::string_view section,
                               const KeyValues& keyValues) {
  if (path.empty()) {
    return false;
  }
  std::filesystem::path target(path);
  std::error_code error;
  // Write through a symbolic link rather than replacing the link with a plain file.
  if (std::filesystem::is_symlink(target, error)) {
    target = std::filesystem::weakly_canonical(target, error);
    if (error) {
      return false;
    }
  }
  std::string text;
  mode_t mode = 0;
  switch (ReadWholeFile(target.string(), text, mode)) {
    case ReadResult::kOk:
      break;
    case ReadResult::kMissing:
      mode = NewFileMode();
      break;
    case ReadResult::kFailed:
      return false;
  }
  std::vector<Line> lines = SplitLines(text);
  std::string_view eol = "\n";
  for (const Line& line : lines) {
    if (!line.eol.empty()) {
      eol = line.eol;
      break;
    }
  }
  for (const auto& [key, value] : keyValues) {
    SetValue(lines, section, key, SingleLine(value), eol);
  }
  std::string output;
  for (const Line& line : lines) {
    output += line.content;
    output += line.eol;
  }
  return ReplaceFile(target, output, mode);
}
