// Socket calls on POSIX systems. Differences from WinSock that this file
// absorbs: a send to a dropped peer must not raise SIGPIPE; waits use poll so
// descriptor numbers above FD_SETSIZE work; a signal cuts a wait short, so the
// wait resumes with the time left; a failed non-blocking connect shows up as
// writable with SO_ERROR set; resolver errors are not errno values.

#include "net/platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/deadline.h"
#include "net/socket_address.h"

namespace netplatform {

namespace {

// strerror_r comes in two flavours; overloads pick the text out of either.
[[maybe_unused]] const char* StrerrorResult(int rc, const char* buffer) {
  return rc == 0 ? buffer : nullptr;  // XSI: 0 or an error number
}
[[maybe_unused]] const char* StrerrorResult(const char* text, const char*) {
  return text;  // GNU: the text, in the buffer or static
}

// One poll on one descriptor. A signal does not end the wait early: it
// resumes with the time that is left, measured on a monotonic clock.
int PollOne(int fd, short events, int timeoutMs, short& revents) {
  const TDeadline deadline(timeoutMs);
  for (;;) {
    // In poll's own terms: -1 waits without limit, 0 polls once.
    const int next = deadline.Next();
    const int wait = next == 0 ? -1 : next < 0 ? 0 : next;
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, wait);
    if (n >= 0) {
      revents = p.revents;
      return n;
    }
    if (errno != EINTR) return kSocketError;
  }
}

}  // namespace

int StartUp() { return 0; }

void CleanUp() {}

int LastError() { return errno; }

bool RawErrorText(int number, std::string& text) {
  char buffer[512];
  buffer[0] = '\0';
  const char* found = StrerrorResult(strerror_r(number, buffer, sizeof buffer), buffer);
  if (found == nullptr) return false;
  // glibc answers an unknown number with a made-up text rather than a failure.
  if (std::string(found) == "Unknown error " + std::to_string(number)) return false;
  text = found;
  return true;
}

bool IsNtFamily() { return true; }

SocketHandle OpenSocket(int socketType, Family family) {
  int type = socketType == 1 ? SOCK_STREAM : socketType == 2 ? SOCK_DGRAM : socketType;
  int fd = socket(family == Family::V6 ? AF_INET6 : AF_INET, type | SOCK_CLOEXEC, 0);
  return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

int CloseSocket(SocketHandle s) { return close(Native(s)) == 0 ? 0 : kSocketError; }

std::uint32_t DottedAddress(const std::string& host) {
  return static_cast<std::uint32_t>(inet_addr(host.c_str()));
}

bool LookUpHost(const std::string& host, LookUp what, std::vector<Address>& addresses, ResolveFailure& failure) {
  const int rc = GetAddresses(host, what, addresses, EAI_NONAME, EAI_NONAME);
  if (rc == 0) return true;
  const int systemError = errno;
  if (rc == EAI_SYSTEM && systemError != 0) {
    // The resolver failed in a system call: that call's errno is the cause.
    failure.number = systemError;
    failure.description.clear();
    return false;
  }
  failure.number = rc;
  failure.description = gai_strerror(rc);
  return false;
}

int Connect(SocketHandle s, const Address& address, std::uint16_t port) {
  const TSocketAddress peer(address, port);
  return connect(Native(s), peer.Get(), peer.length) == 0 ? 0 : kSocketError;
}

int StartConnect(SocketHandle s, const Address& address, std::uint16_t port) {
  if (Connect(s, address, port) == 0 || errno == EINPROGRESS) return 0;
  return kSocketError;
}

int SetNonBlocking(SocketHandle s, bool on) {
  int flags = fcntl(Native(s), F_GETFL);
  if (flags < 0) return kSocketError;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(Native(s), F_SETFL, flags) == 0 ? 0 : kSocketError;
}

int Wait(SocketHandle s, WaitFor what, int timeoutMs) {
  short revents = 0;
  int n = PollOne(Native(s), what == WaitFor::Read ? POLLIN : POLLOUT, timeoutMs, revents);
  if (n == 1 && (revents & POLLNVAL)) {
    errno = EBADF;
    return kSocketError;
  }
  // Error and hang-up count as ready, as select reports them: the next call
  // on the socket says what happened.
  return n;
}

int WaitConnect(SocketHandle s, int timeoutMs, int& error) {
  error = 0;
  short revents = 0;
  int n = PollOne(Native(s), POLLOUT, timeoutMs, revents);
  if (n == 0) return 0;
  if (n < 0) {
    error = errno;
    return kSocketError;
  }
  int soError = 0;
  socklen_t length = sizeof soError;
  if (getsockopt(Native(s), SOL_SOCKET, SO_ERROR, &soError, &length) != 0) {
    error = errno;
    return kSocketError;
  }
  if (soError != 0) {
    error = soError;
    return kSocketError;
  }
  // A connect that failed at once has already handed its error to connect()
  // and leaves SO_ERROR clear; only a peer address proves the connection.
  sockaddr_storage peer{};
  socklen_t peerLength = sizeof peer;
  if (getpeername(Native(s), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
    error = errno;
    return kSocketError;
  }
  return 1;
}

int Send(SocketHandle s, const void* data, int length) {
  for (;;) {
    ssize_t n = send(Native(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return kSocketError;
  }
}

namespace {
int ReceiveWith(SocketHandle s, void* buffer, int length, int flags) {
  for (;;) {
    ssize_t n = recv(Native(s), buffer, static_cast<size_t>(length), flags);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return kSocketError;
  }
}
}  // namespace

int Receive(SocketHandle s, void* buffer, int length) { return ReceiveWith(s, buffer, length, 0); }

int Peek(SocketHandle s, void* buffer, int length) { return ReceiveWith(s, buffer, length, MSG_PEEK); }

void AcknowledgeAtOnce(SocketHandle s) {
#ifdef TCP_QUICKACK
  // Linux leaves quick acknowledgement again on its own, so it is asked for
  // before every receive.
  const int on = 1;
  setsockopt(Native(s), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
  (void)s;
#endif
}

}  // namespace netplatform
