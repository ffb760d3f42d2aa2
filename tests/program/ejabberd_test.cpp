// The whole check against a second real XMPP server: the shared throwaway
// ejabberd, which serves "localhost".

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/ejabberd.h"
#include "support/program.h"

TEST(RealServer, EjabberdServedDomainIsAlive) {
  TEjabberdServer& server = TEjabberdServer::Shared();
  const TProgramRun run = RunTolvane({"-host:localhost", "-port:" + std::to_string(server.Port())});
  EXPECT_TRUE(std::regex_match(run.Output, std::regex("ScriptRes:Host is alive:[0-9]+ ms\r\n"))) << run.Output;
  EXPECT_TRUE(run.ExitedWith(0)) << run.ExitCode << server.Log();
}
