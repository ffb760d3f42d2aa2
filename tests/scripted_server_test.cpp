// Checks that the scripted test server does what its scripts say; every test
// of the sender and of the whole program leans on it.

#include "support/scripted_server.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace std::chrono_literals;
using namespace script;
using loopback::TEnd;

TEST(ScriptedServer, SendsEachChunkAsItsOwnReceiveAndRecordsEverything) {
  TScriptedServer server({WaitFor("hello"), Send("one"), Send("two"), WaitFor("bye"), Close()});
  loopback::Socket client = loopback::Connect(server.Port());
  ASSERT_TRUE(client.Send("hel"));
  ASSERT_TRUE(client.Send("lo"));
  // The client reads only after both chunks were sent: they must still come apart.
  EXPECT_EQ(client.ReceiveOnce(2s), "one");
  EXPECT_EQ(client.ReceiveOnce(2s), "two");
  ASSERT_TRUE(client.Send("bye"));
  std::string rest;
  EXPECT_EQ(client.ReadToEnd(2s, rest), TEnd::Closed);
  EXPECT_EQ(rest, "");
  client.Reset();
  ASSERT_TRUE(server.WaitFinished(0, 2s));
  EXPECT_EQ(server.Received(0), "hellobye");
  EXPECT_EQ(server.Failure(0), "");
}

TEST(ScriptedServer, KeepsRecordingAfterItsOwnCloseUntilThePeerCloses) {
  TScriptedServer server({Close()});
  loopback::Socket client = loopback::Connect(server.Port());
  std::string data;
  EXPECT_EQ(client.ReadToEnd(2s, data), TEnd::Closed);
  ASSERT_TRUE(client.Send("</stream:stream>"));
  EXPECT_FALSE(server.WaitFinished(0, 100ms));
  client.Reset();
  ASSERT_TRUE(server.WaitFinished(0, 2s));
  EXPECT_EQ(server.Received(0), "</stream:stream>");
}

TEST(ScriptedServer, ResetIsSeenAsAResetNotAClose) {
  if (loopback::ReceiveReportsResetAsClose()) GTEST_SKIP() << "this system's receive hides resets";
  TScriptedServer server({WaitBytes(4), Send("x"), Reset()});
  loopback::Socket client = loopback::Connect(server.Port());
  ASSERT_TRUE(client.Send("abcd"));
  std::string data;
  EXPECT_EQ(client.ReadToEnd(2s, data), TEnd::Reset);
}

TEST(ScriptedServer, EachConnectionPlaysItsOwnScriptAndLaterOnesTheLast) {
  TScriptedServer server({{Send("first"), Close()}, {Send("second"), Close()}});
  for (const char* expected : {"first", "second", "second"}) {
    loopback::Socket client = loopback::Connect(server.Port());
    std::string data;
    EXPECT_EQ(client.ReadToEnd(2s, data), TEnd::Closed);
    EXPECT_EQ(data, expected);
  }
  EXPECT_EQ(server.ConnectionCount(), 3u);
}

TEST(ScriptedServer, AWaitThatTimesOutEndsTheScriptAndSaysWhy) {
  TScriptedServer server({WaitFor("never", 100ms), Send("unreachable")});
  loopback::Socket client = loopback::Connect(server.Port());
  std::string data;
  EXPECT_EQ(client.ReadToEnd(2s, data), TEnd::Closed);
  EXPECT_EQ(data, "");
  client.Reset();
  ASSERT_TRUE(server.WaitFinished(0, 2s));
  EXPECT_NE(server.Failure(0).find("never"), std::string::npos);
}

TEST(ScriptedServer, SilentSendsNothingAndEndsWhenThePeerCloses) {
  TScriptedServer server({Silent()});
  loopback::Socket client = loopback::Connect(server.Port());
  ASSERT_TRUE(client.Send("ping"));
  EXPECT_EQ(client.ReceiveOnce(300ms), "");
  EXPECT_FALSE(server.WaitFinished(0, 10ms));
  client.Reset();
  ASSERT_TRUE(server.WaitFinished(0, 2s));
  EXPECT_EQ(server.Received(0), "ping");
}

TEST(ScriptedServer, StopsWithinBoundsWhileConnectionsHangOn) {
  auto started = std::chrono::steady_clock::now();
  {
    TScriptedServer server(std::vector<TScript>{{NeverRead()}, {Silent()}, {Sleep(60s)}});
    loopback::Socket a = loopback::Connect(server.Port());
    loopback::Socket b = loopback::Connect(server.Port());
    loopback::Socket c = loopback::Connect(server.Port());
    ASSERT_TRUE(a.Send(std::string(1000, 'x')));
    EXPECT_EQ(b.ReceiveOnce(50ms), "");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

// The way a harness that can see the peer's socket plays: each chunk goes
// once the harness says the one before was taken, with no pause between.
TEST(ScriptedServer, AHarnessDecidesWhenTheNextChunkGoes) {
  std::atomic<std::uint64_t> taken{0};
  TServerOptions options;
  options.Taken = [&](loopback::Handle, std::uint64_t sent) { return taken >= sent; };
  options.ResetAtEnd = true;
  TScriptedServer server({{Send("one"), Send("two")}}, options);
  loopback::Socket client = loopback::Connect(server.Port());
  EXPECT_EQ(client.ReceiveOnce(2s), "one");
  EXPECT_EQ(client.ReceiveOnce(100ms), "");
  taken = 3;
  EXPECT_EQ(client.ReceiveOnce(2s), "two");
  taken = 6;
  std::string rest;
  EXPECT_EQ(client.ReadToEnd(2s, rest), TEnd::Closed);
  client.Reset();
  ASSERT_TRUE(server.WaitFinished(0, 2s));
  EXPECT_EQ(server.Failure(0), "");
}

TEST(ScriptedServer, RestartedItServesTheNextRunWithItsNewScript) {
  TServerOptions options;
  options.Serial = true;
  TScriptedServer server(std::vector<TScript>{{Send("first"), Close()}}, options);
  for (const char* expected : {"first", "second"}) {
    loopback::Socket client = loopback::Connect(server.Port());
    std::string data;
    EXPECT_EQ(client.ReadToEnd(2s, data), TEnd::Closed);
    EXPECT_EQ(data, expected);
    client.Reset();
    ASSERT_TRUE(server.WaitFinished(0, 2s));
    server.Restart({{Send("second"), Close()}});
  }
  EXPECT_EQ(server.ConnectionCount(), 0u);
}
