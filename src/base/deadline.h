#pragma once
// What is left of one time-out that several waits share. Time-outs are in
// the program's own terms throughout: 0 waits without limit, below 0 polls
// once, anything else is a limit in milliseconds.

#include <chrono>
#include <cstdint>
#include <string>

#include "base/base_error.h"

class TDeadline {
 public:
  // A limit of TimeoutMs from now; the clock is read only for a limit.
  explicit TDeadline(std::int32_t TimeoutMs);

  // Whether the time-out is a limit at all (above 0).
  bool Limited() const { return FTimeoutMs > 0; }
  // The time-out as it was given.
  std::int32_t TimeoutMs() const { return FTimeoutMs; }
  // A limit that has passed.
  bool Over() const { return Limited() && Next() < 0; }

  // The time-out for the next wait, in the same terms: a time-out of 0 or
  // below as it was given; otherwise the milliseconds left, rounded up so
  // that a wait of that long never ends before the deadline, or -1 (a single
  // poll) once none are left.
  std::int32_t Next() const;

 private:
  using TClock = std::chrono::steady_clock;
  std::int32_t FTimeoutMs;
  TClock::time_point FEnd;
};

// The shorter of two time-outs in the program's terms, 0 being the longest.
std::int32_t ShorterTimeout(std::int32_t A, std::int32_t B);

// A check's one limit has passed while it waited for What ("connecting to
// 192.0.2.7:5222"): "No answer within <ms> ms (<What>)".
class EDeadlinePassed : public EBaseError {
 public:
  EDeadlinePassed(std::int32_t TimeoutMs, const std::string& What);
};
