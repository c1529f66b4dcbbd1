#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// The soak's verdict on the logs a logger wrote while polling the simulator's address pattern:
// every line ends with CR LF, every header names the devices polled, every row follows a
// header and holds one value per device, each value is the simulator's, and no row is earlier
// than the one before it (also across files, checked in the order given). The logs are read
// by the viewer's log reader, line by line, so that each verdict names its line.
class SoakLogCheck {
 public:
  struct Figures {
    size_t files = 0;
    size_t headers = 0;
    size_t rows = 0;  // lines with a line end that are not headers, bad ones too
    size_t badLines = 0;
    size_t wrongValues = 0;
    size_t wrongRows = 0;
    size_t disorder = 0;
  };

  // Notes kept of each kind (bad lines, wrong rows, rows out of order); the rest are counted.
  static constexpr size_t kNotesPerKind = 20;

  // DM devices firstDevice, firstDevice + 1, ...; values as the logger writes them, signed
  // unless unsignedValues.
  SoakLogCheck(int32_t firstDevice, int devices, bool unsignedValues);

  // One whole log; name is what the notes call it.
  void CheckFile(const std::string& name, std::string_view bytes);

  const Figures& Totals() const { return figures_; }
  // "name:line: why: text", in the order found.
  const std::vector<std::string>& Notes() const { return notes_; }
  bool Passed() const {
    return figures_.badLines == 0 && figures_.wrongValues == 0 && figures_.disorder == 0;
  }
  // The figures as one line: "files=F headers=H rows=R bad=B wrong=W wrongrows=V disorder=D".
  std::string FiguresLine() const;

  // Lines that are not headers, a last line without its line end too: the rows a log holds
  // or began, whatever their state.
  static size_t CountRows(std::string_view bytes);

 private:
  void Note(size_t* kindCount, const std::string& where, std::string_view why,
            std::string_view text);

  int32_t firstDevice_;
  int devices_;
  std::vector<std::string> names_;  // "DM00100", ...
  std::vector<int32_t> want_;       // the value of each device as logged
  Figures figures_;
  std::vector<std::string> notes_;
  size_t badNotes_ = 0;
  size_t wrongNotes_ = 0;
  size_t disorderNotes_ = 0;
  int64_t lastTimeMs_ = std::numeric_limits<int64_t>::min();
  std::string lastStamp_;
};
