#include "support/loopback.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace loopback {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool PollFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int n = poll(&p, 1, MillisecondsLeft(deadline));
    if (n >= 0) return n == 1;
    if (errno != EINTR) return false;
  }
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A TCP socket bound to 127.0.0.1 on a port the system chooses.
Fd BoundSocket(std::uint16_t& port) {
  Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) throw std::runtime_error("socket failed");
  sockaddr_in a = LoopbackAddress(0);
  if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind failed");
  socklen_t length = sizeof a;
  getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&a), &length);
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
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

Listener::Listener(int backlog) {
  fd_ = BoundSocket(port_);
  if (listen(fd_.Get(), backlog) != 0) throw std::runtime_error("listen failed");
}

Fd Listener::Accept(int timeoutMs) {
  if (!PollFor(fd_.Get(), POLLIN, timeoutMs)) return Fd();
  return Fd(accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
}

RefusedPort::RefusedPort() { fd_ = BoundSocket(port_); }

FullBacklogListener::FullBacklogListener() : listener_(0) {
  // The system keeps a few more completed connections than the backlog asks
  // for; keep connecting until one attempt goes unanswered.
  for (int i = 0; i < 64 && !full_; ++i) {
    Fd s(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in a = LoopbackAddress(Port());
    connect(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    full_ = !PollFor(s.Get(), POLLOUT, 300);
    fillers_.push_back(std::move(s));
  }
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string ReadUpTo(int fd, std::size_t count, int timeoutMs) {
  std::string got;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (got.size() < count && PollFor(fd, POLLIN, MillisecondsLeft(deadline))) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

bool WaitPeerClosed(int fd, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (PollFor(fd, POLLIN, MillisecondsLeft(deadline))) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
  }
  return false;
}

void CloseWithReset(Fd& fd) {
  linger l{1, 0};
  setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  fd.Reset();
}

int CountOpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count - 1;  // the directory stream's own descriptor
}

DefaultPipeSignal::DefaultPipeSignal() : previous_(signal(SIGPIPE, SIG_DFL)) {}

DefaultPipeSignal::~DefaultPipeSignal() { signal(SIGPIPE, previous_); }

}  // namespace loopback
