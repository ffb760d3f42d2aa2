#include "support/test_socket.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "net/socket_address.h"

namespace testsocket {

namespace {

int Fd(Handle s) { return static_cast<int>(s); }

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// 127.0.0.1 or ::1 with `port`.
netplatform::TSocketAddress LoopbackAddress(std::uint16_t port, bool ipv6) {
  netplatform::Address address = netplatform::V4Address(htonl(INADDR_LOOPBACK));
  if (ipv6) address = {netplatform::Family::V6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}};
  return {address, port};
}

}  // namespace

Handle BindLoopback(std::uint16_t& port, int receiveBuffer, bool ipv6) {
  int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(FailureText("socket"));
  if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  netplatform::TSocketAddress address = LoopbackAddress(port, ipv6);
  socklen_t length = address.length;
  if (bind(fd, address.Get(), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address.storage), &length) != 0) {
    std::string text = FailureText("bind");
    close(fd);
    throw std::runtime_error(text);
  }
  // The port sits at the same place in both families' records.
  port = ntohs(reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port);
  return fd;
}

void Listen(Handle s, int backlog) {
  if (listen(Fd(s), backlog) != 0) throw std::runtime_error(FailureText("listen"));
}

Handle ConnectLoopback(std::uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(FailureText("socket"));
  sockaddr_in address = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::string text = FailureText("connect");
    close(fd);
    throw std::runtime_error(text);
  }
  return fd;
}

Handle StartConnectLoopback(std::uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoSocket;
  sockaddr_in address = Loopback(port);
  connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return fd;
}

Handle Accept(Handle listener) {
  int fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  return fd < 0 ? kNoSocket : fd;
}

Handle AcceptNonBlocking(Handle listener) {
  int fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return kNoSocket;
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

TReady Wait(Handle s, bool read, bool write, int timeoutMs) {
  pollfd entry{Fd(s), static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0)), 0};
  TReady ready;
  if (poll(&entry, 1, timeoutMs) <= 0) return ready;
  const bool trouble = entry.revents & (POLLERR | POLLHUP);
  ready.Readable = read && ((entry.revents & POLLIN) || trouble);
  ready.Writable = write && ((entry.revents & POLLOUT) || trouble);
  return ready;
}

long Receive(Handle s, char* buffer, std::size_t size) { return recv(Fd(s), buffer, size, 0); }

long Send(Handle s, const char* data, std::size_t size) { return send(Fd(s), data, size, MSG_NOSIGNAL); }

bool FailureWasRetry() { return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK; }

std::string FailureText(const std::string& what) { return what + ": " + std::strerror(errno); }

int UnacknowledgedBytes(Handle s) {
  int unsent = 0;
  return ioctl(Fd(s), SIOCOUTQ, &unsent) == 0 ? unsent : -1;
}

void ResetOnClose(Handle s) {
  linger hard{1, 0};
  setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

bool ReceiveReportsResetAsClose() { return false; }

void ShutdownWrite(Handle s) { shutdown(Fd(s), SHUT_WR); }

void Close(Handle s) { close(Fd(s)); }

}  // namespace testsocket
