// Fuzz target for the classification of the server's error elements: any
// element text must end in exactly one EJabberSendError, with a code of the
// server's error classes, whose message is the code's text with the element
// after "; ", and whose code the sender keeps in ErrorCode. The class comes
// from the element's numeric code when it has one, else from its first
// child's name, and from nothing else: an element made of that alone is
// classed the same.
//
// Input: one byte whose lowest bit says whether the session is established
// (some classes depend on it), then the element text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "text/number.h"
#include "text/xml_text.h"
#include "xmpp/jabber_send.h"
#include "xmpp/jabber_send_error.h"

namespace {

TJabberSend& Sender() {
  static TJabberSend sender("", "");
  return sender;
}

// The code the classification gives `element`, with the properties every
// classification must have.
std::int32_t Classify(const std::string& element, bool connected) {
  TJabberSend& sender = Sender();
  sender.Connected = connected;
  sender.ErrorCode = 1;  // no code the classification can give
  std::int32_t code = 1;
  bool raised = false;
  try {
    sender.RaiseServerError(element);
  } catch (const EJabberSendError& failure) {
    raised = true;
    code = failure.Code;
    FUZZ_CHECK(code >= jabberErrUnexpected && code <= jabberErrServer);
    FUZZ_CHECK(sender.ErrorCode == code);
    // The whole element, zero bytes included, is part of the message.
    const std::string text = JabberErrorText(code);
    FUZZ_CHECK(failure.Message() == (element.empty() ? text : text + "; " + element));
  }
  FUZZ_CHECK(raised);
  FUZZ_CHECK(sender.Connected == connected);
  return code;
}

// Whether `element` has a code attribute that reads as a number.
bool HasNumericCode(const std::string& element, std::int32_t& number) {
  return TryReadNumber(GetAttribute("code", element), number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool connected = (data[0] & 1) != 0;
  const std::string element(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::int32_t code = Classify(element, connected);

  std::int32_t number = 0;
  if (HasNumericCode(element, number)) {
    FUZZ_CHECK(Classify("<error code='" + std::to_string(number) + "'/>", connected) == code);
    return 0;
  }
  // The first child alone, after a start tag that holds nothing, ended by a
  // byte that ends no name.
  const std::string alone = "><" + GetFirstChildName(element) + " x";
  if (!HasNumericCode(alone, number)) FUZZ_CHECK(Classify(alone, connected) == code);
  return 0;
}
