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

std::string Compose(std::int32_t Code, const std::string& Extra) {
  std::string text = JabberErrorText(Code);
  if (!Extra.empty()) text += "; " + Extra;
  return text;
}

}  // namespace

const char* JabberErrorText(std::int32_t Code) {
  if (Code < jabberErrNotConfirmed || Code > jabberErrRefused) Code = jabberErrUnexpected;
  return kTexts[Code - jabberErrNotConfirmed];
}

EJabberSendError::EJabberSendError(std::int32_t Code, const std::string& Extra)
    : EBaseError(Compose(Code, Extra)), Code(Code) {}
