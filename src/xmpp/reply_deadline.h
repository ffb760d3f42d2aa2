#pragma once
// A bound on a whole wait for replies, not just on each chunk: a server that
// keeps sending chunks which settle nothing (messages for someone else, say)
// would otherwise start the time-out anew with every chunk and hold the check
// for ever.

#include <chrono>
#include <cstdint>

#include "net/sock_error.h"

class TReplyDeadline {
 public:
  explicit TReplyDeadline(std::int32_t TimeoutMs)
      : FTimeoutMs(TimeoutMs), FStart(std::chrono::steady_clock::now()) {}

  // The time-out for the next receive: what is left of the whole. Raises the
  // read time-out itself once nothing is left, as the receive would have.
  // 0 and below keep the socket's own meaning (no limit, immediate poll).
  std::int32_t Next() const {
    if (FTimeoutMs <= 0) return FTimeoutMs;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - FStart)
                             .count();
    if (elapsed >= FTimeoutMs) throw EVHSyncSockError(sockErrRead, 0, "");
    return static_cast<std::int32_t>(FTimeoutMs - elapsed);
  }

 private:
  std::int32_t FTimeoutMs;
  std::chrono::steady_clock::time_point FStart;
};
