// The account change of TSender, seen through a logged-in TJabberSend: only
// a new user name may touch an open session.

#include "xmpp/sender.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/login.h"
#include "support/scripted_server.h"
#include "support/xmpp_replies.h"
#include "xmpp/jabber_send.h"

using namespace std::chrono_literals;
using namespace script;
using namespace xmpp_replies;
using login::LoggedIn;
using login::LoginThen;

// With nothing new, or only a new password, an open session stays as it is
// and the server hears nothing more.
TEST(SetAccount, SameUserLeavesAnOpenSessionAlone) {
  TScriptedServer server(LoginThen({Silent()}));
  auto sender = LoggedIn(server);
  const std::string login = server.Received(0);

  sender->SetAccount("alice", "secret");
  EXPECT_EQ(sender->Password, "secret");
  sender->SetAccount("alice", "changed");
  EXPECT_EQ(sender->Password, "changed");
  EXPECT_TRUE(sender->Connected);

  sender.reset();
  ASSERT_TRUE(server.WaitFinished(0, 5s));
  EXPECT_EQ(server.Received(0), login);
  EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST(SetAccount, NewUserClosesTheSessionAndLogsInAgain) {
  TScriptedServer server(std::vector<TScript>{
      LoginThen({WaitFor(kStreamClose), Send(kStreamClose), Close()}), LoginThen({Silent()})});
  auto sender = LoggedIn(server);
  sender->SetAccount("carol", "other");
  EXPECT_TRUE(sender->Connected);
  EXPECT_EQ(sender->UserName, "carol");
  ASSERT_TRUE(server.WaitFinished(0, 5s));
  EXPECT_EQ(server.Received(0).substr(server.Received(0).size() - kStreamClose.size()), kStreamClose);
  EXPECT_NE(server.Received(1).find("<username>carol</username>"), std::string::npos);
}

TEST(SetAccount, WithoutASessionStoresBothAndConnectsNowhere) {
  TScriptedServer server(LoginThen({Silent()}));
  TJabberSend sender("alice", "secret");
  sender.Server = "127.0.0.1";
  sender.Port = server.Port();
  sender.SetAccount("carol", "other");
  EXPECT_EQ(sender.UserName, "carol");
  EXPECT_EQ(sender.Password, "other");
  EXPECT_FALSE(sender.Connected);
  EXPECT_EQ(server.ConnectionCount(), 0u);
}
