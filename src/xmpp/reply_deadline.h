#pragma once
// A bound on a whole wait for replies, not just on each chunk: a server that
// keeps sending chunks which settle nothing (messages for someone else, say)
// would otherwise start the time-out anew with every chunk and hold the check
// for ever. The whole check's own limit, when it has one, bounds it too.

#include <cstdint>

#include "base/deadline.h"
#include "net/sock_error.h"

class TReplyDeadline {
 public:
  explicit TReplyDeadline(std::int32_t TimeoutMs) : FDeadline(TimeoutMs), FWhole(nullptr) {}
  TReplyDeadline(std::int32_t TimeoutMs, const TDeadline& Whole) : FDeadline(TimeoutMs), FWhole(&Whole) {}

  // The time-out for the next receive: what is left of the whole. Raises the
  // read time-out itself once nothing is left, as the receive would have.
  // 0 and below keep the socket's own meaning (no limit, immediate poll).
  std::int32_t Next() const {
    const std::int32_t next = FDeadline.Next();
    if ((FDeadline.Limited() && next < 0) || (FWhole != nullptr && FWhole->Over()))
      throw EVHSyncSockError(sockErrRead, 0, "");
    return FWhole != nullptr ? ShorterTimeout(next, FWhole->Next()) : next;
  }

 private:
  TDeadline FDeadline;
  const TDeadline* FWhole;
};
