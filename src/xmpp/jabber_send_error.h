#pragma once
// EJabberSendError: a failure of the XMPP session itself, as opposed to one
// of the socket. Its code is one of the few classes the server's errors are
// sorted into; the message is the code's fixed text, followed by "; " and
// the offending XML when there is some.

#include <cstdint>
#include <string>

#include "base/base_error.h"

inline constexpr std::int32_t jabberErrNotConfirmed = -8;
inline constexpr std::int32_t jabberErrUnexpected = -7;
inline constexpr std::int32_t jabberErrInvalidMessage = -6;
inline constexpr std::int32_t jabberErrOffline = -5;
inline constexpr std::int32_t jabberErrRecipient = -4;
inline constexpr std::int32_t jabberErrUnavailable = -3;
inline constexpr std::int32_t jabberErrAuth = -2;
inline constexpr std::int32_t jabberErrServer = -1;
inline constexpr std::int32_t jabberErrRefused = 0;

// Reasons of their own, for failures filed under a code whose text alone
// would send the user looking in the wrong place.
enum class TJabberReason {
  NoDigestLogin,  // the server's login fields offer no digest
  SessionEnded,   // a message asked for after the server ended the session
  NoStreamHeader, // the answer over TLS is not an XMPP stream header
  NoServerAuth,   // a server-to-server stream offers no way to authenticate a server
};

// The fixed text of a reason.
const char* JabberReasonText(TJabberReason Reason);

// The fixed text of a code. A code outside the table (never passed) gets the
// text of jabberErrUnexpected, so that no message is ever empty.
const char* JabberErrorText(std::int32_t Code);

class EJabberSendError : public EBaseError {
 public:
  EJabberSendError(std::int32_t ACode, const std::string& Extra);
  // The same code, but the reason's text in place of the code's.
  EJabberSendError(std::int32_t ACode, TJabberReason Reason, const std::string& Extra);

  std::int32_t Code;
};
