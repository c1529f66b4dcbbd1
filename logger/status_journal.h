#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "monitor/clock.h"

// What the logger tells its journal (stderr): one line per change of condition, stamped with
// the local time. A condition that repeats is printed once, when it first occurs, and once more
// when it clears, with how often it occurred and for how long, so that a controller silent for
// a day gives two lines, not a million.
class StatusJournal {
 public:
  // How a condition clears.
  enum class Kind {
    kCycle,    // time-outs, failed sends, datagrams not taken: at a row completed without it
               // since the row before, so that one that comes every cycle stays one condition
    kStorage,  // failed log writes: at the next write that works
    kBroker,   // publishing: at the next connection the broker accepts
  };

  StatusJournal(std::FILE* out, const Clock& clock);

  // A line of its own: start, new file, summary.
  void Line(const std::string& text);
  // `detail` (a size, a sender) is not part of the condition: the first line names the first
  // one, the cleared line the first few with how often each came, then how many others.
  void Occurred(Kind kind, const std::string& condition, const std::string& detail = {});
  void RowCompleted();
  void StorageWorks();
  void BrokerWorks();
  // The conditions that hold now, as their lines name them.
  std::vector<std::string> Conditions() const;
  // Called after a condition starts or clears (the publisher tells the broker).
  std::function<void()> OnChange;

  // "4 s", "3 min 20 s", "2 h 5 min", "1 d 3 h".
  static std::string Duration(Clock::Monotonic::duration elapsed);
  // "once", "2 times".
  static std::string Times(uint64_t count);
  // "1 row", "2 rows": `noun` and its plural.
  static std::string Count(uint64_t count, const char* noun, const char* plural);

  static constexpr std::size_t kDetailsShown = 4;
  static constexpr std::size_t kDetailsCounted = 4096;

 private:
  struct Active {
    std::string text;
    Kind kind;
    uint64_t count = 0;
    Clock::Monotonic::time_point first;
    bool sinceRow = true;                                 // occurred since the last row completed
    std::vector<std::pair<std::string, uint64_t>> shown;  // the first details, with counts
    std::unordered_set<std::string> others;               // the rest, up to kDetailsCounted
  };

  static void Note(Active& active, const std::string& detail);
  static std::string Details(const Active& active);

  void ClearWhere(Kind kind, bool onlyQuietSinceRow);

  std::FILE* out_;
  const Clock& clock_;
  std::vector<Active> active_;
};
