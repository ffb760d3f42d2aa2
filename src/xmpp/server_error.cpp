// The classification of the server's error elements into the codes of
// EJabberSendError, by the legacy numeric code or by the condition's name.

#include "xmpp/server_error.h"

#include "text/xml_text.h"
#include "xmpp/jabber_send_error.h"

namespace {

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

std::int32_t ClassifyByCode(std::int32_t Code, bool Established) {
  switch (Code) {
    case 302:
    case 409:
      return jabberErrUnavailable;
    case 400:
    case 404:
    case 406:
    case 407:
      return Established ? jabberErrRecipient : jabberErrAuth;
    case 401:
      return jabberErrAuth;
    case 403:
    case 405:
    case 500:
      return jabberErrServer;
    case 408:
    case 502:
    case 503:
    case 504:
      return jabberErrRecipient;
    case 501:
      return jabberErrInvalidMessage;
    default:
      return jabberErrUnexpected;
  }
}

std::int32_t ClassifyByCondition(const std::string& ErrorElement, bool Established) {
  const std::string condition = GetFirstChildName(ErrorElement);
  if (condition.empty()) return jabberErrUnexpected;
  for (const TConditionList& list : kConditionLists) {
    if (std::string(list.Names).find(condition) == std::string::npos) continue;
    if (list.Code == kBeforeSession) return Established ? jabberErrRecipient : jabberErrAuth;
    return list.Code;
  }
  return jabberErrUnexpected;
}
