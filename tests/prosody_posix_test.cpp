// The throwaway Prosody behind the real-server tests: it must come up, serve
// "localhost" to clients, listen nowhere else (parallel runs and other
// servers on the machine must not clash), and be gone again afterwards.

#include "support/prosody.h"

#include <gtest/gtest.h>

#include "support/loopback.h"
#include "support/xmpp_replies.h"

TEST(Prosody, AnswersAClientStreamHeaderWithItsOwn) {
  TProsodyServer server;
  const std::string answer = xmpp_replies::StreamAnswer(server.Port());
  EXPECT_NE(answer.find("<stream:stream"), std::string::npos) << answer << server.Log();
  EXPECT_NE(answer.find("jabber:client"), std::string::npos) << answer << server.Log();
}

TEST(Prosody, ListensOnlyForClientsOnLoopbackAndStopsCleanly) {
  uint16_t port;
  {
    TProsodyServer server;
    port = server.Port();
    std::vector<std::string> expected{listeners::Loopback(port)};
    EXPECT_EQ(listeners::Of(server.Pid()), expected) << server.Log();
  }
  EXPECT_THROW(loopback::Connect(port), std::runtime_error);
}
