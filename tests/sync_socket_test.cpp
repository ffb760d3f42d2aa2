#include "net/sync_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/system_error.h"
#include "support/loopback.h"
#include "support/sync_socket_fixture.h"

namespace {

using namespace std::chrono_literals;
using syncsocket::Clock;
using syncsocket::Connection;
using syncsocket::MillisecondsSince;
using syncsocket::Raised;

const char* const kInvalidHost = loopback::kUnresolvableHost;

TEST(SyncSocket, StartsIdle) {
  for (bool start : {true, false}) {
    TSyncSocket s(1, start);
    EXPECT_FALSE(s.Connected());
    EXPECT_FALSE(s.IsConnected());
    EXPECT_EQ(s.Socket(), netplatform::kInvalidSocket);
    s.Close();
    s.Close();
    EXPECT_EQ(s.Socket(), netplatform::kInvalidSocket);
  }
}

TEST(SyncSocket, ConnectsByDottedAddressAndByName) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    loopback::Listener listener;
    TSyncSocket s(1, true);
    s.Connect(host, listener.Port(), 0);
    loopback::Socket peer = listener.Accept();
    EXPECT_TRUE(peer.Valid());
    EXPECT_TRUE(s.Connected());
    EXPECT_TRUE(s.IsConnected());
  }
}

TEST(SyncSocket, RefusedConnectReportsTheRefusal) {
  loopback::RefusedPort refused;
  for (std::int32_t timeout : {0, 2000}) {
    SCOPED_TRACE(timeout);
    TSyncSocket s(1, true);
    auto start = Clock::now();
    auto e = Raised([&] { s.Connect("127.0.0.1", refused.Port(), timeout); });
    EXPECT_LT(MillisecondsSince(start), 1500);
    EXPECT_EQ(e.Code, sockErrConnect);
    EXPECT_EQ(e.WinSockError, loopback::kConnectionRefused);
    EXPECT_EQ(std::string(e.what()), "Connection error. " + SystemErrorText(loopback::kConnectionRefused));
    EXPECT_FALSE(s.Connected());
    EXPECT_NE(s.Socket(), netplatform::kInvalidSocket);
  }
}

TEST(SyncSocket, TimedConnectThatGetsNoAnswerTimesOut) {
  loopback::FullBacklogListener silent;
  if (!silent.Full()) GTEST_SKIP() << "could not fill the listener's accept queue";
  TSyncSocket s(1, true);
  auto start = Clock::now();
  auto e = Raised([&] { s.Connect("127.0.0.1", silent.Port(), 300); });
  auto elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 250);
  EXPECT_LT(elapsed, 3000);
  EXPECT_EQ(e.Code, sockErrConnect);
  EXPECT_EQ(e.WinSockError, 0);
  EXPECT_STREQ(e.what(), "Connection error");
  EXPECT_FALSE(s.Connected());

  loopback::Listener listener;
  s.Connect("127.0.0.1", listener.Port(), 0);
  EXPECT_TRUE(s.Connected());
}

TEST(SyncSocket, TimedConnectReturnsToBlockingMode) {
  loopback::Listener listener;
  TSyncSocket s(1, true);
  s.Connect("127.0.0.1", listener.Port(), 2000);
  EXPECT_TRUE(s.Connected());
  loopback::Socket peer = listener.Accept();
  ASSERT_TRUE(peer.Valid());
  ASSERT_TRUE(peer.Send("hello"));
  std::string text;
  s.ReceiveText(2000, text);
  EXPECT_EQ(text, "hello");
}

TEST(SyncSocket, UnresolvableNameGivesTheResolversTextAndLeavesTheSocketOpen) {
  int descriptors = loopback::CountOpenDescriptors();
  TSyncSocket s(1, true);
  auto e = Raised([&] { s.Connect(kInvalidHost, 5222, 0); });
  EXPECT_EQ(e.Code, sockErrResolve);
  ASSERT_NE(e.WinSockError, 0);
  EXPECT_EQ(e.Description, loopback::ResolverText(e.WinSockError));
  EXPECT_EQ(std::string(e.what()), "Cannot resolve host name to IP address. " + e.Description);
  EXPECT_NE(s.Socket(), netplatform::kInvalidSocket);
  EXPECT_FALSE(s.Connected());
  EXPECT_FALSE(s.IsConnected());
  EXPECT_EQ(loopback::CountOpenDescriptors(), descriptors + 1);

  loopback::Listener listener;  // one more descriptor of its own
  s.Connect("127.0.0.1", listener.Port(), 0);
  EXPECT_EQ(loopback::CountOpenDescriptors(), descriptors + 2);
  EXPECT_TRUE(s.IsConnected());
}

TEST(SyncSocket, ReceiveTextReturnsWhatOneReceiveDelivered) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  std::string text = "held before";
  ASSERT_TRUE(c.peer.Send("0123456789"));
  c.socket.ReceiveText(2000, text);
  EXPECT_EQ(text, "0123456789");
  ASSERT_TRUE(c.peer.Send(std::string("a\0b", 3)));
  c.socket.ReceiveText(2000, text);
  EXPECT_EQ(text, std::string("a\0b", 3));
}

TEST(SyncSocket, LongReplyArrivesInChunksOfAtMost20480) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  std::string sent;
  for (int i = 0; i < 30000; ++i) sent += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(c.peer.Send(sent));
  std::string got, chunk;
  int calls = 0;
  while (got.size() < sent.size() && calls < 100) {
    c.socket.ReceiveText(2000, chunk);
    EXPECT_LE(chunk.size(), 20480u);
    got += chunk;
    ++calls;
  }
  EXPECT_EQ(got, sent);
  EXPECT_GE(calls, 2);
}

TEST(SyncSocket, ReceiveTextFailsOnSilenceAndOnClose) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  std::string text;
  auto start = Clock::now();
  auto silence = Raised([&] { c.socket.ReceiveText(200, text); });
  EXPECT_GE(MillisecondsSince(start), 150);
  EXPECT_EQ(silence.Code, sockErrRead);
  EXPECT_STREQ(silence.what(), "Cannot read data");

  c.peer.Reset();
  auto closed = Raised([&] { c.socket.ReceiveText(2000, text); });
  EXPECT_EQ(closed.Code, sockErrRead);
  EXPECT_STREQ(closed.what(), "Cannot read data");
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(c.socket.Connected());  // a failed receive changes no state
}

TEST(SyncSocket, SendAndReceiveWithoutASocketAreWinsockErrors) {
  TSyncSocket s(1, true);
  std::string text;
  for (std::int32_t length : {0, 3}) {
    auto e = Raised([&] { s.SendBuffer("abc", length, 0); });
    EXPECT_EQ(e.Code, sockErrWinSock);
    EXPECT_STREQ(e.what(), "Winsock error");
  }
  auto e = Raised([&] { s.ReceiveText(0, text); });
  EXPECT_EQ(e.Code, sockErrWinSock);
  EXPECT_STREQ(e.what(), "Winsock error");
}

TEST(SyncSocket, SendBufferSendsAndLengthZeroSendsNothing) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  c.socket.SendBuffer("ignored", 0, 0);
  EXPECT_EQ(c.peer.ReceiveOnce(200ms), "");
  c.socket.SendBuffer("<stream/>", 9, 0);
  EXPECT_EQ(c.peer.ReceiveUntil("<stream/>", 2s), "<stream/>");
}

TEST(SyncSocket, SendAfterPeerResetFailsWithoutKillingTheProcess) {
  loopback::DefaultPipeSignal pipeGuard;  // a SIGPIPE would end the test run
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  c.peer.CloseWithReset();
  ASSERT_TRUE(c.socket.WaitForRead(2000));
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto e = Raised([&] { c.socket.SendBuffer("x", 1, 0); });
    EXPECT_EQ(e.Code, sockErrSend);
    EXPECT_TRUE(e.WinSockError == loopback::kConnectionReset || e.WinSockError == loopback::kBrokenPipe) << e.WinSockError;
    EXPECT_EQ(std::string(e.what()), "Cannot send data. " + SystemErrorText(e.WinSockError));
  }
}

// As a byte stream the socket says what happened instead of raising for
// silence and for the peer's close.
TEST(SyncSocket, AsAByteStreamItAppendsAndTellsSilenceAndCloseApart) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  c.socket.Send("<stream/>", 0);
  EXPECT_EQ(c.peer.ReceiveUntil("<stream/>", 2s), "<stream/>");
  std::string into = "x";
  EXPECT_EQ(c.socket.Receive(-1, into), TByteStream::TReceived::TimedOut);
  ASSERT_TRUE(c.peer.Send("abc"));
  EXPECT_EQ(c.socket.Receive(2000, into), TByteStream::TReceived::Data);
  EXPECT_EQ(into, "xabc");
  c.peer.Reset();
  EXPECT_EQ(c.socket.Receive(2000, into), TByteStream::TReceived::Closed);
  EXPECT_EQ(into, "xabc");
}

TEST(SyncSocket, IsConnectedTellsASilentPeerFromAClosedOne) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  auto start = Clock::now();
  EXPECT_TRUE(c.socket.IsConnected());
  EXPECT_LT(MillisecondsSince(start), 500);  // about 5 ms; generous for a busy machine

  c.peer.Reset();
  ASSERT_TRUE(c.socket.WaitForRead(2000));
  EXPECT_FALSE(c.socket.IsConnected());
  c.socket.Close();
  EXPECT_FALSE(c.socket.IsConnected());
}

TEST(SyncSocket, IsConnectedPeeksOrConsumes) {
  const struct {
    bool peek;
    const char* left;
  } cases[] = {{true, "abc"}, {false, "c"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.peek);
    Connection c;
    ASSERT_TRUE(c.peer.Valid());
    c.socket.PeekOnTest = k.peek;
    ASSERT_TRUE(c.peer.Send("abc"));
    ASSERT_TRUE(c.socket.WaitForRead(2000));
    EXPECT_TRUE(c.socket.IsConnected());
    std::string text;
    c.socket.ReceiveText(2000, text);
    EXPECT_EQ(text, k.left);
  }
}

TEST(SyncSocket, WaitForReadPollsOnceOrWaitsWithoutLimit) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  auto start = Clock::now();
  EXPECT_FALSE(c.socket.WaitForRead(-1));
  EXPECT_LT(MillisecondsSince(start), 500);
  EXPECT_TRUE(c.socket.WaitForWrite(-1));

  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    c.peer.Send("x");
  });
  EXPECT_TRUE(c.socket.WaitForRead(0));
  late.join();
  EXPECT_TRUE(c.socket.WaitForRead(-1));
}

TEST(SyncSocket, ThousandConnectCloseCyclesLeakNoDescriptor) {
  loopback::Listener listener;
  loopback::RefusedPort refused;
  int descriptors = loopback::CountOpenDescriptors();
  {
    TSyncSocket s(1, true);
    for (int i = 0; i < 1000; ++i) {
      if (i % 2 == 0) {
        s.Connect("127.0.0.1", listener.Port(), i % 4 == 0 ? 0 : 2000);
        ASSERT_TRUE(listener.Accept().Valid()) << i;
      } else {
        EXPECT_THROW(s.Connect("127.0.0.1", refused.Port(), 0), EVHSyncSockError);
      }
      if (i % 3 == 0) s.Close();  // otherwise the next Connect closes it
    }
  }
  EXPECT_EQ(loopback::CountOpenDescriptors(), descriptors);
}

}  // namespace
