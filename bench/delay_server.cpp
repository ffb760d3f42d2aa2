// A scripted XMPP server for measuring how true tolvane's reported time is:
// it answers each client's stream header exactly DELAY_MS milliseconds after the
// header has arrived, then answers the client's stream close with its own.
//
// Usage: delay_server DELAY_MS
// Listens on 127.0.0.1 at a port the system picks and prints that port as the
// first line of standard output. Serves one connection at a time; ends by itself
// after 120 s without a new connection. Every wait on a client is bounded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kIdleExitMs = 120000;
constexpr int kClientWaitMs = 10000;

constexpr char kReplyHeader[] =
    "<?xml version='1.0'?><stream:stream xmlns='jabber:client'"
    " xmlns:stream='http://etherx.jabber.org/streams' id='bench' from='localhost'"
    " xml:lang='en'>";
constexpr char kClose[] = "</stream:stream>";

// Reads from the client until `done` holds for what arrived so far.
// Returns false when the client closes, fails or stays silent too long.
template <typename Pred>
bool ReadUntil(int fd, std::string& got, Pred done) {
  char buf[4096];
  while (!done(got)) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kClientWaitMs) != 1) return false;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    got.append(buf, static_cast<size_t>(n));
  }
  return true;
}

void SendAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
    if (n <= 0) return;
    data += n;
    len -= static_cast<size_t>(n);
  }
}

// Sleeps until `delayMs` after `from` on the monotonic clock.
void SleepUntil(const timespec& from, long delayMs) {
  timespec until = from;
  until.tv_sec += delayMs / 1000;
  until.tv_nsec += (delayMs % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000L;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
  }
}

void Serve(int fd, long delayMs) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::string got;
  bool header = ReadUntil(fd, got, [](const std::string& s) {
    size_t open = s.find("<stream:stream");
    return open != std::string::npos && s.find('>', open) != std::string::npos;
  });
  if (!header) return;
  timespec arrived;
  clock_gettime(CLOCK_MONOTONIC, &arrived);
  SleepUntil(arrived, delayMs);
  SendAll(fd, kReplyHeader, sizeof kReplyHeader - 1);
  got.clear();
  if (ReadUntil(fd, got, [](const std::string& s) { return s.find(kClose) != std::string::npos; }))
    SendAll(fd, kClose, sizeof kClose - 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: delay_server DELAY_MS\n");
    return 2;
  }
  long delayMs = std::atol(argv[1]);

  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    std::perror("delay_server");
    return 1;
  }
  std::printf("%u\n", ntohs(addr.sin_port));
  std::fflush(stdout);

  for (;;) {
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, kIdleExitMs) != 1) return 0;
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    Serve(fd, delayMs);
    close(fd);
  }
}
