// The whole check against a real XMPP server: a throwaway Prosody that serves
// "localhost" only.

#include <gtest/gtest.h>

#include <regex>
#include <string>

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
