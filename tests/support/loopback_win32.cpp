// Loopback endpoints over WinSock.

#include "support/loopback.h"

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <stdexcept>

namespace loopback {

namespace {

using Clock = std::chrono::steady_clock;

// The test program's own use of WinSock, apart from the code under test,
// which starts and ends its own.
struct WinSockUse {
  WinSockUse() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinSockUse() { WSACleanup(); }
};
const WinSockUse kWinSockUse;

// Handles are kept in an int, as the tests pass them around; socket handles
// are small numbers, and INVALID_SOCKET becomes -1.
SOCKET Sock(int fd) { return static_cast<SOCKET>(static_cast<std::intptr_t>(fd)); }
int Int(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool SelectFor(int fd, bool write, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Sock(fd), &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &tv) == 1;
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A TCP socket bound to 127.0.0.1 on a port the system chooses, which no
// other socket may share.
Fd BoundSocket(std::uint16_t& port) {
  Fd fd(Int(socket(AF_INET, SOCK_STREAM, 0)));
  if (!fd.Valid()) throw std::runtime_error("socket failed");
  BOOL exclusive = TRUE;
  setsockopt(Sock(fd.Get()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  sockaddr_in a = LoopbackAddress(0);
  if (bind(Sock(fd.Get()), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind failed");
  int length = sizeof a;
  getsockname(Sock(fd.Get()), reinterpret_cast<sockaddr*>(&a), &length);
  port = ntohs(a.sin_port);
  return fd;
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int Fd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::Reset(int fd) {
  if (fd_ >= 0) closesocket(Sock(fd_));
  fd_ = fd;
}

Listener::Listener(int backlog) {
  fd_ = BoundSocket(port_);
  if (listen(Sock(fd_.Get()), backlog) != 0) throw std::runtime_error("listen failed");
}

Fd Listener::Accept(int timeoutMs) {
  if (!SelectFor(fd_.Get(), false, timeoutMs)) return Fd();
  return Fd(Int(accept(Sock(fd_.Get()), nullptr, nullptr)));
}

RefusedPort::RefusedPort() { fd_ = BoundSocket(port_); }

FullBacklogListener::FullBacklogListener() : listener_(0) {
  // The system keeps a few more completed connections than the backlog asks
  // for; keep connecting until one attempt goes unanswered.
  for (int i = 0; i < 64 && !full_; ++i) {
    Fd s(Int(socket(AF_INET, SOCK_STREAM, 0)));
    u_long on = 1;
    ioctlsocket(Sock(s.Get()), FIONBIO, &on);
    sockaddr_in a = LoopbackAddress(Port());
    connect(Sock(s.Get()), reinterpret_cast<sockaddr*>(&a), sizeof a);
    full_ = !SelectFor(s.Get(), true, 300);
    fillers_.push_back(std::move(s));
  }
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    int n = send(Sock(fd), data.data(), static_cast<int>(data.size()), 0);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string ReadUpTo(int fd, std::size_t count, int timeoutMs) {
  std::string got;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (got.size() < count && SelectFor(fd, false, MillisecondsLeft(deadline))) {
    int n = recv(Sock(fd), buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

bool WaitPeerClosed(int fd, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (SelectFor(fd, false, MillisecondsLeft(deadline))) {
    if (recv(Sock(fd), buffer, sizeof buffer, 0) <= 0) return true;
  }
  return false;
}

void CloseWithReset(Fd& fd) {
  linger l{1, 0};
  setsockopt(Sock(fd.Get()), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  fd.Reset();
}

// Counts sockets, the handles the code under test opens. Wine does not count
// a process's handles (GetProcessHandleCount gives 0), so every handle value
// is asked whether it is a socket; handles are small multiples of 4.
int CountOpenDescriptors() {
  int count = 0;
  for (std::uintptr_t value = 4; value < (1u << 16); value += 4) {
    int type = 0;
    int length = sizeof type;
    if (getsockopt(static_cast<SOCKET>(value), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0)
      ++count;
  }
  return count;
}

DefaultPipeSignal::DefaultPipeSignal() = default;

DefaultPipeSignal::~DefaultPipeSignal() = default;

}  // namespace loopback
