#pragma once
// Real TCP endpoints on loopback for the tests, on the program's own platform
// layer: a socket that plays one end of a connection (the end a listener
// accepted, or a client of the test's own), listeners, a port that refuses,
// a listener that no longer answers. 127.0.0.1, and ::1 where asked for;
// every wait is bounded. What the platform layer does not offer (binding,
// listening, accepting, how a socket ends) sits in loopback_posix.cpp and
// loopback_win32.cpp.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/platform.h"

namespace loopback {

// A host name that no look-up resolves and that asks no name server: its
// first label is longer than DNS allows (63 bytes), so the resolver refuses
// the name itself. Tests never ask the machine's name servers.
inline constexpr const char* kUnresolvableHost =
    "tolvane-unresolvable-xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx.invalid";

using Handle = netplatform::SocketHandle;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How a connection ended, as ReadToEnd saw it.
enum class TEnd { Closed, Reset, TimedOut };

// Owns one socket and closes it. For a connected one, the calls a test
// needs to play that end of the connection by hand.
class Socket {
 public:
  explicit Socket(Handle handle = netplatform::kInvalidSocket) : FHandle(handle) {}
  ~Socket() { Reset(); }
  Socket(Socket&& other) noexcept : FHandle(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  Handle Get() const { return FHandle; }
  bool Valid() const { return FHandle != netplatform::kInvalidSocket; }
  Handle Release();
  // Closes the socket held, if any, and holds `handle` instead.
  void Reset(Handle handle = netplatform::kInvalidSocket);

  // Sends all of `data`; false once the peer is gone.
  bool Send(std::string_view data) const;
  // One receive within `timeout`; empty on time-out, close or reset.
  std::string ReceiveOnce(milliseconds timeout) const;
  // Receives until `marker` has arrived, the peer has closed or `timeout`
  // has passed; returns everything received.
  std::string ReceiveUntil(std::string_view marker, milliseconds timeout) const;
  // Receives until the peer closes or resets, or `timeout` passes; whatever
  // arrives meanwhile is appended to `data`.
  TEnd ReadToEnd(milliseconds timeout, std::string& data) const;
  // Sends the end of this side's stream; receiving goes on.
  void ShutdownWrite() const;
  // Bytes sent but not yet acknowledged by the peer, or -1 where the system
  // does not tell.
  int UnacknowledgedBytes() const;
  // Closes so that the peer sees a reset instead of an orderly close.
  void CloseWithReset();

 private:
  Handle FHandle;
};

// A blocking connection to 127.0.0.1:`port`. Throws std::runtime_error when
// it cannot be made (nothing listens there, say).
Socket Connect(std::uint16_t port);

// A listening socket on 127.0.0.1 (with ipv6: ::1) on a port the system
// chose. A positive receiveBuffer is set before listen, so accepted sockets
// inherit it and advertise the window it shapes. Throws std::runtime_error.
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

// A port on 127.0.0.1 (with ipv6: ::1) where connects are refused: bound but
// not listening, so no one else takes it while the object lives. The system
// chooses it unless `port` names one. Throws std::runtime_error.
class RefusedPort {
 public:
  explicit RefusedPort(bool ipv6 = false, std::uint16_t port = 0);
  std::uint16_t Port() const { return FPort; }

 private:
  Socket FSocket;
  std::uint16_t FPort = 0;
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

// Whether this machine has the IPv6 loopback address ::1: tests that need it
// skip without it, and say so.
bool HasIpv6Loopback();

// Milliseconds left until `deadline`, at least 0.
milliseconds Left(Clock::time_point deadline);
// Whether the socket becomes ready for `what` within `timeout`; a timeout of
// 0 looks once.
bool Ready(Handle socket, netplatform::WaitFor what, milliseconds timeout);
// `what` and the system's text for the last socket failure.
std::string FailureText(const std::string& what);

// The platform's own numbers for the failures the socket tests stage, so that
// they can state the exact message the user sees on every platform.
extern const int kConnectionRefused;
extern const int kConnectionReset;
// WinSock has no broken pipe of its own: its number for a send to a dropped
// peer is that of an aborted connection.
extern const int kBrokenPipe;
extern const int kNetworkUnreachable;
// The resolver's number for a name no one has.
extern const int kUnknownName;
// A non-blocking call that would have had to wait.
extern const int kWouldBlock;
// The description a failed name look-up carries for its number.
std::string ResolverText(int number);

// Whether a receive on a connection the peer has reset returns 0, as after an
// orderly close, instead of failing: so under Wine, whose recv hides the
// reset that its send does report.
bool ReceiveReportsResetAsClose();
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
  void (*FPrevious)(int) = nullptr;
};

// The calls of the platform file behind the classes above.
namespace platform {
// A stream socket of the address's family bound to it and `port` (0: the
// system chooses, and `port` learns which), which no other socket may
// share; kInvalidSocket on failure, with the number for LastError.
Handle Bind(const netplatform::Address& address, std::uint16_t& port, int receiveBuffer);
// 0 or kSocketError.
int Listen(Handle listener, int backlog);
// One pending connection with Nagle's delay off, or kInvalidSocket.
Handle Accept(Handle listener);
void ShutdownWrite(Handle socket);
void LingerNot(Handle socket);
int UnacknowledgedBytes(Handle socket);
}  // namespace platform

}  // namespace loopback
