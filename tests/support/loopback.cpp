// Loopback endpoints built on the test socket layer, the same on every
// platform; only counting descriptors and the pipe signal differ.

#include "support/loopback.h"

#include <chrono>
#include <stdexcept>

#include "support/test_socket.h"

namespace loopback {

namespace {

using Clock = std::chrono::steady_clock;

testsocket::Handle H(int fd) { return static_cast<testsocket::Handle>(fd); }
int Int(testsocket::Handle s) { return static_cast<int>(s); }

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until fd is readable or the deadline passes; a wait cut short by a
// signal is taken up again.
bool ReadableBefore(int fd, Clock::time_point deadline) {
  do {
    if (testsocket::Wait(H(fd), true, false, MillisecondsLeft(deadline)).Readable) return true;
  } while (Clock::now() < deadline);
  return false;
}

// One receive into buffer, taken up again after an interruption.
long ReceiveOnce(int fd, char* buffer, std::size_t size) {
  for (;;) {
    long n = testsocket::Receive(H(fd), buffer, size);
    if (n >= 0 || !testsocket::FailureWasRetry()) return n;
  }
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
  if (fd_ >= 0) testsocket::Close(H(fd_));
  fd_ = fd;
}

Listener::Listener(int backlog, bool ipv6) {
  fd_ = Fd(Int(testsocket::BindLoopback(port_, 0, ipv6)));
  testsocket::Listen(H(fd_.Get()), backlog);
}

Fd Listener::Accept(int timeoutMs) {
  if (!ReadableBefore(fd_.Get(), Clock::now() + std::chrono::milliseconds(timeoutMs))) return Fd();
  return Fd(Int(testsocket::Accept(H(fd_.Get()))));
}

RefusedPort::RefusedPort(bool ipv6, std::uint16_t port) : port_(port) {
  fd_ = Fd(Int(testsocket::BindLoopback(port_, 0, ipv6)));
}

FullBacklogListener::FullBacklogListener() : listener_(0) {
  // The system keeps a few more completed connections than the backlog asks
  // for; keep connecting until one attempt goes unanswered.
  for (int i = 0; i < 64 && !full_; ++i) {
    Fd s(Int(testsocket::StartConnectLoopback(Port())));
    full_ = s.Valid() && !testsocket::Wait(H(s.Get()), false, true, 300).Writable;
    fillers_.push_back(std::move(s));
  }
}

bool HasIpv6Loopback() {
  try {
    RefusedPort probe(true);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    long n = testsocket::Send(H(fd), data.data(), data.size());
    if (n < 0 && testsocket::FailureWasRetry()) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string ReadUpTo(int fd, std::size_t count, int timeoutMs) {
  std::string got;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (got.size() < count && ReadableBefore(fd, deadline)) {
    long n = ReceiveOnce(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

bool WaitPeerClosed(int fd, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (ReadableBefore(fd, deadline)) {
    if (ReceiveOnce(fd, buffer, sizeof buffer) <= 0) return true;
  }
  return false;
}

void CloseWithReset(Fd& fd) {
  testsocket::ResetOnClose(H(fd.Get()));
  fd.Reset();
}

}  // namespace loopback
