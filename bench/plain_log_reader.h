#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The floor of the viewer's benchmarks: what splitting a log into integer columns costs at the
// least. Blocks of a mebibyte, lines split at line feeds, the stamp turned into seconds (days
// of one month), each value parsed with std::from_chars into its column; a header row only
// sets the column count. Appending files one after another reads them as one log.
struct FloorColumns {
  std::vector<int64_t> times;
  std::vector<std::vector<int32_t>> values;
};

// Rows read from the file; 0 when it cannot be opened.
size_t FloorRead(const char* path, FloorColumns* columns);
