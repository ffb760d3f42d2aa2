// The texts of the session's error classes and of its own reasons.

#include "xmpp/jabber_send_error.h"

#include <iterator>

namespace {

const TCodeText kTexts[] = {
    {jabberErrNotConfirmed, "Message has not been confirmed"},
    {jabberErrUnexpected, "Unexpected error occured"},
    {jabberErrInvalidMessage, "Message is invalid or invalid recipient"},
    {jabberErrOffline, "You are trying to send message to offline client"},
    {jabberErrRecipient, "Invalid recipient or recipient unavailable"},
    {jabberErrUnavailable, "Server is temporarily unavailable"},
    {jabberErrAuth, "Your username or password is incorrect"},
    {jabberErrServer, "Server error"},
    {jabberErrRefused, "Connection refused by server"},
};

}  // namespace

constinit const TErrorFamily kJabberErrors{kTexts, jabberErrUnexpected, "; {}"};

namespace {

// Indexed by TJabberReason.
const char* const kReasonTexts[] = {
    "Server offers no digest login",
    "The server has ended the session",
    "Server did not answer with an XMPP stream header",
    "Server offers no server authentication (dialback or SASL EXTERNAL)",
};
static_assert(std::size(kReasonTexts) == static_cast<std::size_t>(TJabberReason::NoServerAuth) + 1);

}  // namespace

const char* JabberReasonText(TJabberReason Reason) { return kReasonTexts[static_cast<int>(Reason)]; }

EJabberSendError::EJabberSendError(std::int32_t ACode, const std::string& Extra)
    : ECodedError(kJabberErrors, ACode, {}, Extra) {}

EJabberSendError::EJabberSendError(std::int32_t ACode, TJabberReason Reason, const std::string& Extra)
    : ECodedError(kJabberErrors, ACode, JabberReasonText(Reason), {}, Extra) {}
