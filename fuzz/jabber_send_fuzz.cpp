// Fuzz target for the response analysis: arbitrary replies reach a
// TJabberSend through a real loopback TCP connection, one received chunk at a
// time, the way a server's replies reach the program.
//
// Input: one mode byte, then up to kMaxChunks chunks separated by kSeparator.
//   mode bit 0 clear: the probe. Check, then CloseSession when it connected,
//     as the check run does.
//   mode bit 0 set: the full sender. Connect with an account (login queries),
//     then a SendMessage once established, then CloseSession.
//   mode bit 1 set (with bit 0 clear): the probe with STARTTLS, whose TLS
//     handshake then meets whatever chunks follow.
//
// The tests' scripted server, in this process, accepts the sender's
// connection and plays the chunks, one Send step each. It sends the next
// chunk only after the sender has received the previous one (the sender's
// socket has taken in every byte sent so far and has none left unread), so
// each chunk arrives as a receive of its own, as the server's pauses make it
// in the tests, but without any sleep. After the last chunk it closes its
// side, so a sender that still waits learns at once that nothing more comes:
// no wait ever needs to run out, and an input that takes longer than
// kMaxRunTime is a fault. Each connection ends with a reset, so that no run
// leaves a socket in TIME_WAIT.

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "net/sock_error.h"
#include "support/scripted_server.h"
#include "xmpp/jabber_send.h"
#include "xmpp/jabber_send_error.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::string_view kSeparator = "~|~";
constexpr std::size_t kMaxChunks = 16;
// Long enough never to run out on a loaded machine, short enough that a
// sender left waiting for it shows up as a slow input.
constexpr std::int32_t kWaitMs = 5000;
constexpr milliseconds kMaxRunTime{4000};
// What the harness itself allows any step on either side before it gives up
// with a message of its own.
constexpr milliseconds kHarnessBound{20000};

[[noreturn]] void HarnessFailure(const char* what) {
  std::fprintf(stderr, "harness: %s\n", what);
  std::abort();
}

std::vector<std::string> SplitChunks(std::string_view rest) {
  std::vector<std::string> chunks;
  while (chunks.size() < kMaxChunks) {
    const auto at = rest.find(kSeparator);
    const std::string_view chunk = rest.substr(0, at);
    // An empty write carries nothing; the peer would not see it.
    if (!chunk.empty()) chunks.emplace_back(chunk);
    if (at == std::string_view::npos) break;
    rest.remove_prefix(at + kSeparator.size());
  }
  return chunks;
}

// The descriptor the next socket() of this process will most likely get: the
// lowest free. Another thread (the sanitizer's, libFuzzer's) may take it
// first, so the server side confirms it by the port (FindClientFd).
int LowestFreeDescriptor() {
  const int fd = fcntl(0, F_DUPFD, 0);
  if (fd < 0) HarnessFailure("no free descriptor");
  close(fd);
  return fd;
}

std::uint16_t LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

std::uint16_t PeerPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

// The sender's end of the connection whose server end is s: the descriptor
// bound to s's peer port, looked for at hint first; -1 when the sender has
// closed it already.
int FindClientFd(int s, int hint) {
  const std::uint16_t port = PeerPort(s);
  if (port == 0) {
    std::fprintf(stderr, "harness: errno %d\n", errno);
    HarnessFailure("the server side has no peer");
  }
  if (LocalPort(hint) == port) return hint;
  for (int fd = 3; fd < 1024; ++fd) {
    if (fd != s && LocalPort(fd) == port) return fd;
  }
  return -1;
}

// Tells the scripted server when the sender has taken what it sent, by
// looking at the sender's own socket.
class TSenderSide {
 public:
  // A new run begins, whose sender socket is most likely `hint` (see
  // LowestFreeDescriptor).
  void Expect(int hint) {
    FHint = hint;
    FClientFd = kNotLooked;
  }

  // True once the sender's socket has received the `sent` bytes the server
  // side `server` has sent and its program has read them all, and once the
  // sender is closing, when there is nothing more to wait for.
  bool Taken(loopback::Handle server, std::uint64_t sent) {
    if (FClientFd == kNotLooked) FClientFd = FindClientFd(static_cast<int>(server), FHint);
    const int client = FClientFd;
    if (client < 0) return true;  // closed already
    tcp_info info{};
    socklen_t length = sizeof info;
    int unread = 0;
    if (getsockopt(client, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 || ioctl(client, FIONREAD, &unread) != 0)
      return true;  // the sender's socket is closed
    // 1 is ESTABLISHED: anything else means the sender is closing.
    if (info.tcpi_state != 1) return true;
    return info.tcpi_bytes_received >= sent && unread == 0;
  }

 private:
  static constexpr int kNotLooked = -2;
  // Set by the fuzzing thread, read by the server's.
  std::atomic<int> FHint{-1};
  std::atomic<int> FClientFd{kNotLooked};
};

TSenderSide& SenderSide() {
  static TSenderSide side;
  return side;
}

// The server, one for all runs: its thread, which plays the connections
// too, lives as long as the process.
TScriptedServer& Server() {
  static TScriptedServer* server = [] {
    TServerOptions options;
    options.Taken = [](loopback::Handle s, std::uint64_t sent) { return SenderSide().Taken(s, sent); };
    options.ResetAtEnd = true;
    options.Serial = true;
    return new TScriptedServer(std::vector<TScript>{}, options);
  }();
  return *server;
}

// One Send step per chunk.
TScript ChunkScript(const std::vector<std::string>& chunks) {
  TScript script;
  for (const std::string& chunk : chunks) script.push_back(script::Send(chunk));
  return script;
}

// libFuzzer's watchdog is a SIGALRM with a handler, and a signal with a
// handler interrupts the blocking connect() of the sender (EINTR), which the
// program itself, having no handlers, never meets. The fuzzing thread blocks
// it, so the watchdog runs on the server's thread, whose calls all retry.
void KeepWatchdogOffThisThread() {
  static const bool blocked = [] {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    return pthread_sigmask(SIG_BLOCK, &alarm, nullptr) == 0;
  }();
  if (!blocked) HarnessFailure("cannot block SIGALRM");
}

void CheckClosed(const TJabberSend& sender) {
  FUZZ_CHECK(!sender.Connected);
  FUZZ_CHECK(!sender.Socket->Connected());
  FUZZ_CHECK(sender.Socket->Socket() == netplatform::kInvalidSocket);
}

void CheckErrorCode(const TJabberSend& sender) {
  FUZZ_CHECK(sender.ErrorCode >= jabberErrNotConfirmed && sender.ErrorCode <= 0);
}

// The check run's use: Check, then CloseSession once connected.
void Probe(TJabberSend& sender, std::uint16_t port) {
  sender.Check("127.0.0.1", port);
  FUZZ_CHECK(sender.Connected == sender.LastError.empty());
  if (!sender.Connected) FUZZ_CHECK(sender.Socket->Socket() == netplatform::kInvalidSocket);
  CheckErrorCode(sender);
  if (!sender.Connected) return;
  sender.CloseSession();
  FUZZ_CHECK(!sender.ProbeMode);
}

// The full sender: login, one message, close.
void Login(TJabberSend& sender, std::uint16_t port) {
  sender.Server = "127.0.0.1";
  sender.Port = port;
  try {
    sender.Connect();
    FUZZ_CHECK(sender.Connected);
  } catch (const std::exception&) {
    FUZZ_CHECK(!sender.Connected);
    FUZZ_CHECK(sender.Socket->Socket() == netplatform::kInvalidSocket);
    CheckErrorCode(sender);
    return;
  }
  try {
    sender.SendMessage("bob@example.org", "ping");
    FUZZ_CHECK(sender.Confirmed || !sender.LastError.empty());
    if (sender.ErrorCode == jabberErrNotConfirmed) FUZZ_CHECK(!sender.Confirmed);
  } catch (const EVHSyncSockError& failure) {
    // Only the failures other than a read pass on, with their text kept.
    FUZZ_CHECK(failure.Code != sockErrRead);
    FUZZ_CHECK(sender.LastError == failure.what());
  }
  CheckErrorCode(sender);
  sender.CloseSession();
}

}  // namespace

// The trust store is none of this target's business, and a CA file named in
// the environment would be read whole for every STARTTLS input, a hundred
// times the cost of all the rest. OpenSSL's certificate directory serves.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  unsetenv("SSL_CERT_FILE");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool login = (data[0] & 1) != 0;
  const bool startTls = !login && (data[0] & 2) != 0;
  const std::vector<std::string> chunks =
      SplitChunks(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));

  TScriptedServer& server = Server();  // its thread must start with the signal let through
  KeepWatchdogOffThisThread();
  server.Restart({ChunkScript(chunks)});
  const auto started = Clock::now();
  SenderSide().Expect(LowestFreeDescriptor());
  {
    TJabberSend sender(login ? "alice@example.org" : "", login ? "secret" : "");
    sender.ResponseTimeout = kWaitMs;
    sender.ConfirmTimeout = kWaitMs;
    if (startTls) sender.TlsMode = TTlsMode::StartTls;
    if (login) {
      Login(sender, server.Port());
    } else {
      Probe(sender, server.Port());
    }
    CheckClosed(sender);
  }
  if (!server.WaitFinished(0, kHarnessBound)) HarnessFailure("server side did not finish");
  FUZZ_CHECK(Clock::now() - started < kMaxRunTime);
  return 0;
}
