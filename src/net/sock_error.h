#pragma once
// EVHSyncSockError: the one exception of TSyncSocket. Its code names the step
// that failed; the message is that step's fixed text, followed by ". " and the
// system's description of the error number when there is one.

#include <cstdint>
#include <string>

#include "base/base_error.h"

// The failed step. Time-outs are reported under the code of the step that
// timed out, with error number 0, so sockErrTimeout is never raised.
inline constexpr std::int32_t sockErrWinSock = -7;
inline constexpr std::int32_t sockErrConnect = -6;
inline constexpr std::int32_t sockErrRead = -5;
inline constexpr std::int32_t sockErrSend = -4;
inline constexpr std::int32_t sockErrCreate = -3;
inline constexpr std::int32_t sockErrResolve = -2;
inline constexpr std::int32_t sockErrInit = -1;
inline constexpr std::int32_t sockErrTimeout = 0;

// The fixed text of a code. A code outside the table (never raised) gets the
// text of sockErrWinSock, so that no message is ever empty.
const char* SockErrorText(std::int32_t Code);

// A failed socket step, the system error number behind it (0 after a time-out
// or a closed peer) and the description of that number.
class EVHSyncSockError : public EBaseError {
 public:
  EVHSyncSockError(std::int32_t ACode, std::int32_t AWinSockError, const std::string& ADescription);

  std::int32_t Code;
  std::int32_t WinSockError;
  std::string Description;
};
