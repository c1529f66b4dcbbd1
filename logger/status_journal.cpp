#include "logger/status_journal.h"

#include <algorithm>
#include <chrono>

StatusJournal::StatusJournal(std::FILE* out, const Clock& clock) : out_(out), clock_(clock) {}

void StatusJournal::Line(const std::string& text) {
  const LocalDateTime t = clock_.Now();
  std::fprintf(out_, "%04d-%02d-%02d %02d:%02d:%02d %s\n", t.Year, t.Month, t.Day, t.Hour, t.Minute,
               t.Second, text.c_str());
  std::fflush(out_);
}

void StatusJournal::Occurred(Kind kind, const std::string& condition, const std::string& detail) {
  const auto found = std::find_if(active_.begin(), active_.end(),
                                  [&](const Active& a) { return a.text == condition; });
  if (found != active_.end()) {
    ++found->count;
    found->sinceRow = true;
    Note(*found, detail);
    return;
  }
  active_.push_back({condition, kind, 1, clock_.Elapsed(), true, {}, {}});
  Note(active_.back(), detail);
  Line(detail.empty() ? condition : condition + " (" + detail + ")");
  if (OnChange) OnChange();
}

void StatusJournal::Note(Active& active, const std::string& detail) {
  if (detail.empty()) return;
  for (auto& [text, count] : active.shown) {
    if (text == detail) {
      ++count;
      return;
    }
  }
  if (active.shown.size() < kDetailsShown) {
    active.shown.emplace_back(detail, 1);
  } else if (active.others.size() < kDetailsCounted) {
    active.others.insert(detail);
  }
}

std::string StatusJournal::Details(const Active& active) {
  std::string text;
  for (const auto& [detail, count] : active.shown) {
    text += (text.empty() ? "" : ", ") + detail + " " + Times(count);
  }
  if (!active.others.empty()) {
    text += std::string(active.others.size() >= kDetailsCounted ? " and at least " : " and ") +
            std::to_string(active.others.size()) + " more";
  }
  return text;
}

std::string StatusJournal::Times(uint64_t count) {
  return count == 1 ? "once" : std::to_string(count) + " times";
}

std::string StatusJournal::Count(uint64_t count, const char* noun, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? noun : plural);
}

void StatusJournal::ClearWhere(Kind kind, bool onlyQuietSinceRow) {
  const auto now = clock_.Elapsed();
  const std::size_t before = active_.size();
  std::erase_if(active_, [&](Active& a) {
    if (a.kind != kind) return false;
    if (onlyQuietSinceRow && a.sinceRow) {
      a.sinceRow = false;
      return false;
    }
    const std::string details = Details(a);
    Line("cleared: " + a.text + " (" + Times(a.count) + " in " + Duration(now - a.first) +
         (details.empty() ? "" : ": " + details) + ")");
    return true;
  });
  if (active_.size() != before && OnChange) OnChange();
}

void StatusJournal::RowCompleted() { ClearWhere(Kind::kCycle, true); }

void StatusJournal::StorageWorks() { ClearWhere(Kind::kStorage, false); }

void StatusJournal::BrokerWorks() { ClearWhere(Kind::kBroker, false); }

std::vector<std::string> StatusJournal::Conditions() const {
  std::vector<std::string> texts;
  for (const Active& a : active_) texts.push_back(a.text);
  return texts;
}

std::string StatusJournal::Duration(Clock::Monotonic::duration elapsed) {
  const auto seconds =
      std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
  const auto two = [](int64_t big, const char* bigUnit, int64_t small, const char* smallUnit) {
    std::string text = std::to_string(big) + " " + bigUnit;
    if (small != 0) text += " " + std::to_string(small) + " " + smallUnit;
    return text;
  };
  if (seconds < 60) return std::to_string(seconds) + " s";
  if (seconds < 3600) return two(seconds / 60, "min", seconds % 60, "s");
  if (seconds < 86400) return two(seconds / 3600, "h", seconds / 60 % 60, "min");
  return two(seconds / 86400, "d", seconds / 3600 % 24, "h");
}
