// The whole check against a real XMPP server: a throwaway Prosody that serves
// "localhost" (and, listening on ::1 too, "::1").

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/loopback.h"
#include "support/program.h"
#include "support/prosody.h"

TEST(RealServer, ServedDomainIsAlive) {
  TProsodyServer server;
  const TProgramRun run = RunTolvane({"-host:localhost", "-port:" + std::to_string(server.Port())});
  EXPECT_TRUE(std::regex_match(run.Output, std::regex("ScriptRes:Host is alive:[0-9]+ ms\r\n"))) << run.Output;
  EXPECT_TRUE(run.ExitedWith(0)) << run.ExitCode << server.Log();
}

TEST(RealServer, UnservedDomainIsAnInvalidRecipient) {
  TProsodyServer server;
  const TProgramRun run = RunTolvane({"-host:127.0.0.1", "-port:" + std::to_string(server.Port())});
  const std::string prefix = "ScriptRes:Bad:Invalid recipient or recipient unavailable; <stream:error>";
  const std::string suffix = "</stream:error>\r\n";
  EXPECT_EQ(run.Output.substr(0, prefix.size()), prefix) << run.Output;
  ASSERT_GE(run.Output.size(), suffix.size());
  EXPECT_EQ(run.Output.substr(run.Output.size() - suffix.size()), suffix) << run.Output;
  EXPECT_NE(run.Output.find("host-unknown"), std::string::npos) << run.Output;
  EXPECT_TRUE(run.ExitedWith(1)) << run.ExitCode;
}

namespace {

bool IsAlive(const TProgramRun& run) {
  return std::regex_match(run.Output, std::regex("ScriptRes:Host is alive:[0-9]+ ms\r\n")) && run.ExitedWith(0);
}

}  // namespace

// Probed by its address, the server is asked for the domain it serves.
TEST(RealServer, AddressWithTheServedDomainIsAlive) {
  TProsodyServer server;
  const TProgramRun run =
      RunTolvane({"-domain:localhost", "-host:127.0.0.1", "-port:" + std::to_string(server.Port())});
  EXPECT_TRUE(IsAlive(run)) << run.Output << run.ExitCode;
}

// The same Prosody on 127.0.0.1 and ::1. The stream header names the host as
// it was written, brackets and all, unless -domain: names another.
TEST(RealServer, Ipv6AddressesAreProbedOverIpv6) {
  if (!loopback::HasIpv6Loopback()) GTEST_SKIP() << "no ::1 on this machine";
  TProsodyServer server(TProsodyOptions{.Ipv6 = true});
  const std::string port = "-port:" + std::to_string(server.Port());
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"-host:::1", port}, {"-host:[::1]", "-domain:localhost", port}}) {
    const TProgramRun run = RunTolvane(arguments);
    EXPECT_TRUE(IsAlive(run)) << arguments[0] << ": " << run.Output << run.ExitCode;
  }
  const TProgramRun bracketed = RunTolvane({"-host:[::1]", port});
  EXPECT_NE(bracketed.Output.find("This server does not serve [::1]"), std::string::npos) << bracketed.Output;
  EXPECT_TRUE(bracketed.ExitedWith(1)) << bracketed.ExitCode;
}
