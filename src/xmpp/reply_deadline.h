#pragma once
// A bound on a whole wait for replies, not just on each chunk: a server that
// keeps sending chunks which settle nothing (messages for someone else, say)
// would otherwise start the time-out anew with every chunk and hold the check
// for ever.

#include <cstdint>

#include "base/deadline.h"
#include "net/sock_error.h"

class TReplyDeadline {
 public:
  explicit TReplyDeadline(std::int32_t TimeoutMs) : FDeadline(TimeoutMs) {}

  // The time-out for the next receive: what is left of the whole. Raises the
  // read time-out itself once nothing is left, as the receive would have.
  // 0 and below keep the socket's own meaning (no limit, immediate poll).
  std::int32_t Next() const {
    const std::int32_t next = FDeadline.Next();
    if (FDeadline.Limited() && next < 0) throw EVHSyncSockError(sockErrRead, 0, "");
    return next;
  }

 private:
  TDeadline FDeadline;
};
