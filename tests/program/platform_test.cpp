// Results whose exact bytes come from the platform the program runs on: the
// system's error texts, and a check started from a raw command line.

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>
#include <regex>
#include <string>

#include "support/loopback.h"
#include "support/program.h"
#include "support/scripted_server.h"

namespace {

using namespace script;

const int kWsaConnectionRefused = 10061;
const int kWsaHostNotFound = 11001;

// A server that answers the stream header and closes its stream when asked.
TScript AnsweringServer() {
  return {WaitFor(">"),
          Send("<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
               "xmlns:stream='http://etherx.jabber.org/streams' id='c0ffee' from='localhost'>"),
          WaitFor("</stream:stream>"), Send("</stream:stream>"), Close()};
}

TEST(PlatformResult, RefusedPortGivesTheSystemsTextForTheRefusal) {
  loopback::RefusedPort refused;
  const TProgramRun run = RunTolvane({"-host:127.0.0.1", "-port:" + std::to_string(refused.Port())});
  const std::string text = ProgramSystemText(ECONNREFUSED, kWsaConnectionRefused);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(run.Output, "ScriptRes:Bad:Connection error. " + text + "\r\n");
  EXPECT_TRUE(run.ExitedWith(1)) << run.ExitCode;
}

// Every form of a host on a port where nothing listens: a name with an IPv4
// and an IPv6 address reports what its IPv4 address gave, since that one is
// tried first.
TEST(PlatformResult, RefusedPortGivesTheRefusalForEveryFormOfTheHost) {
  if (!loopback::HasIpv6Loopback()) GTEST_SKIP() << "no ::1 on this machine";
  loopback::RefusedPort refused6(true);
  loopback::RefusedPort refused(false, refused6.Port());
  const std::string line =
      "ScriptRes:Bad:Connection error. " + ProgramSystemText(ECONNREFUSED, kWsaConnectionRefused) + "\r\n";
  for (const char* host : {"localhost", "::1", "[::1]", "::ffff:127.0.0.1"}) {
    const TProgramRun run = RunTolvane({std::string("-host:") + host, "-port:" + std::to_string(refused.Port())});
    EXPECT_EQ(run.Output, line) << host;
    EXPECT_TRUE(run.ExitedWith(1)) << host << ": " << run.ExitCode;
  }
}

// Brackets hold an IPv6 address or nothing the resolver is asked about.
TEST(PlatformResult, BracketsAroundAnythingButAnIpv6AddressAreAnUnknownName) {
  const std::string text =
      ProgramIsWindowsBuild() ? ProgramSystemText(0, kWsaHostNotFound) : gai_strerror(EAI_NONAME);
  for (const char* host : {"[127.0.0.1]", "[localhost]"}) {
    const TProgramRun run = RunTolvane({std::string("-host:") + host, "-port:5222"});
    EXPECT_EQ(run.Output, "ScriptRes:Bad:Cannot resolve host name to IP address. " + text + "\r\n") << host;
    EXPECT_TRUE(run.ExitedWith(1)) << host << ": " << run.ExitCode;
  }
}

// The way a monitoring host on Windows writes it: quotes in the raw line.
TEST(PlatformResult, QuotedHostInTheRawCommandLineProbesTheServer) {
  if (!ProgramIsWindowsBuild()) GTEST_SKIP() << "this build gets its arguments already split";
  TScriptedServer server(AnsweringServer());
  const TProgramRun run =
      RunTolvaneRawLine("tolvane.exe \"-host:127.0.0.1\" -port:" + std::to_string(server.Port()));
  EXPECT_TRUE(std::regex_match(run.Output, std::regex("ScriptRes:Host is alive:[0-9]+ ms\r\n"))) << run.Output;
  EXPECT_TRUE(run.ExitedWith(0)) << run.ExitCode;
  ASSERT_TRUE(server.WaitFinished(0));
  EXPECT_NE(server.Received(0).find("to='127.0.0.1'"), std::string::npos) << server.Received(0);
}

}  // namespace
