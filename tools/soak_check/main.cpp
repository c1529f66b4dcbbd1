// varnel-soak-check: the soak's verdict on the logs it made (see SoakLogCheck), or their rows.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/soak_check/soak_log_check.h"

namespace {

constexpr const char* kUsage =
    "usage: varnel-soak-check [--first N] [--devices N] [--unsigned] [--notes FILE] LOG...\n"
    "       varnel-soak-check --count-rows LOG...\n"
    "Checks logs that varnel-logger wrote from varnel-sim's address pattern (DM devices\n"
    "from --first, default 100, --devices of them, default 20, signed unless --unsigned).\n"
    "Prints \"files=F headers=H rows=R bad=B wrong=W wrongrows=V disorder=D\" and writes the\n"
    "first bad lines to --notes FILE (default: standard error). --count-rows prints the\n"
    "number of lines that are not headers. Exit 0: every line right; 1: a line wrong;\n"
    "2: a bad option or a log that cannot be read.\n";

int BadUsage(const std::string& why) {
  std::fprintf(stderr, "varnel-soak-check: %s\n%s", why.c_str(), kUsage);
  return 2;
}

bool ReadWhole(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool ParseCount(const std::string& text, long min, long max, long* value) {
  char* end = nullptr;
  *value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && *value >= min && *value <= max;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
  long first = 100;
  long devices = 20;
  bool unsignedValues = false;
  bool countRows = false;
  std::string notesPath;
  std::vector<std::string> logs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--first" && hasValue) {
      if (!ParseCount(argv[++i], -9999, 99999, &first)) return BadUsage("bad --first");
    } else if (arg == "--devices" && hasValue) {
      if (!ParseCount(argv[++i], 1, 1000, &devices)) return BadUsage("bad --devices");
    } else if (arg == "--notes" && hasValue) {
      notesPath = argv[++i];
    } else if (arg == "--unsigned") {
      unsignedValues = true;
    } else if (arg == "--count-rows") {
      countRows = true;
    } else if (arg.starts_with("-")) {
      return BadUsage("unknown option or missing value: " + arg);
    } else {
      logs.push_back(arg);
    }
  }

  SoakLogCheck check(static_cast<int32_t>(first), static_cast<int>(devices), unsignedValues);
  size_t rows = 0;
  for (const std::string& path : logs) {
    std::string bytes;
    if (!ReadWhole(path, &bytes)) {
      std::fprintf(stderr, "varnel-soak-check: cannot read %s\n", path.c_str());
      return 2;
    }
    if (countRows) {
      rows += SoakLogCheck::CountRows(bytes);
    } else {
      check.CheckFile(BaseName(path), bytes);
    }
  }
  if (countRows) {
    std::printf("%zu\n", rows);
    return 0;
  }
  std::printf("%s\n", check.FiguresLine().c_str());
  FILE* notes = stderr;
  if (!notesPath.empty() && (notes = std::fopen(notesPath.c_str(), "w")) == nullptr) {
    std::fprintf(stderr, "varnel-soak-check: cannot write %s\n", notesPath.c_str());
    return 2;
  }
  for (const std::string& note : check.Notes()) std::fprintf(notes, "%s\n", note.c_str());
  if (notes != stderr) std::fclose(notes);
  return check.Passed() ? 0 : 1;
}
