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
[[maybe_unused]] const char* StrerrorResult(int Code, const char* Buffer) {
  return Code == 0 ? Buffer : nullptr;  // XSI: 0 or an error number
}
[[maybe_unused]] const char* StrerrorResult(const char* Text, const char*) {
  return Text;  // GNU: the text, in the buffer or static
}

// One poll on one descriptor. A signal does not end the wait early: it
// resumes with the time that is left, measured on a monotonic clock.
int PollOne(int Descriptor, short Events, int TimeoutMs, short& ReturnedEvents) {
  const TDeadline deadline(TimeoutMs);
  for (;;) {
    // In poll's own terms: -1 waits without limit, 0 polls once.
    const int next = deadline.Next();
    const int wait = next == 0 ? -1 : next < 0 ? 0 : next;
    pollfd p{Descriptor, Events, 0};
    int n = poll(&p, 1, wait);
    if (n >= 0) {
      ReturnedEvents = p.revents;
      return n;
    }
    if (errno != EINTR) return kSocketError;
  }
}

}  // namespace

int StartUp() { return 0; }

void CleanUp() {}

int LastError() { return errno; }

bool RawErrorText(int Number, std::string& Text) {
  char buffer[512];
  buffer[0] = '\0';
  const char* found = StrerrorResult(strerror_r(Number, buffer, sizeof buffer), buffer);
  if (found == nullptr) return false;
  // glibc answers an unknown number with a made-up text rather than a failure.
  if (std::string(found) == "Unknown error " + std::to_string(Number)) return false;
  Text = found;
  return true;
}

bool IsNtFamily() { return true; }

SocketHandle OpenSocket(int SocketType, Family AddressFamily) {
  int type = SocketType == 1 ? SOCK_STREAM : SocketType == 2 ? SOCK_DGRAM : SocketType;
  int fd = socket(AddressFamily == Family::V6 ? AF_INET6 : AF_INET, type | SOCK_CLOEXEC, 0);
  return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

int CloseSocket(SocketHandle Socket) { return close(Native(Socket)) == 0 ? 0 : kSocketError; }

std::uint32_t DottedAddress(const std::string& Host) {
  return static_cast<std::uint32_t>(inet_addr(Host.c_str()));
}

bool LookUpHost(const std::string& Host, LookUp What, std::vector<Address>& Addresses, ResolveFailure& Failure) {
  const int rc = GetAddresses(Host, What, Addresses, EAI_NONAME, EAI_NONAME);
  if (rc == 0) return true;
  const int systemError = errno;
  if (rc == EAI_SYSTEM && systemError != 0) {
    // The resolver failed in a system call: that call's errno is the cause.
    Failure.number = systemError;
    Failure.description.clear();
    return false;
  }
  Failure.number = rc;
  Failure.description = gai_strerror(rc);
  return false;
}

int Connect(SocketHandle Socket, const Address& Target, std::uint16_t Port) {
  const TSocketAddress peer(Target, Port);
  return connect(Native(Socket), peer.Get(), peer.length) == 0 ? 0 : kSocketError;
}

int StartConnect(SocketHandle Socket, const Address& Target, std::uint16_t Port) {
  if (Connect(Socket, Target, Port) == 0 || errno == EINPROGRESS) return 0;
  return kSocketError;
}

int SetNonBlocking(SocketHandle Socket, bool On) {
  int flags = fcntl(Native(Socket), F_GETFL);
  if (flags < 0) return kSocketError;
  flags = On ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(Native(Socket), F_SETFL, flags) == 0 ? 0 : kSocketError;
}

int Wait(SocketHandle Socket, WaitFor What, int TimeoutMs) {
  short revents = 0;
  int n = PollOne(Native(Socket), What == WaitFor::Read ? POLLIN : POLLOUT, TimeoutMs, revents);
  if (n == 1 && (revents & POLLNVAL)) {
    errno = EBADF;
    return kSocketError;
  }
  // Error and hang-up count as ready, as select reports them: the next call
  // on the socket says what happened.
  return n;
}

int WaitConnect(SocketHandle Socket, int TimeoutMs, int& Error) {
  Error = 0;
  short revents = 0;
  int n = PollOne(Native(Socket), POLLOUT, TimeoutMs, revents);
  if (n == 0) return 0;
  if (n < 0) {
    Error = errno;
    return kSocketError;
  }
  int soError = 0;
  socklen_t length = sizeof soError;
  if (getsockopt(Native(Socket), SOL_SOCKET, SO_ERROR, &soError, &length) != 0) {
    Error = errno;
    return kSocketError;
  }
  if (soError != 0) {
    Error = soError;
    return kSocketError;
  }
  // A connect that failed at once has already handed its error to connect()
  // and leaves SO_ERROR clear; only a peer address proves the connection.
  sockaddr_storage peer{};
  socklen_t peerLength = sizeof peer;
  if (getpeername(Native(Socket), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
    Error = errno;
    return kSocketError;
  }
  return 1;
}

int Send(SocketHandle Socket, const void* Data, int Length) {
  for (;;) {
    ssize_t n = send(Native(Socket), Data, static_cast<size_t>(Length), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return kSocketError;
  }
}

namespace {
int ReceiveWith(SocketHandle Socket, void* Buffer, int Length, int Flags) {
  for (;;) {
    ssize_t n = recv(Native(Socket), Buffer, static_cast<size_t>(Length), Flags);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return kSocketError;
  }
}
}  // namespace

int Receive(SocketHandle Socket, void* Buffer, int Length) { return ReceiveWith(Socket, Buffer, Length, 0); }

int Peek(SocketHandle Socket, void* Buffer, int Length) { return ReceiveWith(Socket, Buffer, Length, MSG_PEEK); }

void AcknowledgeAtOnce(SocketHandle Socket) {
#ifdef TCP_QUICKACK
  // Linux leaves quick acknowledgement again on its own, so it is asked for
  // before every receive.
  const int on = 1;
  setsockopt(Native(Socket), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
  (void)Socket;
#endif
}

}  // namespace netplatform
