#include "xmpp/jabber_send_error.h"

namespace {

// Indexed by the code from jabberErrNotConfirmed to jabberErrRefused.
const char* const kTexts[] = {
    "Message has not been confirmed",
    "Unexpected error occured",
    "Message is invalid or invalid recipient",
    "You are trying to send message to offline client",
    "Invalid recipient or recipient unavailable",
    "Server is temporarily unavailable",
    "Your username or password is incorrect",
    "Server error",
    "Connection refused by server",
};

// Indexed by TJabberReason.
const char* const kReasonTexts[] = {
    "Server offers no digest login",
    "The server has ended the session",
};

std::string Compose(const char* Text, const std::string& Extra) {
  std::string text = Text;
  if (!Extra.empty()) text += "; " + Extra;
  return text;
}

}  // namespace

const char* JabberErrorText(std::int32_t Code) {
  if (Code < jabberErrNotConfirmed || Code > jabberErrRefused) Code = jabberErrUnexpected;
  return kTexts[Code - jabberErrNotConfirmed];
}

const char* JabberReasonText(TJabberReason Reason) { return kReasonTexts[static_cast<int>(Reason)]; }

EJabberSendError::EJabberSendError(std::int32_t ACode, const std::string& Extra)
    : EBaseError(Compose(JabberErrorText(ACode), Extra)), Code(ACode) {}

EJabberSendError::EJabberSendError(std::int32_t ACode, TJabberReason Reason, const std::string& Extra)
    : EBaseError(Compose(JabberReasonText(Reason), Extra)), Code(ACode) {}
