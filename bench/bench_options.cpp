#include "bench/bench_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <utility>

namespace {

bool WholeNumber(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0';
}

}  // namespace

BenchOptions::BenchOptions(std::string program) : program_(std::move(program)) {}

BenchOptions& BenchOptions::Add(Option option) {
  options_.push_back(std::move(option));
  return *this;
}

BenchOptions& BenchOptions::Flag(const std::string& name, const std::string& help,
                                 std::function<void()> set) {
  return Add({name, "", help, [set = std::move(set)](const std::string&) {
                set();
                return true;
              }});
}

BenchOptions& BenchOptions::Int(const std::string& name, const std::string& meta,
                                const std::string& help, int* value, int min, int max) {
  return Add({name, meta, help, [value, min, max](const std::string& text) {
                long long number = 0;
                if (!WholeNumber(text, &number) || number < min || number > max) return false;
                *value = static_cast<int>(number);
                return true;
              }});
}

BenchOptions& BenchOptions::Int64(const std::string& name, const std::string& meta,
                                  const std::string& help, int64_t* value) {
  return Add({name, meta, help, [value](const std::string& text) {
                long long number = 0;
                if (!WholeNumber(text, &number)) return false;
                *value = number;
                return true;
              }});
}

BenchOptions& BenchOptions::Double(const std::string& name, const std::string& meta,
                                   const std::string& help, double* value, double above) {
  return Add({name, meta, help, [value, above](const std::string& text) {
                char* end = nullptr;
                const double number = std::strtod(text.c_str(), &end);
                if (text.empty() || *end != '\0' || !(number > above)) return false;
                *value = number;
                return true;
              }});
}

BenchOptions& BenchOptions::Text(const std::string& name, const std::string& meta,
                                 const std::string& help, std::string* value) {
  return Add({name, meta, help, [value](const std::string& text) {
                if (text.empty()) return false;
                *value = text;
                return true;
              }});
}

BenchOptions& BenchOptions::Required() {
  if (!options_.empty()) options_.back().required = true;
  return *this;
}

BenchOptions& BenchOptions::Note(const std::string& line) {
  notes_.push_back(line);
  return *this;
}

bool BenchOptions::TryParse(int argc, char** argv, std::string* error, bool* help) const {
  *help = false;
  std::set<std::string> given;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      *help = true;
      return true;
    }
    const Option* option = nullptr;
    for (const Option& candidate : options_) {
      if (candidate.name == arg) option = &candidate;
    }
    if (option == nullptr) {
      *error = "unknown option " + arg;
      return false;
    }
    std::string value;
    if (!option->meta.empty()) {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    if (!option->take(value)) {
      *error = "bad value for " + arg + ": " + value;
      return false;
    }
    given.insert(arg);
  }
  for (const Option& option : options_) {
    if (option.required && given.count(option.name) == 0) {
      *error = option.name + " is required";
      return false;
    }
  }
  return true;
}

void BenchOptions::Parse(int argc, char** argv) const {
  std::string error;
  bool help = false;
  if (!TryParse(argc, argv, &error, &help)) {
    std::fprintf(stderr, "%s: %s\n%s", program_.c_str(), error.c_str(), Usage().c_str());
    std::exit(2);
  }
  if (help) {
    std::fputs(Usage().c_str(), stdout);
    std::exit(0);
  }
}

std::string BenchOptions::Usage() const {
  std::string text = "usage: " + program_;
  size_t width = 0;
  for (const Option& option : options_) {
    const std::string form = option.name + (option.meta.empty() ? "" : " " + option.meta);
    text += option.required ? " " + form : " [" + form + "]";
    width = std::max(width, form.size());
  }
  text += "\n";
  for (const Option& option : options_) {
    std::string form = option.name + (option.meta.empty() ? "" : " " + option.meta);
    form.resize(width + 2, ' ');
    text += "  " + form + option.help + "\n";
  }
  for (const std::string& note : notes_) text += note + "\n";
  return text;
}
