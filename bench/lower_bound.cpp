// The least an XMPP liveness probe has to do, as a yardstick for the benchmark:
// connect, send the same stream header tolvane sends, wait for the first reply,
// send the stream close and leave. Only system calls, no C++ runtime, no output,
// so that what it costs is the kernel's and the server's share alone.
//
// Usage: lower_bound PORT   (always 127.0.0.1; the header names "localhost")
// Exit code 0 when the server replied, 1 otherwise; every wait is bounded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kHeader[] =
    "<?xml version='1.0' encoding='UTF-8'?>"
    "<stream:stream to='localhost' xmlns='jabber:client'"
    " xmlns:stream='http://etherx.jabber.org/streams'>";
constexpr char kClose[] = "</stream:stream>";
constexpr int kReplyWaitMs = 10000;

bool SendAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;
  if (!SendAll(fd, kHeader, sizeof kHeader - 1)) return 1;

  pollfd p{fd, POLLIN, 0};
  char reply[4096];
  if (poll(&p, 1, kReplyWaitMs) != 1 || recv(fd, reply, sizeof reply, 0) <= 0) return 1;

  SendAll(fd, kClose, sizeof kClose - 1);
  close(fd);
  return 0;
}
