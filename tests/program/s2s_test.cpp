// The server-to-server port (-s2s:yes) as a monitoring host sees it: the
// stream header sent, the verdict on the features, and real servers'
// server ports, with and without TLS.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/ejabberd.h"
#include "support/program.h"
#include "support/prosody.h"
#include "support/scripted_server.h"
#include "support/test_certificates.h"
#include "support/xmpp_replies.h"

using namespace std::chrono_literals;
using namespace script;
using namespace xmpp_replies;

namespace {

using TArgs = std::vector<std::string>;

const std::regex kAlive("ScriptRes:Host is alive:[0-9]+ ms\r\n");
const std::string kNoServerAuth =
    "ScriptRes:Bad:Server offers no server authentication (dialback or SASL EXTERNAL)\r\n";
const std::string kServerStreamHeader =
    "<?xml version='1.0'?><stream:stream xmlns='jabber:server' xmlns:stream='http://etherx.jabber.org/streams' "
    "id='s2s' from='a.example' version='1.0'>";

// The server on loopback, by the domain's name.
TProgramRun Probe(std::uint16_t port, const std::string& domain, TArgs more = {}) {
  TArgs arguments = {"-host:127.0.0.1", "-domain:" + domain, "-port:" + std::to_string(port), "-s2s:yes",
                     "-timeout:10000"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  return RunTolvane(arguments);
}

struct TFeaturesCase {
  const char* Name;
  std::string Features;
  bool Alive;
};

class ServerFeatures : public testing::TestWithParam<TFeaturesCase> {};

TEST_P(ServerFeatures, DecideTheVerdict) {
  TScriptedServer server(
      {WaitFor("version='1.0'"), Send(kServerStreamHeader), Send(GetParam().Features), WaitFor(kStreamClose),
       Send(kStreamClose)});
  const TProgramRun run = Probe(server.Port(), "a.example", {"-from:b.example"});
  if (GetParam().Alive) {
    EXPECT_TRUE(std::regex_match(run.Output, kAlive)) << run.Output;
  } else {
    EXPECT_EQ(run.Output, kNoServerAuth);
  }
  ASSERT_TRUE(server.WaitFinished(0, 5s));
  const std::string header =
      "<?xml version='1.0' encoding='UTF-8'?><stream:stream xmlns='jabber:server' "
      "xmlns:stream='http://etherx.jabber.org/streams' xmlns:db='jabber:server:dialback' version='1.0' "
      "to='a.example' from='b.example'>";
  EXPECT_EQ(server.Received(0).substr(0, header.size()), header);
}

INSTANTIATE_TEST_SUITE_P(
    Offers, ServerFeatures,
    testing::Values(
        TFeaturesCase{"Dialback", "<stream:features><dialback xmlns='urn:xmpp:features:dialback'/></stream:features>",
                      true},
        TFeaturesCase{"SaslExternal",
                      "<stream:features><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
                      "<mechanism>EXTERNAL</mechanism></mechanisms></stream:features>",
                      true},
        TFeaturesCase{"StartTlsAlone",
                      "<stream:features><starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/></stream:features>", false},
        TFeaturesCase{"Nothing", "<stream:features/>", false}),
    [](const testing::TestParamInfo<TFeaturesCase>& info) { return std::string(info.param.Name); });

// Prosody's server port, in the clear and after STARTTLS; a domain it does
// not serve is a stream error, whose condition is the reason.
TEST(ServerToServer, ProsodyServerPort) {
  const TTestCertificates& c = TTestCertificates::Get();
  TProsodyServer server({.Certificate = c.Valid(), .Key = c.Key(), .StartTls = true, .S2s = true});
  const TProgramRun plain = Probe(server.S2sPort(), "localhost");
  EXPECT_TRUE(std::regex_match(plain.Output, kAlive)) << plain.Output << server.Log();
  const TProgramRun tls = Probe(server.S2sPort(), "localhost", {"-tls:starttls", "-cafile:" + c.CaFile()});
  EXPECT_TRUE(std::regex_match(tls.Output, kAlive)) << tls.Output << server.Log();
  EXPECT_EQ(Probe(server.S2sPort(), "nowhere.example").Output,
            "ScriptRes:Bad:Invalid recipient or recipient unavailable; <stream:error><host-unknown "
            "xmlns='urn:ietf:params:xml:ns:xmpp-streams'/><text xmlns='urn:ietf:params:xml:ns:xmpp-streams'>"
            "This host does not serve nowhere.example</text></stream:error>\r\n");
}

TEST(ServerToServer, EjabberdServerPort) {
  TEjabberdServer& server = TEjabberdServer::Shared();
  const TProgramRun run = Probe(server.S2sPort(), "localhost", {"-from:b.example"});
  EXPECT_TRUE(std::regex_match(run.Output, kAlive)) << run.Output << server.Log();
  EXPECT_EQ(Probe(server.S2sPort(), "nowhere.example").Output,
            "ScriptRes:Bad:Invalid recipient or recipient unavailable; " + kHostUnknown + "\r\n");
}

}  // namespace
