// Finding the server through SRV records, as a monitoring host sees it. The
// tests run inside a network namespace of their own (in_dns_namespace,
// ctest's program.DnsNamespace), where each starts the name server with the
// records it needs and the servers the records name, all on loopback.

#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <string>
#include <vector>

#include "support/dns_server.h"
#include "support/loopback.h"
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

constexpr int kWindowsConnectionRefused = 10061;

std::string Refused() { return "Connection error. " + ProgramSystemText(ECONNREFUSED, kWindowsConnectionRefused); }

const std::regex kAlive("ScriptRes:Host is alive:[0-9]+ ms\r\n");

// dnsmasq's line for one SRV record.
std::string Srv(const std::string& name, const std::string& target, std::uint16_t port, int priority = 0,
                int weight = 0) {
  return "srv-host=" + name + "," + target + "," + std::to_string(port) + "," + std::to_string(priority) + "," +
         std::to_string(weight);
}
std::string Host(const std::string& name, const std::string& addresses = "127.0.0.1") {
  return "host-record=" + name + "," + addresses;
}

TProgramRun Probe(const std::string& domain, TArgs more = {}) {
  TArgs arguments = {"-host:" + domain, "-srv:yes", "-timeout:5000"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  return RunTolvane(arguments);
}

}  // namespace

// Over many runs every target of the first priority is the one reached
// sometimes, the second priority's never while they answer; the header
// names the domain, never the target.
TEST(SrvDnsNamespace, PriorityFirstThenWeights) {
  TScriptedServer a(PoliteServer()), b(PoliteServer()), c(PoliteServer());
  TDnsServer dns({Srv("_xmpp-client._tcp.w.test", "a.w.test", a.Port(), 10, 1),
                  Srv("_xmpp-client._tcp.w.test", "b.w.test", b.Port(), 10, 3),
                  Srv("_xmpp-client._tcp.w.test", "c.w.test", c.Port(), 20, 100), Host("a.w.test"),
                  Host("b.w.test"), Host("c.w.test")});
  for (int run = 0; run < 40; ++run) {
    const TProgramRun result = Probe("w.test");
    ASSERT_TRUE(std::regex_match(result.Output, kAlive)) << result.Output;
  }
  EXPECT_GT(a.ConnectionCount(), 0u);
  EXPECT_GT(b.ConnectionCount(), a.ConnectionCount());
  EXPECT_EQ(c.ConnectionCount(), 0u);
  ASSERT_TRUE(b.WaitFinished(0, 5s));
  EXPECT_EQ(b.Received(0), ClientHeader("w.test") + kStreamClose);
}

// Only a failed connect moves on. A silent first target gets only its share
// of the limit, so the live second one is still reached in time.
TEST(SrvDnsNamespace, DeadOrSilentFirstTargetThenLiveSecond) {
  loopback::RefusedPort dead;
  loopback::FullBacklogListener silent;
  ASSERT_TRUE(silent.Full());
  TScriptedServer live(PoliteServer());
  TDnsServer dns({Srv("_xmpp-client._tcp.dead.test", "x.dead.test", dead.Port(), 0),
                  Srv("_xmpp-client._tcp.dead.test", "y.dead.test", live.Port(), 1),
                  Srv("_xmpp-client._tcp.silent.test", "x.silent.test", silent.Port(), 0),
                  Srv("_xmpp-client._tcp.silent.test", "y.silent.test", live.Port(), 1), Host("x.dead.test"),
                  Host("y.dead.test"), Host("x.silent.test"), Host("y.silent.test")});
  EXPECT_TRUE(std::regex_match(Probe("dead.test").Output, kAlive));
  const TProgramRun run = Probe("silent.test", {"-deadline:6000"});
  EXPECT_TRUE(std::regex_match(run.Output, kAlive)) << run.Output;
  EXPECT_LT(run.WallTime, 5000ms);
  EXPECT_EQ(live.ConnectionCount(), 2u);
}

// A target that connects and then fails is the verdict: a broken server is
// not hidden behind a working one.
TEST(SrvDnsNamespace, TargetThatConnectsAndFailsIsTheVerdict) {
  TScriptedServer broken({WaitFor(kHeaderEnd), Send(kServerHeader + kHostUnknown + kStreamClose)});
  TScriptedServer live(PoliteServer());
  TDnsServer dns({Srv("_xmpp-client._tcp.b.test", "x.b.test", broken.Port(), 0),
                  Srv("_xmpp-client._tcp.b.test", "y.b.test", live.Port(), 1), Host("x.b.test"), Host("y.b.test")});
  EXPECT_EQ(Probe("b.test").Output, "ScriptRes:Bad:Invalid recipient or recipient unavailable; " + kHostUnknown + "\r\n");
  EXPECT_EQ(live.ConnectionCount(), 0u);
}

// The outcomes that are no connection: each with its exact line.
TEST(SrvDnsNamespace, RecordsThatEndTheCheck) {
  loopback::RefusedPort dead1, dead2;
  TDnsServer dns({Srv("_xmpp-client._tcp.dead.test", "x.dead.test", dead1.Port(), 0),
                  Srv("_xmpp-client._tcp.dead.test", "y.dead.test", dead2.Port(), 1), Host("x.dead.test"),
                  Host("y.dead.test"), "srv-host=_xmpp-client._tcp.dot.test",
                  // A name server for broken.test that is not there.
                  "server=/broken.test/127.0.0.1#" + std::to_string(dead1.Port())});
  std::vector<std::pair<std::string, std::string>> cases = {
      {"dead.test", "ScriptRes:Bad:" + Refused() + " (tried 2 targets)\r\n"},
      {"broken.test", "ScriptRes:Bad:SRV look-up failed. The name server failed or did not answer\r\n"},
  };
  // Wine's DNS client cannot read an SRV answer without additional records,
  // and a "." record has no address to send along; Windows itself reads it.
  if (!ProgramIsWindowsBuild()) cases.push_back({"dot.test", "ScriptRes:Bad:Service not offered (SRV record \".\")\r\n"});
  for (const auto& [domain, output] : cases) {
    const TProgramRun run = Probe(domain, {"-port:" + std::to_string(dead1.Port())});
    EXPECT_EQ(run.Output, output);
    EXPECT_TRUE(run.ExitedWith(1)) << run.ExitCode;
  }
}

// No record: the domain itself on -port:, named in the header.
TEST(SrvDnsNamespace, NoRecordFallsBackToTheDomain) {
  TScriptedServer server(PoliteServer());
  TDnsServer dns({Host("plain.test")});
  const TProgramRun run = Probe("plain.test", {"-port:" + std::to_string(server.Port())});
  EXPECT_TRUE(std::regex_match(run.Output, kAlive)) << run.Output;
  ASSERT_TRUE(server.WaitFinished(0, 5s));
  EXPECT_EQ(server.Received(0), ClientHeader("plain.test") + kStreamClose);
}

// -ip: picks the target's addresses of one family.
TEST(SrvDnsNamespace, AddressFamilyOfTheTargets) {
  TScriptedServer server(PoliteServer());
  const std::string port = std::to_string(server.Port());
  TDnsServer dns({Srv("_xmpp-client._tcp.ip.test", "both.ip.test", server.Port()),
                  Host("both.ip.test", "127.0.0.1,::1"), Host("v4.ip.test")});
  EXPECT_TRUE(std::regex_match(Probe("ip.test", {"-ip:4"}).Output, kAlive));
  EXPECT_EQ(Probe("ip.test", {"-ip:6"}).Output, "ScriptRes:Bad:" + Refused() + "\r\n");
  EXPECT_EQ(RunTolvane({"-host:v4.ip.test", "-port:" + port, "-ip:6"}).Output,
            "ScriptRes:Bad:Cannot resolve host name to IP address. v4.ip.test has no IPv6 address\r\n");
}

// The records of direct TLS are the _xmpps- ones, and the certificate must
// name the domain, not the target: one Prosody serves a certificate for the
// target's name with STARTTLS and one for the domain on its direct port.
TEST(SrvDnsNamespace, TlsChecksTheDomainNotTheTarget) {
  const TTestCertificates& c = TTestCertificates::Get();
  TProsodyServer server({.Certificate = c.WrongName(), .Key = c.Key(), .StartTls = true, .DirectTls = true,
                         .DirectCertificate = c.Valid()});
  TDnsServer dns({Srv("_xmpp-client._tcp.localhost", "wrong.example", server.Port()),
                  Srv("_xmpps-client._tcp.localhost", "wrong.example", server.DirectTlsPort()),
                  Host("wrong.example")});
  const TProgramRun direct = Probe("localhost", {"-tls:direct", "-cafile:" + c.CaFile()});
  EXPECT_TRUE(std::regex_match(direct.Output, kAlive)) << direct.Output << server.Log();
  EXPECT_EQ(Probe("localhost", {"-tls:starttls", "-cafile:" + c.CaFile()}).Output,
            "ScriptRes:Bad:Certificate does not match localhost\r\n");
}

// -s2s:yes asks for the server records, and the stream is a server's.
TEST(SrvDnsNamespace, ServerToServerRecords) {
  loopback::RefusedPort dead;
  TScriptedServer server({WaitFor("version='1.0'"),
                          Send("<stream:stream xmlns='jabber:server' xmlns:stream='http://etherx.jabber.org/streams' "
                               "xmlns:db='jabber:server:dialback' version='1.0'><stream:features>"
                               "<dialback xmlns='urn:xmpp:features:dialback'/></stream:features>"),
                          WaitFor(kStreamClose), Send(kStreamClose)});
  TDnsServer dns({Srv("_xmpp-server._tcp.s.test", "in.s.test", server.Port()),
                  Srv("_xmpp-client._tcp.s.test", "c.s.test", dead.Port()), Host("in.s.test"), Host("c.s.test")});
  const TProgramRun run = Probe("s.test", {"-s2s:yes"});
  EXPECT_TRUE(std::regex_match(run.Output, kAlive)) << run.Output;
  ASSERT_TRUE(server.WaitFinished(0, 5s));
  EXPECT_NE(server.Received(0).find("xmlns='jabber:server'"), std::string::npos);
}
