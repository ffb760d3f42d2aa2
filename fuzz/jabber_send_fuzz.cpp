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
// A server thread in this process accepts the sender's connection and plays
// the chunks. It sends the next chunk only after the sender has received the
// previous one (the sender's socket has taken in every byte sent so far and
// has none left unread), so each chunk arrives as a receive of its own, as
// the scripted test server's pauses make it, but without any sleep. After the
// last chunk it closes its side, so a sender that still waits learns at once
// that nothing more comes: no wait ever needs to run out, and an input that
// takes longer than kMaxRunTime is a fault.

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fuzz_check.h"
#include "net/sock_error.h"
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
// bound to s's peer port, looked for at hint first.
int FindClientFd(int s, int hint) {
  const std::uint16_t port = PeerPort(s);
  if (port != 0 && LocalPort(hint) == port) return hint;
  for (int fd = 3; fd < 1024; ++fd) {
    if (fd != s && port != 0 && LocalPort(fd) == port) return fd;
  }
  std::fprintf(stderr, "harness: peer port %u, errno %d, descriptor hint %d\n", port, errno, hint);
  HarnessFailure("the sender's socket is not to be found");
}

// Plays chunks to one connection of the sender, on its own thread.
class TChunkServer {
 public:
  TChunkServer() {
    FListener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (FListener < 0 || bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(FListener, 8) != 0)
      HarnessFailure("cannot listen on 127.0.0.1");
    FPort = LocalPort(FListener);
    FThread = std::thread([this] { Loop(); });
    FThread.detach();  // lives as long as the process
  }

  std::uint16_t Port() const { return FPort; }

  // Hands the next connection's script over; the sender's socket will be
  // clientFd.
  void Begin(std::vector<std::string> chunks, int clientFd) {
    std::lock_guard<std::mutex> lock(FMutex);
    FChunks = std::move(chunks);
    FClientFd = clientFd;
    FBusy = true;
    FChanged.notify_all();
  }

  // Waits until the connection has been played through and closed.
  void End() {
    std::unique_lock<std::mutex> lock(FMutex);
    if (!FChanged.wait_for(lock, kHarnessBound, [this] { return !FBusy; }))
      HarnessFailure("server side did not finish");
  }

 private:
  void Loop() {
    for (;;) {
      std::vector<std::string> chunks;
      int clientFd;
      {
        std::unique_lock<std::mutex> lock(FMutex);
        FChanged.wait(lock, [this] { return FBusy; });
        chunks = FChunks;
        clientFd = FClientFd;
      }
      Play(chunks, clientFd);
      std::lock_guard<std::mutex> lock(FMutex);
      FBusy = false;
      FChanged.notify_all();
    }
  }

  void Play(const std::vector<std::string>& chunks, int clientFd) {
    const auto limit = Clock::now() + kHarnessBound;
    int s = -1;
    while (s < 0) {
      pollfd waiting{FListener, POLLIN, 0};
      poll(&waiting, 1, 100);
      if ((waiting.revents & POLLIN) != 0) s = accept(FListener, nullptr, nullptr);
      if (s < 0 && Clock::now() > limit) HarnessFailure("no connection came");
    }
    clientFd = FindClientFd(s, clientFd);
    fcntl(s, F_SETFL, O_NONBLOCK);
    // Each chunk goes out at once, not held back until the previous one is
    // acknowledged (the sender's acknowledgement may be delayed by 40 ms).
    const int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::uint64_t written = 0;
    for (const std::string& chunk : chunks) {
      if (!SendWhole(s, chunk)) break;
      written += chunk.size();
      if (!AwaitTaken(s, clientFd, written)) break;
    }
    shutdown(s, SHUT_WR);
    AwaitPeerClose(s);
    // A reset instead of an orderly close: neither side keeps the
    // connection in TIME_WAIT, however many runs there are.
    const linger abort{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(s);
  }

  // Reads and drops what the sender wrote; false once the sender is gone.
  static bool Drain(int s) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = recv(s, buffer, sizeof buffer, 0);
      if (n > 0) continue;
      if (n == 0) return false;
      return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
  }

  static bool SendWhole(int s, const std::string& chunk) {
    std::size_t sent = 0;
    const auto limit = Clock::now() + kHarnessBound;
    while (sent < chunk.size()) {
      const ssize_t n = send(s, chunk.data() + sent, chunk.size() - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
      if (!Drain(s)) return false;
      pollfd ready{s, POLLOUT, 0};
      poll(&ready, 1, 10);
      if (Clock::now() > limit) HarnessFailure("the sender stopped reading");
    }
    return true;
  }

  // True once the sender's socket has received every byte written so far
  // and its program has read them all; false when the sender has closed.
  static bool AwaitTaken(int s, int clientFd, std::uint64_t written) {
    const auto limit = Clock::now() + kHarnessBound;
    for (;;) {
      tcp_info info{};
      socklen_t length = sizeof info;
      int unread = 0;
      if (getsockopt(clientFd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
          ioctl(clientFd, FIONREAD, &unread) != 0)
        return false;  // the sender's socket is closed
      // 1 is ESTABLISHED: anything else means the sender is closing.
      if (info.tcpi_state != 1) return false;
      if (info.tcpi_bytes_received >= written && unread == 0) return true;
      if (!Drain(s)) return false;
      if (Clock::now() > limit) HarnessFailure("the sender stopped reading");
      std::this_thread::yield();
    }
  }

  static void AwaitPeerClose(int s) {
    const auto limit = Clock::now() + kHarnessBound;
    while (Drain(s)) {
      pollfd ready{s, POLLIN, 0};
      poll(&ready, 1, 10);
      if (Clock::now() > limit) HarnessFailure("the sender did not close");
    }
  }

  int FListener = -1;
  std::uint16_t FPort = 0;
  std::thread FThread;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<std::string> FChunks;
  int FClientFd = -1;
  bool FBusy = false;
};

// libFuzzer's watchdog is a SIGALRM with a handler, and a signal with a
// handler interrupts the blocking connect() of the sender (EINTR), which the
// program itself, having no handlers, never meets. The fuzzing thread blocks
// it, so the watchdog runs on the server thread, whose calls all retry.
void KeepWatchdogOffThisThread() {
  static const bool blocked = [] {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    return pthread_sigmask(SIG_BLOCK, &alarm, nullptr) == 0;
  }();
  if (!blocked) HarnessFailure("cannot block SIGALRM");
}

TChunkServer& Server() {
  static TChunkServer* server = new TChunkServer;  // never destroyed: its thread runs on
  return *server;
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
void Probe(TJabberSend& sender) {
  sender.Check("127.0.0.1", Server().Port());
  FUZZ_CHECK(sender.Connected == sender.LastError.empty());
  if (!sender.Connected) FUZZ_CHECK(sender.Socket->Socket() == netplatform::kInvalidSocket);
  CheckErrorCode(sender);
  if (!sender.Connected) return;
  sender.CloseSession();
  FUZZ_CHECK(!sender.ProbeMode);
}

// The full sender: login, one message, close.
void Login(TJabberSend& sender) {
  sender.Server = "127.0.0.1";
  sender.Port = Server().Port();
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
  std::vector<std::string> chunks =
      SplitChunks(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));

  TChunkServer& server = Server();  // its thread must start with the signal let through
  KeepWatchdogOffThisThread();
  const auto started = Clock::now();
  server.Begin(std::move(chunks), LowestFreeDescriptor());
  {
    TJabberSend sender(login ? "alice@example.org" : "", login ? "secret" : "");
    sender.ResponseTimeout = kWaitMs;
    sender.ConfirmTimeout = kWaitMs;
    if (startTls) sender.TlsMode = TTlsMode::StartTls;
    if (login) {
      Login(sender);
    } else {
      Probe(sender);
    }
    CheckClosed(sender);
  }
  server.End();
  FUZZ_CHECK(Clock::now() - started < kMaxRunTime);
  return 0;
}
