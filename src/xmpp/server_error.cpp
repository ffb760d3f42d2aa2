// The classification of the server's error elements into the codes of
// EJabberSendError, by the legacy numeric code or by the condition's name.

#include <cstdint>
#include <string>

#include "text/number.h"
#include "text/xml_text.h"
#include "xmpp/jabber_send.h"
#include "xmpp/jabber_send_error.h"

namespace {

constexpr const char* kCodeName = "code";

// A condition belongs to the first list whose text contains its name, so a
// name that is only part of an entry counts too ("not-well-formed" is found
// in "xml-not-well-formed"). The order decides where a name falls that more
// than one list contains. kBeforeSession marks the request errors whose code
// depends on whether the session is established yet.
constexpr std::int32_t kBeforeSession = 1;

struct TConditionList {
  const char* Names;
  std::int32_t Code;
};

const TConditionList kConditionLists[] = {
    {"connection-timeout,internal-server-error,policy-violation,resource-constraint,forbidden",
     jabberErrServer},
    {"item-not-found,service-unavailable,remote-server-timeout,remote-server-not-found,host-gone,host-unknown",
     jabberErrRecipient},
    {"jid-malformed,invalid-from,bad-request,not-acceptable,not-allowed", kBeforeSession},
    {"conflict,system-shutdown,invalid-id,see-other-host,redirect,subscription-required", jabberErrUnavailable},
    {"not-authorized", jabberErrAuth},
    {"recipient-unavailable,gone", jabberErrOffline},
    {"invalid-namespace,bad-namespace-prefix,bad-format,invalid-xml,restricted-xml,undefined-condition,"
     "unsupported-encoding",
     jabberErrInvalidMessage},
    {"unsupported-stanza-type,unsupported-version,xml-not-well-formed,feature-not-implemented,"
     "unexpected-request,undefined-condition",
     jabberErrInvalidMessage},
};

}  // namespace

void TJabberSend::RaiseSendError(std::int32_t Code, const std::string& Extra) {
  SetErrorCode(Code);
  throw EJabberSendError(Code, Extra);
}

void TJabberSend::RaiseSendError(std::int32_t Code, TJabberReason Reason, const std::string& Extra) {
  SetErrorCode(Code);
  throw EJabberSendError(Code, Reason, Extra);
}

void TJabberSend::RaiseServerError(const std::string& ErrorElement) {
  std::int32_t code = 0;
  if (TryReadNumber(GetAttribute(kCodeName, ErrorElement), code)) RaiseByCode(code, ErrorElement);
  RaiseByCondition(ErrorElement);
}

void TJabberSend::RaiseByCode(std::int32_t Code, const std::string& ErrorElement) {
  std::int32_t result;
  switch (Code) {
    case 302:
    case 409:
      result = jabberErrUnavailable;
      break;
    case 400:
    case 404:
    case 406:
    case 407:
      result = Connected ? jabberErrRecipient : jabberErrAuth;
      break;
    case 401:
      result = jabberErrAuth;
      break;
    case 403:
    case 405:
    case 500:
      result = jabberErrServer;
      break;
    case 408:
    case 502:
    case 503:
    case 504:
      result = jabberErrRecipient;
      break;
    case 501:
      result = jabberErrInvalidMessage;
      break;
    default:
      result = jabberErrUnexpected;
  }
  RaiseSendError(result, ErrorElement);
}

void TJabberSend::RaiseByCondition(const std::string& ErrorElement) {
  const std::string condition = GetFirstChildName(ErrorElement);
  std::int32_t result = jabberErrUnexpected;
  if (!condition.empty()) {
    for (const TConditionList& list : kConditionLists) {
      if (std::string(list.Names).find(condition) == std::string::npos) continue;
      result = list.Code;
      if (result == kBeforeSession) result = Connected ? jabberErrRecipient : jabberErrAuth;
      break;
    }
  }
  RaiseSendError(result, ErrorElement);
}
