// Fuzz target for the classification of the server's error elements: any
// element text must end in exactly one EJabberSendError whose code is the
// one the tables give, whose message is the code's text with the element
// after "; ", and whose code the sender keeps in ErrorCode.
//
// Input: one byte whose lowest bit says whether the session is established
// (some codes depend on it), then the element text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "text/number.h"
#include "text/xml_text.h"
#include "xmpp/jabber_send.h"
#include "xmpp/jabber_send_error.h"

namespace {

// The numeric codes, transcribed from the table on their own.
std::int32_t ModelByCode(std::int32_t code, bool connected) {
  switch (code) {
    case 302: case 409: return -3;
    case 400: case 404: case 406: case 407: return connected ? -4 : -2;
    case 401: return -2;
    case 403: case 405: case 500: return -1;
    case 408: case 502: case 503: case 504: return -4;
    case 501: return -6;
    default: return -7;
  }
}

// The condition lists, tried in order; a list holds a name when its text
// contains it.
std::int32_t ModelByCondition(const std::string& condition, bool connected) {
  if (condition.empty()) return -7;
  static const struct {
    const char* text;
    int code;  // 0: -4 once connected, -2 before
  } kLists[] = {
      {"connection-timeout,internal-server-error,policy-violation,resource-constraint,forbidden", -1},
      {"item-not-found,service-unavailable,remote-server-timeout,remote-server-not-found,host-gone,host-unknown", -4},
      {"jid-malformed,invalid-from,bad-request,not-acceptable,not-allowed", 0},
      {"conflict,system-shutdown,invalid-id,see-other-host,redirect,subscription-required", -3},
      {"not-authorized", -2},
      {"recipient-unavailable,gone", -5},
      {"invalid-namespace,bad-namespace-prefix,bad-format,invalid-xml,restricted-xml,undefined-condition,unsupported-encoding", -6},
      {"unsupported-stanza-type,unsupported-version,xml-not-well-formed,feature-not-implemented,unexpected-request,undefined-condition", -6},
  };
  for (const auto& list : kLists) {
    if (std::string(list.text).find(condition) == std::string::npos) continue;
    return list.code != 0 ? list.code : (connected ? -4 : -2);
  }
  return -7;
}

TJabberSend& Sender() {
  static TJabberSend sender("", "");
  return sender;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool connected = (data[0] & 1) != 0;
  const std::string element(reinterpret_cast<const char*>(data) + 1, size - 1);

  TJabberSend& sender = Sender();
  sender.Connected = connected;
  sender.ErrorCode = 1;  // no code the classification can give
  std::int32_t want;
  std::int32_t number = 0;
  if (TryReadNumber(GetAttribute("code", element), number)) {
    want = ModelByCode(number, connected);
  } else {
    want = ModelByCondition(GetFirstChildName(element), connected);
  }

  bool raised = false;
  try {
    sender.RaiseServerError(element);
  } catch (const EJabberSendError& failure) {
    raised = true;
    FUZZ_CHECK(failure.Code == want);
    FUZZ_CHECK(sender.ErrorCode == want);
    // The whole element, zero bytes included, is part of the message.
    const std::string text = JabberErrorText(want);
    const std::string message = element.empty() ? text : text + "; " + element;
    FUZZ_CHECK(failure.Message() == message);
  }
  FUZZ_CHECK(raised);
  FUZZ_CHECK(sender.Connected == connected);
  return 0;
}
