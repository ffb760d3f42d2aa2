// Socket behaviour that only POSIX systems have to get right: signals,
// descriptor numbers, the resolver's and the connect's entry points.

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
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "net/system_error.h"
#include "support/loopback.h"
#include "support/sync_socket_fixture.h"

// Counts the process's name look-ups, so a test can see whether a host went
// to the resolver. Every call is passed on to the C library's own, except
// for one name that stands for ::1 and 127.0.0.1, in this order.
namespace {
std::atomic<int> gLookUps{0};
const char kV6ThenV4[] = "v6-then-v4.tolvane.test";
}
extern "C" int getaddrinfo(const char* name, const char* service, const addrinfo* hints, addrinfo** result) {
  using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
  ++gLookUps;
  if (std::strcmp(name, kV6ThenV4) != 0) return real(name, service, hints, result);
  // The C library frees a list entry by entry, so two of its lists joined
  // are freed like one.
  addrinfo numeric{};
  numeric.ai_flags = AI_NUMERICHOST;
  numeric.ai_socktype = SOCK_STREAM;
  addrinfo* second = nullptr;
  if (real("::1", service, &numeric, result) != 0 || real("127.0.0.1", service, &numeric, &second) != 0)
    return EAI_FAIL;
  (*result)->ai_next = second;
  return 0;
}

// Lets a test make the next connect fail inside the local stack, as a
// connect to an unreachable network does, without sending anything anywhere;
// and counts the attempts.
namespace {
std::atomic<int> gFailNextConnect{0};
std::atomic<int> gConnects{0};
}
extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
  using Real = int (*)(int, const sockaddr*, socklen_t);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "connect"));
  ++gConnects;
  if (gFailNextConnect.exchange(0) != 0) {
    errno = ENETUNREACH;
    return -1;
  }
  return real(fd, address, length);
}

namespace {

using loopback::Socket;
using namespace std::chrono_literals;
using syncsocket::Clock;
using syncsocket::Connection;
using syncsocket::MillisecondsSince;
using syncsocket::Raised;

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
    Socket peer = listener.Accept();
    EXPECT_TRUE(peer.Valid());
    EXPECT_TRUE(s.Connected());
    EXPECT_TRUE(s.IsConnected());
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

// Something on ::1 (made by `make`) and a refusing socket on 127.0.0.1 with
// the same port number. Another process may hold that IPv4 port by chance,
// so a few port numbers are tried.
template <typename T, typename Make>
std::pair<T, loopback::RefusedPort> OnBothLoopbacks(Make make) {
  for (int attempt = 1;; ++attempt) {
    T on6 = make();
    try {
      loopback::RefusedPort on4(false, on6.Port());
      return {std::move(on6), std::move(on4)};
    } catch (const std::runtime_error&) {
      if (attempt == 20) throw;
    }
  }
}

// A name with an IPv4 and an IPv6 address: IPv4 is tried first whatever the
// resolver's order, the next address is tried when one fails, and when all
// fail the first one's reason is the one reported. Timed or not.
TEST(SyncSocket, NameWithSeveralAddressesTriesThemIPv4First) {
  if (!loopback::HasIpv6Loopback()) GTEST_SKIP() << "no ::1 on this machine";
  for (std::int32_t timeout : {0, 2000}) {
    SCOPED_TRACE(timeout);
    {
      loopback::Listener listener;
      TSyncSocket s(1, true);
      const int before = gConnects;
      s.Connect(kV6ThenV4, listener.Port(), timeout);
      EXPECT_EQ(gConnects - before, 1);
      EXPECT_TRUE(listener.Accept().Valid());
    }
    {
      auto [listener6, refused4] = OnBothLoopbacks<loopback::Listener>([] { return loopback::Listener(16, true); });
      TSyncSocket s(1, true);
      s.Connect(kV6ThenV4, listener6.Port(), timeout);
      EXPECT_TRUE(s.Connected());
      EXPECT_TRUE(listener6.Accept().Valid());
    }
    {
      auto [refused6, refused4] = OnBothLoopbacks<loopback::RefusedPort>([] { return loopback::RefusedPort(true); });
      TSyncSocket s(1, true);
      gFailNextConnect = 1;
      const int before = gConnects;
      auto e = Raised([&] { s.Connect(kV6ThenV4, refused6.Port(), timeout); });
      EXPECT_EQ(gConnects - before, 2);
      EXPECT_EQ(std::string(e.what()), "Connection error. " + SystemErrorText(ENETUNREACH));
      EXPECT_FALSE(s.Connected());
    }
  }
}

TEST(SyncSocket, TimedConnectLeavesTheDescriptorBlocking) {
  loopback::Listener listener;
  TSyncSocket s(1, true);
  s.Connect("127.0.0.1", listener.Port(), 2000);
  EXPECT_EQ(fcntl(static_cast<int>(s.Socket()), F_GETFL) & O_NONBLOCK, 0);
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
  EXPECT_EQ(gAlarms, 1);
}

TEST(SyncSocket, WorksWithDescriptorsAboveTheSelectLimit) {
  std::vector<Socket> filler;  // closes any descriptor
  while (filler.size() < 1200) {
    Socket fd(static_cast<loopback::Handle>(open("/dev/null", O_RDONLY | O_CLOEXEC)));
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
  EXPECT_EQ(c.peer.ReceiveUntil("ping", 2s), "ping");
  ASSERT_TRUE(c.peer.Send("pong"));
  std::string text;
  c.socket.ReceiveText(2000, text);
  EXPECT_EQ(text, "pong");
}

// A reset shows as a failure with the system's text. (Under Wine a
// receive after a reset does not say so reliably.)
TEST(SyncSocket, AsAByteStreamAResetIsAReadFailure) {
  Connection c;
  ASSERT_TRUE(c.peer.Valid());
  c.peer.CloseWithReset();
  std::string into;
  auto e = Raised([&] { c.socket.Receive(2000, into); });
  EXPECT_EQ(e.Code, sockErrRead);
  EXPECT_EQ(e.WinSockError, loopback::kConnectionReset);
  EXPECT_EQ(std::string(e.what()), "Cannot read data. " + SystemErrorText(e.WinSockError));
}

}  // namespace
