// The classification of the server's error elements: by numeric code when
// the element has one that reads as a number, else by the condition's name.

#include <gtest/gtest.h>

#include <string>
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
    testing::Values(TCase{"Code409", "<error code='409'/>", -3, -3}, TCase{"Code404", "<error code='404'/>", -2, -4},
                    TCase{"Code401", "<error code='401'/>", -2, -2}, TCase{"Code500", "<error code='500'/>", -1, -1},
                    TCase{"Code503", "<error code='503'/>", -4, -4}, TCase{"Code501", "<error code='501'/>", -6, -6},
                    TCase{"Code999", "<error code='999'/>", -7, -7}, TCase{"CodeMinus401", "<error code='-401'/>", -7, -7},
                    // The code decides over the condition; a code in hexadecimal is a code too.
                    TCase{"CodeBeforeCondition", "<error code='401'><conflict/></error>", -2, -2},
                    TCase{"HexadecimalCode", "<error code='$191'><conflict/></error>", -2, -2},
                    // A code that is no number leaves the decision to the condition.
                    TCase{"CodeThatIsNoNumber", "<error code='abc'><conflict/></error>", -3, -3}),
    NameBy(&TCase::Name));

INSTANTIATE_TEST_SUITE_P(
    Conditions, ClassifyTest,
    testing::Values(TCase{"Forbidden", Condition("forbidden"), -1, -1}, TCase{"HostUnknown", Condition("host-unknown"), -4, -4},
                    TCase{"BadRequest", Condition("bad-request"), -2, -4}, TCase{"SeeOtherHost", Condition("see-other-host"), -3, -3},
                    TCase{"NotAuthorized", Condition("not-authorized"), -2, -2},
                    TCase{"RecipientUnavailable", Condition("recipient-unavailable"), -5, -5},
                    TCase{"FeatureNotImplemented", Condition("feature-not-implemented"), -6, -6},
                    TCase{"UnlistedCondition", Condition("payment-required"), -7, -7},
                    // Containment: a part of an entry belongs to the entry's list,
                    // and the first list that contains the name decides.
                    TCase{"PartOfAnEntry", Condition("not-well-formed"), -6, -6}, TCase{"FirstListThatHoldsIt", Condition("gone"), -4, -4},
                    TCase{"SaslFailure", "<failure xmlns='urn:ietf:params:xml:ns:xmpp-sasl'><not-authorized/></failure>", -2, -2},
                    TCase{"StreamErrorOverLines", "<stream:error>\r\n  <system-shutdown/>\r\n</stream:error>", -3, -3},
                    // Neither a code nor a child: the catch-all.
                    TCase{"NoCodeNoChild", "<error type='cancel'></error>", -7, -7}, TCase{"Empty", "", -7, -7}),
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
       {"connection-timeout", "internal-server-error", "policy-violation", "resource-constraint", "forbidden"}, -1, -1},
      {{408, 502, 503, 504},
       {"item-not-found", "service-unavailable", "remote-server-timeout", "remote-server-not-found", "host-gone",
        "host-unknown"},
       -4, -4},
      {{400, 404, 406, 407}, {"jid-malformed", "invalid-from", "bad-request", "not-acceptable", "not-allowed"}, -2, -4},
      {{302, 409},
       {"conflict", "system-shutdown", "invalid-id", "see-other-host", "redirect", "subscription-required"}, -3, -3},
      {{401}, {"not-authorized"}, -2, -2},
      {{}, {"recipient-unavailable"}, -5, -5},
      {{501},
       {"invalid-namespace", "bad-namespace-prefix", "bad-format", "invalid-xml", "restricted-xml",
        "undefined-condition", "unsupported-encoding", "unsupported-stanza-type", "unsupported-version",
        "xml-not-well-formed", "feature-not-implemented", "unexpected-request"},
       -6, -6},
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
  std::string message;
  Classify(Condition("conflict"), false, &message);
  EXPECT_EQ(message, "Server is temporarily unavailable; " + Condition("conflict"));
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
