#pragma once
// EVHSyncSockError: the one exception of TSyncSocket. Its code names the step
// that failed; the message is that step's fixed text, followed by ". " and the
// system's description of the error number when there is one.

#include <cstdint>
#include <string>

#include "base/coded_error.h"

// The failed step. Time-outs are reported under the code of the step that
// timed out, with error number 0, so sockErrTimeout is never raised.
enum : std::int32_t {
  sockErrWinSock = -7, sockErrConnect = -6, sockErrRead = -5, sockErrSend = -4,
  sockErrCreate = -3, sockErrResolve = -2, sockErrInit = -1, sockErrTimeout = 0,
};

// A code outside the table (never raised) gets the text of sockErrWinSock,
// so that no message is ever empty.
extern const TErrorFamily kSockErrors;
inline const char* SockErrorText(std::int32_t Code) { return kSockErrors.TextOf(Code); }

// A failed socket step, the system error number behind it (0 after a time-out
// or a closed peer) and the description of that number.
class EVHSyncSockError : public ECodedError {
 public:
  EVHSyncSockError(std::int32_t ACode, std::int32_t AWinSockError, const std::string& ADescription);

  std::int32_t WinSockError;
  std::string Description;
};
