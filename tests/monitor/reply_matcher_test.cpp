#include "monitor/reply_matcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Verdict = ReplyMatcher::Verdict;

// A datagram of an answer's size for `count` values; each call's bytes differ from the last.
std::string Answer(int32_t count) {
  static int serial = 0;
  std::string bytes(static_cast<size_t>(6 * count + 1), ' ');
  const std::string tag = std::to_string(++serial % 100000);
  bytes.replace(0, std::min(tag.size(), bytes.size()), tag.substr(0, bytes.size()));
  return bytes;
}

class ReplyMatcherTest : public ::testing::Test {
 protected:
  // Plans one cycle of `devices` as the read cycle does, without answers in between.
  std::vector<int32_t> PlanCycle(int32_t devices) {
    std::vector<int32_t> counts;
    for (int32_t left = devices; left > 0;) {
      const int32_t count = matcher.NextCount(left, now);
      counts.push_back(count);
      Request(count);
      EXPECT_EQ(matcher.Classify(Answer(count), now), Verdict::kTake);
      left -= count;
    }
    return counts;
  }
  void Request(int32_t count) {
    matcher.Begin(count);
    matcher.Sent(now);
  }

  ReplyMatcher matcher{10s, 50ms};
  ReplyMatcher::Clock::time_point now{};
};

// Whatever the device count, a cycle covers it exactly in counts of 1 to 8, and no request asks
// for the count of the one before it, across the end of a cycle too (only 1 or 2 devices a
// cycle cannot avoid it).
TEST_F(ReplyMatcherTest, ConsecutiveRequestsNeverAskTheSameCount) {
  for (int32_t devices = 1; devices <= 40; ++devices) {
    SCOPED_TRACE(devices);
    ReplyMatcher fresh(10s, 50ms);
    std::swap(matcher, fresh);
    int32_t previous = 0;
    for (int cycle = 0; cycle < 3; ++cycle) {
      int32_t sum = 0;
      for (const int32_t count : PlanCycle(devices)) {
        EXPECT_GE(count, 1);
        EXPECT_LE(count, 8);
        if (devices > 2) {
          EXPECT_NE(count, previous);
        }
        previous = count;
        sum += count;
      }
      EXPECT_EQ(sum, devices);
    }
  }
  // Large cycles stay close to eight devices a request.
  ReplyMatcher fresh(10s, 50ms);
  std::swap(matcher, fresh);
  EXPECT_EQ(PlanCycle(100).size(), 14u);
}

// A resend's answer coming after the first one was taken belongs to nobody in flight: it is
// owed, never taken, not even by a later request of the same count.
TEST_F(ReplyMatcherTest, LateAnswersToResendsAreOwedAndNeverTaken) {
  Request(8);
  matcher.Sent(now + 100ms);  // resent
  matcher.Sent(now + 200ms);  // and again
  EXPECT_EQ(matcher.Classify(Answer(8), now + 250ms), Verdict::kTake);
  EXPECT_EQ(matcher.OwedElsewhere(), 2u);
  // The next request avoids the owed count for as long as answers of it may come.
  const int32_t next = matcher.NextCount(50, now);
  EXPECT_NE(next, 8);
  Request(next);
  EXPECT_EQ(matcher.Classify(Answer(8), now + 300ms), Verdict::kOwed);
  EXPECT_EQ(matcher.Classify(Answer(next), now + 300ms), Verdict::kTake);
  EXPECT_EQ(matcher.Classify(Answer(8), now + 300ms), Verdict::kOwed);
  EXPECT_EQ(matcher.OwedElsewhere(), 0u);
  // When every way on needs an owed count, the next request waits for its answer.
  Request(1);
  matcher.Sent(now + 400ms);
  EXPECT_EQ(matcher.Classify(Answer(1), now + 450ms), Verdict::kTake);
  Request(8);
  EXPECT_EQ(matcher.Classify(Answer(8), now + 450ms), Verdict::kTake);
  EXPECT_EQ(matcher.NextCount(1, now + 450ms), 0);
  EXPECT_EQ(matcher.Classify(Answer(1), now + 500ms), Verdict::kOwed);
  EXPECT_EQ(matcher.NextCount(1, now + 500ms), 1);
}

// A copy of the datagram just received is a duplicate; any other well-formed datagram nobody
// asked for is refused and its count avoided for the lifetime; sizes no request has are
// malformed.
TEST_F(ReplyMatcherTest, StraysAreRefusedAndTheirCountAvoided) {
  Request(8);
  const std::string answer = Answer(8);
  EXPECT_EQ(matcher.Classify(answer, now), Verdict::kTake);
  EXPECT_EQ(matcher.Classify(answer, now + 49ms), Verdict::kDuplicate);
  EXPECT_EQ(matcher.Classify(Answer(8), now + 100ms), Verdict::kUnasked);
  EXPECT_EQ(matcher.Classify(Answer(1), now), Verdict::kUnasked);  // "00000" CR LF
  for (const size_t size : {0, 1, 4, 48, 55, 2048}) {
    EXPECT_EQ(matcher.Classify(std::string(size, '7'), now), Verdict::kMalformed) << size;
  }
  // Eight devices after an 8 would end on a 1, the count a stray just had: split otherwise.
  const int32_t first = matcher.NextCount(8, now + 100ms);
  EXPECT_NE(first, 7);
  Request(first);
  matcher.Classify(Answer(first), now);
  EXPECT_NE(matcher.NextCount(8 - first, now), 1);
  // Once the lifetime has passed, the stray's count is clean again.
  EXPECT_EQ(matcher.NextCount(9, now + 11s), 8);
}

// A copy coming right after an answer settles nothing, so the answers still owed to resends
// cannot be mistaken for a later request's; a copy outside the window is not a duplicate.
TEST_F(ReplyMatcherTest, DuplicatesSettleNoOwedAnswer) {
  Request(2);
  matcher.Sent(now + 100ms);
  const std::string answer = Answer(2);
  EXPECT_EQ(matcher.Classify(answer, now + 150ms), Verdict::kTake);
  EXPECT_EQ(matcher.Classify(answer, now + 150ms), Verdict::kDuplicate);
  EXPECT_EQ(matcher.OwedElsewhere(), 1u);
  EXPECT_EQ(matcher.Classify(answer, now + 250ms), Verdict::kOwed);
  EXPECT_EQ(matcher.Classify(answer, now + 350ms), Verdict::kUnasked);
}

// Owed answers are forgotten once they are too old to come: a silent controller's unanswered
// resends never block later requests for longer than the lifetime.
TEST_F(ReplyMatcherTest, OwedAnswersExpireAfterTheLifetime) {
  Request(8);
  for (int i = 1; i <= 50; ++i) matcher.Sent(now + i * 100ms);
  EXPECT_EQ(matcher.Classify(Answer(8), now + 5s), Verdict::kTake);
  EXPECT_EQ(matcher.OwedElsewhere(), 50u);
  Request(7);
  EXPECT_EQ(matcher.Classify(Answer(7), now + 5s), Verdict::kTake);
  EXPECT_EQ(matcher.NextCount(20, now + 16s), 8);
  EXPECT_EQ(matcher.OwedElsewhere(), 0u);
}

// A request given up (its send failed or the cycle ended) keeps its sends owed, and nothing is
// taken while nothing is in flight.
TEST_F(ReplyMatcherTest, AbandonedRequestsStayOwedAndNothingIsTakenWhileIdle) {
  Request(6);
  matcher.Abandon();
  EXPECT_FALSE(matcher.InFlight());
  EXPECT_EQ(matcher.Classify(Answer(6), now), Verdict::kOwed);
  EXPECT_EQ(matcher.Classify(Answer(6), now), Verdict::kUnasked);
  matcher.Begin(5);
  matcher.Abandon();  // never sent: nothing owed
  EXPECT_EQ(matcher.Classify(Answer(5), now), Verdict::kUnasked);
}

}  // namespace
