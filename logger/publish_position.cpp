#include "logger/publish_position.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kMagic = "varnel-publish 1";

// "offset\trow\tfile", the file last because its name holds blanks.
std::string Format(const LogPosition& p) {
  return std::to_string(p.Offset) + '\t' + std::to_string(p.Row) + '\t' + p.File;
}

bool Number(std::string_view text, uint64_t* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

std::optional<LogPosition> Parse(std::string_view text) {
  const std::size_t first = text.find('\t');
  const std::size_t second = first == std::string_view::npos ? first : text.find('\t', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  LogPosition p;
  if (!Number(text.substr(0, first), &p.Offset) ||
      !Number(text.substr(first + 1, second - first - 1), &p.Row)) {
    return std::nullopt;
  }
  p.File = text.substr(second + 1);
  if (!LogRowReader::IsLogName(p.File)) return std::nullopt;
  return p;
}

}  // namespace

PublishPosition::PublishPosition(std::string folder) : path_(std::move(folder) + "/" + kFileName) {}

std::vector<PublishPosition::Stretch> PublishPosition::Load() const {
  std::ifstream in(path_);
  std::string line;
  std::vector<Stretch> stretches;
  if (!std::getline(in, line) || line != kMagic) return {};
  // "from <position>" starts a stretch, "end <position>" closes it.
  while (std::getline(in, line)) {
    if (line.starts_with("from ")) {
      const auto from = Parse(std::string_view(line).substr(5));
      if (!from) return {};
      stretches.push_back({*from, std::nullopt});
    } else if (line.starts_with("end ") && !stretches.empty()) {
      const auto end = Parse(std::string_view(line).substr(4));
      if (!end) return {};
      stretches.back().End = end;
    } else {
      return {};
    }
  }
  return stretches;
}

bool PublishPosition::Save(const std::vector<Stretch>& stretches, std::string* error) const {
  std::string text = std::string(kMagic) + "\n";
  for (const Stretch& s : stretches) {
    text += "from " + Format(s.From) + "\n";
    if (s.End) text += "end " + Format(*s.End) + "\n";
  }
  const std::string temporary = path_ + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  const auto fail = [&](const char* step) {
    *error = std::string("cannot ") + step + " " + temporary + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    ::unlink(temporary.c_str());
    return false;
  };
  if (fd < 0) return fail("create");
  if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    if (errno == 0) errno = ENOSPC;
    return fail("write");
  }
  // The rename must not reach the disk before the data, or a power cut leaves an empty state.
  if (::fdatasync(fd) != 0) return fail("sync");
  if (::close(fd) != 0) {
    *error = "cannot close " + temporary + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
    *error = "cannot replace " + path_ + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}
