#pragma once

#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>

// What the command line asks of the logger.
struct LoggerOptions {
  enum class Rotate { kDaily, kNone };
  enum class Sync { kRow, kNone };

  std::string ConfigPath;
  std::string OutputDir = ".";
  std::optional<int64_t> Cycles;  // exit 0 after this many complete rows
  Rotate Rotation = Rotate::kDaily;
  Sync Durability = Sync::kRow;
};

// Parses the arguments (argv[0] first). Exits the process for --help and --version (status 0)
// and for a bad option (status 2, after the two lines every Varnel program prints for one, the
// first of which is also left in *error).
std::optional<LoggerOptions> ParseLoggerOptions(const QStringList& arguments, std::string* error);
