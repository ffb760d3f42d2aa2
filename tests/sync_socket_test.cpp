#include "net/sync_socket.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "net/system_error.h"
#include "support/loopback.h"

// Counts the process's name look-ups, so a test can see whether a host went
// to the resolver. Every call is passed on to the C library's own.
namespace {
std::atomic<int> gLookUps{0};
}
extern "C" int getaddrinfo(const char* name, const char* service, const addrinfo* hints, addrinfo** result) {
  using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
  ++gLookUps;
  return real(name, service, hints, result);
}

// Lets a test make the next connect fail inside the local stack, as a
// connect to an unreachable network does, without sending anything anywhere.
namespace {
std::atomic<int> gFailNextConnect{0};
}
extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
  using Real = int (*)(int, const sockaddr*, socklen_t);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "connect"));
  if (gFailNextConnect.exchange(0) != 0) {
    errno = ENETUNREACH;
    return -1;
  }
  return real(fd, address, length);
}

namespace {

using Clock = std::chrono::steady_clock;
using loopback::Fd;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Runs f, which must raise EVHSyncSockError, and returns the exception.
template <typename F>
EVHSyncSockError Raised(F f) {
  try {
    f();
  } catch (const EVHSyncSockError& e) {
    return e;
  }
  ADD_FAILURE() << "no EVHSyncSockError raised";
  return EVHSyncSockError(1, 0, "");
}

// A socket connected to a listener, and the listener's side of it.
struct Connection {
  loopback::Listener listener;
  TSyncSocket socket{1, true};
  Fd peer;

  Connection() {
    socket.Connect("127.0.0.1", listener.Port(), 0);
    peer = listener.Accept();
  }
};

const char* const kInvalidHost = "tolvane-test-host.invalid";

TEST(SyncSocket, StartsIdle) {
  for (bool start : {true, false}) {
    TSyncSocket s(1, start);
    EXPECT_EQ(s.WinSockStarted(), start);
    EXPECT_FALSE(s.Connected());
    EXPECT_FALSE(s.IsConnected());
    EXPECT_EQ(s.Socket(), netplatform::kInvalidSocket);
    EXPECT_EQ(s.SocketType(), 1);
    EXPECT_EQ(s.LastErrorCode(), 0);
    EXPECT_EQ(s.LastWinSockError(), 0);
    s.Close();
    s.Close();
    EXPECT_EQ(s.Socket(), netplatform::kInvalidSocket);
    EXPECT_EQ(s.LastWinSockError(), 0);
  }
}

TEST(SyncSocket, ConnectsByDottedAddressWithoutLookUpAndByName) {
  const struct {
    const char* host;
    int lookUps;
  } cases[] = {{"127.0.0.1", 0}, {"localhost", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    loopback::Listener listener;
    TSyncSocket s(1, true);
    int before = gLookUps;
    s.Connect(c.host, listener.Port(), 0);
    EXPECT_EQ(gLookUps - before, c.lookUps);
    Fd peer = listener.Accept();
    EXPECT_TRUE(peer.Valid());
    EXPECT_TRUE(s.Connected());
    EXPECT_TRUE(s.IsConnected());
    EXPECT_EQ(s.LastWinSockError(), 0);
  }
}

TEST(SyncSocket, AllOnesAddressGoesToTheResolver) {
  TSyncSocket s(1, true);
  int before = gLookUps;
  try {
    s.Connect("255.255.255.255", 9, 500);  // bounded; whether it connects does not matter
  } catch (const EVHSyncSockError&) {
  }
  EXPECT_EQ(gLookUps - before, 1);
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
    EXPECT_EQ(e.WinSockError, ECONNREFUSED);
    EXPECT_EQ(std::string(e.what()), "Connection error. " + SystemErrorText(ECONNREFUSED));
    EXPECT_EQ(s.LastErrorCode(), sockErrConnect);
    EXPECT_EQ(s.LastWinSockError(), ECONNREFUSED);
    EXPECT_FALSE(s.Connected());
    EXPECT_NE(s.Socket(), netplatform::kInvalidSocket);
  }
}

// A connect that fails inside the local stack, before anything is sent; the
// timed connect must report that reason, not a vaguer one.
TEST(SyncSocket, ConnectThatFailsAtOnceGivesTheSameReasonTimedOrNot) {
  std::string messages[2];
  for (int i = 0; i < 2; ++i) {
    TSyncSocket s(1, true);
    gFailNextConnect = 1;
    auto e = Raised([&] { s.Connect("127.0.0.1", 5222, i == 0 ? 0 : 2000); });
    EXPECT_EQ(e.Code, sockErrConnect);
    EXPECT_EQ(e.WinSockError, ENETUNREACH);
    messages[i] = e.what();
  }
  EXPECT_EQ(messages[0], "Connection error. " + SystemErrorText(ENETUNREACH));
  EXPECT_EQ(messages[1], messages[0]);
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
  EXPECT_TRUE(s.NonBlocking());  // stays so until the socket is replaced

  loopback::Listener listener;
  s.Connect("127.0.0.1", listener.Port(), 0);
  EXPECT_FALSE(s.NonBlocking());
}

TEST(SyncSocket, TimedConnectReturnsToBlockingMode) {
  loopback::Listener listener;
  TSyncSocket s(1, true);
  s.Connect("127.0.0.1", listener.Port(), 2000);
  EXPECT_TRUE(s.Connected());
  EXPECT_FALSE(s.NonBlocking());
  EXPECT_EQ(fcntl(static_cast<int>(s.Socket()), F_GETFL) & O_NONBLOCK, 0);
  Fd peer = listener.Accept();
  ASSERT_TRUE(peer.Valid());
  ASSERT_TRUE(loopback::SendAll(peer.Get(), "hello"));
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
  // The resolver's own numbers and texts, not an errno's.
  EXPECT_EQ(e.Description, gai_strerror(e.WinSockError));
  EXPECT_EQ(std::string(e.what()), "Cannot resolve host name to IP address. " + e.Description);
  EXPECT_EQ(s.LastWinSockError(), e.WinSockError);
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
  ASSERT_TRUE(loopback::SendAll(c.peer.Get(), "0123456789"));
  c.socket.ReceiveText(2000, text);
  EXPECT_EQ(text, "0123456789");
  ASSERT_TRUE(loopback::SendAll(c.peer.Get(), std::string("a\0b", 3)));
  c.socket.ReceiveText(2000, text);
  EXPECT_EQ(text, std::string("a\0b", 3));
}

TEST(SyncSocket, LongReplyArrivesInChunksOfAtMost20480) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  std::string sent;
  for (int i = 0; i < 30000; ++i) sent += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(loopback::SendAll(c.peer.Get(), sent));
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
  EXPECT_EQ(c.socket.LastWinSockError(), 0);

  c.peer.Reset();
  auto closed = Raised([&] { c.socket.ReceiveText(2000, text); });
  EXPECT_EQ(closed.Code, sockErrRead);
  EXPECT_STREQ(closed.what(), "Cannot read data");
  EXPECT_EQ(c.socket.LastWinSockError(), 0);
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
  EXPECT_EQ(s.LastErrorCode(), sockErrWinSock);
}

TEST(SyncSocket, SendBufferSendsAndLengthZeroSendsNothing) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  c.socket.SendBuffer("ignored", 0, 0);
  EXPECT_EQ(loopback::ReadUpTo(c.peer.Get(), 1, 200), "");
  c.socket.SendBuffer("<stream/>", 9, 0);
  EXPECT_EQ(loopback::ReadUpTo(c.peer.Get(), 9, 2000), "<stream/>");
}

// Sets a signal's handler for one test and puts the old one back.
class SignalHandler {
 public:
  SignalHandler(int signal, void (*handler)(int)) : signal_(signal) {
    struct sigaction action{};
    action.sa_handler = handler;  // no SA_RESTART: a wait sees EINTR
    sigaction(signal_, &action, &previous_);
  }
  ~SignalHandler() { sigaction(signal_, &previous_, nullptr); }

 private:
  int signal_;
  struct sigaction previous_{};
};

TEST(SyncSocket, SendAfterPeerResetFailsWithoutKillingTheProcess) {
  SignalHandler pipeGuard(SIGPIPE, SIG_DFL);  // a SIGPIPE would end the test run
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  loopback::CloseWithReset(c.peer);
  ASSERT_TRUE(c.socket.WaitForRead(2000));
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto e = Raised([&] { c.socket.SendBuffer("x", 1, 0); });
    EXPECT_EQ(e.Code, sockErrSend);
    EXPECT_TRUE(e.WinSockError == ECONNRESET || e.WinSockError == EPIPE) << e.WinSockError;
    EXPECT_EQ(std::string(e.what()), "Cannot send data. " + SystemErrorText(e.WinSockError));
  }
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
    ASSERT_TRUE(loopback::SendAll(c.peer.Get(), "abc"));
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
  EXPECT_EQ(c.socket.LastWinSockError(), 0);
  EXPECT_TRUE(c.socket.WaitForWrite(-1));

  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    loopback::SendAll(c.peer.Get(), "x");
  });
  EXPECT_TRUE(c.socket.WaitForRead(0));
  late.join();
  EXPECT_TRUE(c.socket.WaitForRead(-1));
}

// A signal cuts poll short; the wait must go on for the time that is left.
std::atomic<int> gAlarms{0};
void CountAlarm(int) { ++gAlarms; }

TEST(SyncSocket, WaitResumesAfterASignal) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  SignalHandler alarmGuard(SIGALRM, CountAlarm);
  gAlarms = 0;
  itimerval timer{{0, 0}, {0, 50000}};
  setitimer(ITIMER_REAL, &timer, nullptr);
  auto start = Clock::now();
  EXPECT_FALSE(c.socket.WaitForRead(400));
  EXPECT_GE(MillisecondsSince(start), 350);
  EXPECT_EQ(c.socket.LastWinSockError(), 0);
  EXPECT_EQ(gAlarms, 1);
}

TEST(SyncSocket, WorksWithDescriptorsAboveTheSelectLimit) {
  std::vector<Fd> filler;
  while (filler.size() < 1200) {
    Fd fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) GTEST_SKIP() << "cannot open enough descriptors";
    bool enough = fd.Get() > 1100;
    filler.push_back(std::move(fd));
    if (enough) break;
  }
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  ASSERT_GT(static_cast<int>(c.socket.Socket()), 1024);
  EXPECT_TRUE(c.socket.IsConnected());
  c.socket.SendBuffer("ping", 4, 2000);
  EXPECT_EQ(loopback::ReadUpTo(c.peer.Get(), 4, 2000), "ping");
  ASSERT_TRUE(loopback::SendAll(c.peer.Get(), "pong"));
  std::string text;
  c.socket.ReceiveText(2000, text);
  EXPECT_EQ(text, "pong");
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
