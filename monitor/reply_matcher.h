#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

// Tells the answer to the request in flight from every other datagram of the controller, using
// only what an answer carries: its size (6n + 1 bytes for n values), its bytes and when it
// comes.
//
// - Consecutive requests never ask for the same count, also across the end of a cycle, so an
//   answer to the previous request (a late one, or a second copy) never fits the next.
// - Every send is remembered until an answer of its count came for it or it is older than the
//   answer lifetime. A request is never begun for a count that answers are still owed to: its
//   planner splits the devices otherwise, and when no split avoids it NextCount says to wait.
//   So while a request is in flight, every answer of its size is its own.
// - A copy of the datagram just received, coming within the duplicate window, is a duplicate:
//   it settles nothing, so it cannot stand in for an answer still owed.
// - A count that an answer nobody asked for had within the lifetime is avoided when another
//   split costs little, so strays seldom meet a request of their size.
//
// What this handles provably: any loss; any delay shorter than the lifetime; any reordering;
// duplicates that come within the window after their original. An answer later than the
// lifetime, or a late second copy, can still be taken for a request of its size.
class ReplyMatcher {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int32_t kMaxCount = 8;

  enum class Verdict {
    kTake,       // the answer to the request in flight
    kOwed,       // an answer owed to another send, or to the request in flight's earlier sends
                 // after one was taken
    kUnasked,    // the size of an answer, but no send of that count is owed one
    kDuplicate,  // a copy of the datagram just before it
    kMalformed,  // not the size of any answer: not 6n + 1 bytes with n from 1 to 8
  };

  // answerLifetime: how long after its send an answer can still arrive; duplicateWindow: how
  // soon after its original a duplicate comes.
  ReplyMatcher(Clock::duration answerLifetime, Clock::duration duplicateWindow);
  void SetTimes(Clock::duration answerLifetime, Clock::duration duplicateWindow);

  // The count for the next request when `remaining` (at least 1) devices are still to be read
  // in this cycle; 0 while every way on needs a count that answers are still owed to.
  int32_t NextCount(int32_t remaining, Clock::time_point now);
  // A request for `count` devices is now the one in flight (not yet sent).
  void Begin(int32_t count);
  // The request in flight was sent, the first time or again.
  void Sent(Clock::time_point now);
  // Nothing is in flight any more (the cycle was given up); its sends stay owed.
  void Abandon();

  // Judges a datagram of the controller. kTake ends the request in flight.
  Verdict Classify(std::string_view datagram, Clock::time_point now);

  bool InFlight() const { return inFlight_; }
  // Answers still owed to sends other than the request in flight's, of every count.
  std::size_t OwedElsewhere() const;

 private:
  using Sends = std::deque<Clock::time_point>;

  void Expire(Clock::time_point now);
  int32_t Choose(int32_t remaining, int32_t previous, Clock::time_point now) const;

  Clock::duration lifetime_;
  Clock::duration duplicateWindow_;
  std::string lastDatagram_;
  Clock::time_point lastArrival_{};
  std::array<Sends, kMaxCount + 1> owed_;                      // by count, oldest first
  std::array<Clock::time_point, kMaxCount + 1> strayUntil_{};  // by count
  Sends current_;                                              // the sends of the request in flight
  int32_t currentCount_ = 0;
  int32_t lastCount_ = 0;  // the count of the last request begun; 0 before the first
  bool inFlight_ = false;
};
