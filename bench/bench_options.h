#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

// The options of a benchmark's command line, declared once: each a flag or an option with a
// value, parsed in the order given (so a later option overrides what --quick set), with a
// usage text made from the declarations.
class BenchOptions {
 public:
  explicit BenchOptions(std::string program);

  BenchOptions& Flag(const std::string& name, const std::string& help, std::function<void()> set);
  // Whole numbers from min to max; any other value is a bad option.
  BenchOptions& Int(const std::string& name, const std::string& meta, const std::string& help,
                    int* value, int min, int max = std::numeric_limits<int>::max());
  BenchOptions& Int64(const std::string& name, const std::string& meta, const std::string& help,
                      int64_t* value);
  // Numbers above `above`.
  BenchOptions& Double(const std::string& name, const std::string& meta, const std::string& help,
                       double* value, double above);
  BenchOptions& Text(const std::string& name, const std::string& meta, const std::string& help,
                     std::string* value);
  // The option declared last must be given.
  BenchOptions& Required();
  // A line printed after the options.
  BenchOptions& Note(const std::string& line);

  // argv[1] on. -h or --help prints the usage and exits 0; a bad option prints why and the
  // usage on standard error and exits 2.
  void Parse(int argc, char** argv) const;
  // The same without printing or exiting: false with *error set on a bad option; *help set
  // when help was asked for.
  bool TryParse(int argc, char** argv, std::string* error, bool* help) const;
  std::string Usage() const;

 private:
  struct Option {
    std::string name;
    std::string meta;  // empty for a flag
    std::string help;
    std::function<bool(const std::string&)> take;  // false: a bad value
    bool required = false;
  };

  BenchOptions& Add(Option option);

  std::string program_;
  std::vector<Option> options_;
  std::vector<std::string> notes_;
};
