#pragma once
// Real TCP endpoints on 127.0.0.1 (and ::1 where asked for) for the tests, on
// the program's own platform layer; every wait is bounded. What that layer
// lacks sits in loopback_posix.cpp and loopback_win32.cpp.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/platform.h"

namespace loopback {

// A name no look-up resolves, asking no name server: its first label is
// longer than DNS allows.
inline constexpr const char* kUnresolvableHost =
    "tolvane-unresolvable-xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx.invalid";

using Handle = netplatform::SocketHandle;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How a connection ended, as ReadToEnd saw it.
enum class TEnd { Closed, Reset, TimedOut };

// Owns one socket and closes it; plays one end of a connection by hand.
class Socket {
 public:
  explicit Socket(Handle handle = netplatform::kInvalidSocket) : FHandle(handle) {}
  ~Socket() { Reset(); }
  Socket(Socket&& other) noexcept : FHandle(other.FHandle) { other.FHandle = netplatform::kInvalidSocket; }
  Socket& operator=(Socket&& other) noexcept;

  Handle Get() const { return FHandle; }
  bool Valid() const { return FHandle != netplatform::kInvalidSocket; }
  void Reset(Handle handle = netplatform::kInvalidSocket);

  // Sends all of `data`; false once the peer is gone.
  bool Send(std::string_view data) const;
  // One receive within `timeout`; empty on time-out, close or reset.
  std::string ReceiveOnce(milliseconds timeout) const;
  // Receives until `marker` has arrived, the peer closes or `timeout` passes.
  std::string ReceiveUntil(std::string_view marker, milliseconds timeout) const;
  // Appends to `data` until the peer closes or resets or `timeout` passes.
  TEnd ReadToEnd(milliseconds timeout, std::string& data) const;
  void ShutdownWrite() const;  // receiving goes on
  // Bytes sent but not yet acknowledged by the peer; -1 where the system
  // does not tell.
  int UnacknowledgedBytes() const;
  // Closes so that the peer sees a reset instead of an orderly close.
  void CloseWithReset();

 private:
  Handle FHandle;
};

// A blocking connection to 127.0.0.1:`port`; throws std::runtime_error.
Socket Connect(std::uint16_t port);

// A listener on 127.0.0.1 (with ipv6: ::1) on a port the system chose; a
// positive receiveBuffer is inherited by the accepted sockets. Throws
// std::runtime_error.
class Listener {
 public:
  explicit Listener(int backlog = 16, bool ipv6 = false, int receiveBuffer = 0);
  std::uint16_t Port() const { return FPort; }
  Handle Get() const { return FSocket.Get(); }
  // One connection, with Nagle's delay off, or an invalid Socket when none
  // came within `timeout`.
  Socket Accept(milliseconds timeout = std::chrono::seconds(5));

 private:
  std::uint16_t FPort = 0;  // before FSocket, whose making sets it
  Socket FSocket;
};

// A port on 127.0.0.1 (with ipv6: ::1) where connects are refused: bound,
// not listening, so no one else takes it while the object lives. The system
// chooses it unless `port` names one. Throws std::runtime_error.
class RefusedPort {
 public:
  explicit RefusedPort(bool ipv6 = false, std::uint16_t port = 0);
  std::uint16_t Port() const { return FPort; }

 private:
  std::uint16_t FPort;
  Socket FSocket;
};

// A listener whose accept queue is full, so that the system drops a further
// connection attempt instead of answering it. Full() is false when the queue
// could not be filled within the bounded attempts.
class FullBacklogListener {
 public:
  FullBacklogListener();
  std::uint16_t Port() const { return FListener.Port(); }
  bool Full() const { return FFull; }

 private:
  Listener FListener;
  std::vector<Socket> FFillers;
  bool FFull = false;
};

bool HasIpv6Loopback();  // tests that need ::1 skip without it, and say so

// Whether the socket becomes ready for `what` within `timeout` (0: one look).
bool Ready(Handle socket, netplatform::WaitFor what, milliseconds timeout);
// `what` and the system's text for the last socket failure.
std::string FailureText(const std::string& what);

// The platform's own numbers for the failures the socket tests stage, so that
// they can state the exact message the user sees on every platform. WinSock
// has no broken pipe: a send to a dropped peer there is an aborted connection.
extern const int kConnectionRefused;
extern const int kConnectionReset;
extern const int kBrokenPipe;
extern const int kUnknownName;  // the resolver's, for a name no one has
extern const int kWouldBlock;
// The description a failed name look-up carries for its number.
std::string ResolverText(int number);

// Whether a receive on a connection the peer has reset returns 0, as after an
// orderly close: so under Wine, whose recv hides the reset its send reports.
bool ReceiveReportsResetAsClose();
// Number of descriptors the process has open now (on Windows: sockets).
int CountOpenDescriptors();

// While it lives, a send to a dropped peer has the system's default effect:
// on POSIX a SIGPIPE that ends the process, which the code under test must
// prevent. WinSock raises no signal: there it changes nothing.
class DefaultPipeSignal {
 public:
  DefaultPipeSignal();
  ~DefaultPipeSignal();
  DefaultPipeSignal(const DefaultPipeSignal&) = delete;
  DefaultPipeSignal& operator=(const DefaultPipeSignal&) = delete;

 private:
  void (*FPrevious)(int) = nullptr;
};

namespace platform {
// Binds `s` to `address` and `port`, which no other socket may share (0: the
// system chooses, and `port` learns which), with the receive buffer set first
// when positive, and listens unless `backlog` is negative. False, with the
// number for LastError, when that fails.
bool Bind(Handle s, const netplatform::Address& address, std::uint16_t& port, int receiveBuffer, int backlog);
// One pending connection with Nagle's delay off, or kInvalidSocket.
Handle Accept(Handle listener);
}  // namespace platform

}  // namespace loopback
