#include "monitor/reply_matcher.h"

#include <algorithm>
#include <limits>

namespace {

// Far from the end of a cycle a clean count is taken only when it is at least this large, so
// that avoiding doubtful counts never multiplies the requests.
constexpr int32_t kSmallestPreferred = 4;
// The last devices of a cycle are planned as a whole, so that the forced last request does
// not land on a doubtful count when another split would avoid it.
constexpr int32_t kPlannedTail = 2 * ReplyMatcher::kMaxCount;
// What a risky count costs, in extra requests: a count with answers still owed is asked only
// when no split of the rest avoids it; one that just had a stray, when avoiding it costs less
// than three more requests.
constexpr int kOwedCost = 1000;
constexpr int kStrayCost = 3;

}  // namespace

ReplyMatcher::ReplyMatcher(Clock::duration answerLifetime, Clock::duration duplicateWindow)
    : lifetime_(answerLifetime), duplicateWindow_(duplicateWindow) {}

void ReplyMatcher::SetTimes(Clock::duration answerLifetime, Clock::duration duplicateWindow) {
  lifetime_ = answerLifetime;
  duplicateWindow_ = duplicateWindow;
}

void ReplyMatcher::Expire(Clock::time_point now) {
  const auto expired = [&](const Sends& sends) {
    return !sends.empty() && sends.front() + lifetime_ <= now;
  };
  for (Sends& sends : owed_) {
    while (expired(sends)) sends.pop_front();
  }
  while (expired(current_)) current_.pop_front();
}

int32_t ReplyMatcher::Choose(int32_t remaining, int32_t previous, Clock::time_point now) const {
  // What asking each count risks: an answer owed to another send could be taken in the place
  // of this one's if the network reorders them; a stray of that size could come again.
  std::array<int, kMaxCount + 1> risk{};
  for (int32_t count = 1; count <= kMaxCount; ++count) {
    if (!owed_[count].empty()) {
      risk[count] = kOwedCost;
    } else if (now < strayUntil_[count]) {
      risk[count] = kStrayCost;
    }
  }
  const bool anyRisk = std::any_of(risk.begin(), risk.end(), [](int r) { return r != 0; });
  if (!anyRisk) {
    // Nothing to avoid: the largest count that differs from the last and leaves a rest that
    // can still be split (1 after 1 and 2 after 2 cannot) needs the fewest requests.
    for (int32_t count = std::min(kMaxCount, remaining); count >= 1; --count) {
      const int32_t rest = remaining - count;
      if (count != previous && !(rest == count && rest <= 2)) return count;
    }
    return std::min(kMaxCount, remaining);
  }
  if (remaining > kPlannedTail) {
    // Far from the end, whatever is asked leaves a rest that can still be split.
    int32_t best = 0;
    for (int32_t count = kMaxCount; count >= 1; --count) {
      if (count == previous) continue;
      if (risk[count] == 0 && count >= kSmallestPreferred) return count;
      if (best == 0 || risk[count] < risk[best]) best = count;
    }
    return best;
  }
  // cost[r][p]: the cheapest way to read r devices after a request of p, counted in requests
  // plus their risks; first[r][p] its first request.
  constexpr int kUnreachable = std::numeric_limits<int>::max() / 2;
  std::array<std::array<int, kMaxCount + 1>, kPlannedTail + 1> cost{};
  std::array<std::array<int32_t, kMaxCount + 1>, kPlannedTail + 1> first{};
  for (int32_t rest = 1; rest <= remaining; ++rest) {
    for (int32_t before = 0; before <= kMaxCount; ++before) {
      int best = kUnreachable;
      for (int32_t count = std::min(kMaxCount, rest); count >= 1; --count) {
        if (count == before) continue;
        const int tail = cost[static_cast<std::size_t>(rest - count)][count];
        if (tail >= kUnreachable) continue;
        const int total = tail + 1 + risk[count];
        if (total < best) {
          best = total;
          first[rest][before] = count;
        }
      }
      cost[rest][before] = best;
    }
  }
  const auto index = static_cast<std::size_t>(remaining);
  const auto before = static_cast<std::size_t>(std::clamp(previous, 0, kMaxCount));
  if (cost[index][before] < kUnreachable) return first[index][before];
  // One or two devices a cycle cannot avoid repeating the last count of the previous cycle;
  // answers still owed to it are then told apart by counting them.
  return std::min(kMaxCount, remaining);
}

int32_t ReplyMatcher::NextCount(int32_t remaining, Clock::time_point now) {
  Expire(now);
  const int32_t count = Choose(remaining, lastCount_, now);
  return owed_[count].empty() ? count : 0;
}

void ReplyMatcher::Begin(int32_t count) {
  if (inFlight_) Abandon();
  currentCount_ = std::clamp(count, 0, kMaxCount);
  lastCount_ = currentCount_;
  current_.clear();
  inFlight_ = true;
}

void ReplyMatcher::Sent(Clock::time_point now) {
  if (inFlight_) current_.push_back(now);
}

void ReplyMatcher::Abandon() {
  if (!inFlight_) return;
  Sends& owed = owed_[currentCount_];
  owed.insert(owed.end(), current_.begin(), current_.end());
  current_.clear();
  inFlight_ = false;
}

ReplyMatcher::Verdict ReplyMatcher::Classify(std::string_view datagram, Clock::time_point now) {
  Expire(now);
  const bool copy = datagram == lastDatagram_ && now - lastArrival_ < duplicateWindow_;
  lastArrival_ = now;
  if (copy) return Verdict::kDuplicate;
  // Only answers' sizes need telling apart; a longer datagram is never one.
  if (datagram.size() <= 6 * kMaxCount + 1) {
    lastDatagram_.assign(datagram);
  } else {
    lastDatagram_.clear();
  }
  const auto numberBytes = static_cast<int32_t>(datagram.size());
  if (numberBytes < 7 || (numberBytes - 1) % 6 != 0 || (numberBytes - 1) / 6 > kMaxCount) {
    return Verdict::kMalformed;
  }
  const int32_t count = (numberBytes - 1) / 6;
  Sends& owed = owed_[count];
  if (inFlight_ && count == currentCount_ && owed.empty()) {
    // Which of its sends was answered is unknown; the others stay owed, the newest longest.
    if (!current_.empty()) current_.pop_front();
    inFlight_ = false;
    owed.insert(owed.end(), current_.begin(), current_.end());
    current_.clear();
    return Verdict::kTake;
  }
  if (!owed.empty()) {
    owed.pop_front();
    return Verdict::kOwed;
  }
  strayUntil_[count] = now + lifetime_;
  return Verdict::kUnasked;
}

std::size_t ReplyMatcher::OwedElsewhere() const {
  std::size_t total = 0;
  for (const Sends& sends : owed_) total += sends.size();
  return total;
}
