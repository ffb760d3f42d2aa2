// The classification of the server's error elements: by numeric code when
// the element has one that reads as a number, else by the condition's name.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/case_name.h"
#include "xmpp/jabber_send.h"
#include "xmpp/jabber_send_error.h"

namespace {

struct TCase {
  const char* Name;
  std::string Element;
  int32_t BeforeSession;  // code while the session is being opened
  int32_t InSession;      // code once it is established
};

class ClassifyTest : public testing::TestWithParam<TCase> {};

int32_t Classify(const std::string& element, bool connected, std::string* message = nullptr) {
  TJabberSend sender("", "");
  sender.Connected = connected;
  try {
    sender.RaiseServerError(element);
  } catch (const EJabberSendError& failure) {
    EXPECT_EQ(sender.ErrorCode, failure.Code);
    if (message) *message = failure.what();
    return failure.Code;
  }
  ADD_FAILURE() << "nothing raised";
  return 1;
}

std::string Condition(const std::string& name) {
  return "<error type='cancel'><" + name + " xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error>";
}

}  // namespace

TEST_P(ClassifyTest, GivesTheCode) {
  EXPECT_EQ(Classify(GetParam().Element, false), GetParam().BeforeSession) << GetParam().Element;
  EXPECT_EQ(Classify(GetParam().Element, true), GetParam().InSession) << GetParam().Element;
}

// One element for each resulting code, the ones that depend on the session,
// and the edges of reading the code value.
INSTANTIATE_TEST_SUITE_P(
    NumericCodes, ClassifyTest,
    testing::Values(
        TCase{"Code409", "<error code='409'/>", jabberErrUnavailable, jabberErrUnavailable},
        TCase{"Code404", "<error code='404'/>", jabberErrAuth, jabberErrRecipient},
        TCase{"Code401", "<error code='401'/>", jabberErrAuth, jabberErrAuth},
        TCase{"Code500", "<error code='500'/>", jabberErrServer, jabberErrServer},
        TCase{"Code503", "<error code='503'/>", jabberErrRecipient, jabberErrRecipient},
        TCase{"Code501", "<error code='501'/>", jabberErrInvalidMessage, jabberErrInvalidMessage},
        TCase{"Code999", "<error code='999'/>", jabberErrUnexpected, jabberErrUnexpected},
        TCase{"CodeMinus401", "<error code='-401'/>", jabberErrUnexpected, jabberErrUnexpected},
        // The code decides over the condition; a code in hexadecimal is a code too.
        TCase{"CodeBeforeCondition", "<error code='401'><conflict/></error>", jabberErrAuth, jabberErrAuth},
        TCase{"HexadecimalCode", "<error code='$191'><conflict/></error>", jabberErrAuth, jabberErrAuth},
        // A code that is no number leaves the decision to the condition.
        TCase{"CodeThatIsNoNumber", "<error code='abc'><conflict/></error>", jabberErrUnavailable,
              jabberErrUnavailable}),
    NameBy(&TCase::Name));

INSTANTIATE_TEST_SUITE_P(
    Conditions, ClassifyTest,
    testing::Values(
        TCase{"Forbidden", Condition("forbidden"), jabberErrServer, jabberErrServer},
        TCase{"HostUnknown", Condition("host-unknown"), jabberErrRecipient, jabberErrRecipient},
        TCase{"BadRequest", Condition("bad-request"), jabberErrAuth, jabberErrRecipient},
        TCase{"SeeOtherHost", Condition("see-other-host"), jabberErrUnavailable, jabberErrUnavailable},
        TCase{"NotAuthorized", Condition("not-authorized"), jabberErrAuth, jabberErrAuth},
        TCase{"RecipientUnavailable", Condition("recipient-unavailable"), jabberErrOffline, jabberErrOffline},
        TCase{"FeatureNotImplemented", Condition("feature-not-implemented"), jabberErrInvalidMessage,
              jabberErrInvalidMessage},
        TCase{"UnlistedCondition", Condition("payment-required"), jabberErrUnexpected, jabberErrUnexpected},
        // Containment: a part of an entry belongs to the entry's list,
        // and the first list that contains the name decides.
        TCase{"PartOfAnEntry", Condition("not-well-formed"), jabberErrInvalidMessage, jabberErrInvalidMessage},
        TCase{"FirstListThatHoldsIt", Condition("gone"), jabberErrRecipient, jabberErrRecipient},
        TCase{"SaslFailure", "<failure xmlns='urn:ietf:params:xml:ns:xmpp-sasl'><not-authorized/></failure>",
              jabberErrAuth, jabberErrAuth},
        TCase{"StreamErrorOverLines", "<stream:error>\r\n  <system-shutdown/>\r\n</stream:error>",
              jabberErrUnavailable, jabberErrUnavailable},
        // Neither a code nor a child: the catch-all.
        TCase{"NoCodeNoChild", "<error type='cancel'></error>", jabberErrUnexpected, jabberErrUnexpected},
        TCase{"Empty", "", jabberErrUnexpected, jabberErrUnexpected}),
    NameBy(&TCase::Name));

// Every numeric code and condition name the classification knows, by the
// class it gives before and once in the session.
TEST(Classify, EveryKnownCodeAndCondition) {
  const struct {
    std::vector<int> Codes;
    std::vector<std::string> Conditions;
    int32_t BeforeSession;
    int32_t InSession;
  } classes[] = {
      {{403, 405, 500},
       {"connection-timeout", "internal-server-error", "policy-violation", "resource-constraint", "forbidden"},
       jabberErrServer, jabberErrServer},
      {{408, 502, 503, 504},
       {"item-not-found", "service-unavailable", "remote-server-timeout", "remote-server-not-found", "host-gone",
        "host-unknown"},
       jabberErrRecipient, jabberErrRecipient},
      {{400, 404, 406, 407},
       {"jid-malformed", "invalid-from", "bad-request", "not-acceptable", "not-allowed"},
       jabberErrAuth, jabberErrRecipient},
      {{302, 409},
       {"conflict", "system-shutdown", "invalid-id", "see-other-host", "redirect", "subscription-required"},
       jabberErrUnavailable, jabberErrUnavailable},
      {{401}, {"not-authorized"}, jabberErrAuth, jabberErrAuth},
      {{}, {"recipient-unavailable"}, jabberErrOffline, jabberErrOffline},
      {{501},
       {"invalid-namespace", "bad-namespace-prefix", "bad-format", "invalid-xml", "restricted-xml",
        "undefined-condition", "unsupported-encoding", "unsupported-stanza-type", "unsupported-version",
        "xml-not-well-formed", "feature-not-implemented", "unexpected-request"},
       jabberErrInvalidMessage, jabberErrInvalidMessage},
  };
  for (const auto& c : classes) {
    std::vector<std::string> elements;
    for (int code : c.Codes) elements.push_back("<error code='" + std::to_string(code) + "'/>");
    for (const std::string& name : c.Conditions) elements.push_back(Condition(name));
    for (const std::string& element : elements) {
      EXPECT_EQ(Classify(element, false), c.BeforeSession) << element;
      EXPECT_EQ(Classify(element, true), c.InSession) << element;
    }
  }
}

TEST(Classify, MessageIsTheCodesTextThenTheElement) {
  const std::pair<std::string, std::string> cases[] = {
      {Condition("conflict"), "Server is temporarily unavailable; "},
      {Condition("bad-format"), "Message is invalid or invalid recipient; "},
  };
  for (const auto& [element, text] : cases) {
    std::string message;
    Classify(element, false, &message);
    EXPECT_EQ(message, text + element);
  }
}

TEST(RaiseSendError, WithoutExtraTheMessageIsTheTextAlone) {
  TJabberSend sender("", "");
  try {
    sender.RaiseSendError(jabberErrServer, "");
  } catch (const EJabberSendError& failure) {
    EXPECT_STREQ(failure.what(), "Server error");
    EXPECT_EQ(sender.ErrorCode, jabberErrServer);
  }
}
