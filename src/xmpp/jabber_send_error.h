#pragma once
// EJabberSendError: a failure of the XMPP session itself, as opposed to one
// of the socket. Its code is one of the few classes the server's errors are
// sorted into; the message is the code's fixed text, followed by "; " and
// the offending XML when there is some.

#include <cstdint>
#include <string>

#include "base/coded_error.h"

enum : std::int32_t {
  jabberErrNotConfirmed = -8, jabberErrUnexpected = -7, jabberErrInvalidMessage = -6,
  jabberErrOffline = -5, jabberErrRecipient = -4, jabberErrUnavailable = -3,
  jabberErrAuth = -2, jabberErrServer = -1, jabberErrRefused = 0,
};

// A code outside the table (never passed) gets the text of
// jabberErrUnexpected, so that no message is ever empty.
extern const TErrorFamily kJabberErrors;
inline const char* JabberErrorText(std::int32_t Code) { return kJabberErrors.TextOf(Code); }

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

class EJabberSendError : public ECodedError {
 public:
  EJabberSendError(std::int32_t ACode, const std::string& Extra);
  // The same code, but the reason's text in place of the code's.
  EJabberSendError(std::int32_t ACode, TJabberReason Reason, const std::string& Extra);
};
