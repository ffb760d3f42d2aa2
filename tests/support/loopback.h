#pragma once
// Real TCP endpoints on 127.0.0.1 for socket tests: listeners, a port that
// refuses, a listener that no longer answers, and small helpers for the peer
// side. Every wait here is bounded.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace loopback {

// Owns one descriptor and closes it.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();
  void Reset(int fd = -1);

 private:
  int fd_;
};

// A listening socket on 127.0.0.1 (with ipv6: ::1) with a port the system
// chose.
class Listener {
 public:
  explicit Listener(int backlog = 16, bool ipv6 = false);
  std::uint16_t Port() const { return port_; }
  int Get() const { return fd_.Get(); }
  // One accepted connection, or an invalid Fd when none came within timeoutMs.
  Fd Accept(int timeoutMs = 5000);

 private:
  Fd fd_;
  std::uint16_t port_ = 0;
};

// A port on 127.0.0.1 (with ipv6: ::1) where connects are refused: bound but
// not listening, so no one else takes it while the object lives. The system
// chooses it unless `port` names one.
class RefusedPort {
 public:
  explicit RefusedPort(bool ipv6 = false, std::uint16_t port = 0);
  std::uint16_t Port() const { return port_; }

 private:
  Fd fd_;
  std::uint16_t port_ = 0;
};

// A listener whose accept queue is full, so that the system drops a further
// connection attempt instead of answering it. Full() is false when the queue
// could not be filled within the bounded attempts.
class FullBacklogListener {
 public:
  FullBacklogListener();
  std::uint16_t Port() const { return listener_.Port(); }
  bool Full() const { return full_; }

 private:
  Listener listener_;
  std::vector<Fd> fillers_;
  bool full_ = false;
};

// Whether this machine has the IPv6 loopback address ::1: tests that need it
// skip without it, and say so.
bool HasIpv6Loopback();

// Sends all of data; false when the peer is gone or the send fails.
bool SendAll(int fd, std::string_view data);
// Everything that arrives until `count` bytes are there, the peer closes or
// timeoutMs passes.
std::string ReadUpTo(int fd, std::size_t count, int timeoutMs);
// Waits until the peer has closed (read gives 0 or an error) within timeoutMs.
bool WaitPeerClosed(int fd, int timeoutMs);
// Closes so that the peer receives a reset instead of an orderly close.
void CloseWithReset(Fd& fd);
// Number of descriptors the process has open now (on Windows: sockets).
int CountOpenDescriptors();

// While it lives, a send to a dropped peer has the system's default effect:
// on POSIX a SIGPIPE that ends the process, which the code under test must
// prevent even when something else had ignored the signal. WinSock raises no
// signal, so there it changes nothing.
class DefaultPipeSignal {
 public:
  DefaultPipeSignal();
  ~DefaultPipeSignal();
  DefaultPipeSignal(const DefaultPipeSignal&) = delete;
  DefaultPipeSignal& operator=(const DefaultPipeSignal&) = delete;

 private:
  void (*previous_)(int) = nullptr;
};

}  // namespace loopback
