#pragma once
// The few socket calls the test servers and clients make, one file per
// platform beside this header, so that the same fixtures serve the Linux
// tests and the Windows tests under Wine. Loopback (127.0.0.1, and ::1 where
// asked for) only.

#include <cstddef>
#include <cstdint>
#include <string>

namespace testsocket {

using Handle = std::intptr_t;
inline constexpr Handle kNoSocket = -1;

// A TCP socket bound to 127.0.0.1 (with ipv6: ::1) on a port the system
// chose, or on `port` when it is not 0, which no other socket may share, not
// listening yet. A positive receiveBuffer is set before listen, so accepted
// sockets inherit it and advertise the window it shapes.
// Throws std::runtime_error.
Handle BindLoopback(std::uint16_t& port, int receiveBuffer = 0, bool ipv6 = false);
// Starts listening. Throws std::runtime_error.
void Listen(Handle s, int backlog);
// BindLoopback and Listen with a backlog of 16.
Handle ListenLoopback(std::uint16_t& port, int receiveBuffer = 0);
// A blocking connection to 127.0.0.1:port. Throws std::runtime_error.
Handle ConnectLoopback(std::uint16_t port);
// A non-blocking socket whose connect to 127.0.0.1:port is under way, or
// kNoSocket. Wait for writability to learn how it ended.
Handle StartConnectLoopback(std::uint16_t port);
// One pending connection, blocking, or kNoSocket.
Handle Accept(Handle listener);
// One pending connection, non-blocking and with Nagle's delay off, or
// kNoSocket.
Handle AcceptNonBlocking(Handle listener);

struct TReady {
  bool Readable = false;
  bool Writable = false;
};
// Waits at most timeoutMs for what is asked; an error or hang-up counts as
// both, as the next call then tells what happened. A wait cut short by a
// signal returns nothing ready.
TReady Wait(Handle s, bool read, bool write, int timeoutMs);

// One receive: bytes received, 0 when the peer closed, -1 on failure.
long Receive(Handle s, char* buffer, std::size_t size);
// One send that never raises a signal: bytes sent or -1.
long Send(Handle s, const char* data, std::size_t size);
// Whether the last failure was only a "try again" (would block, interrupted).
bool FailureWasRetry();
// `what` and the system's text for the last failure.
std::string FailureText(const std::string& what);

// Bytes sent but not yet acknowledged by the peer, or -1 when the system
// does not tell.
int UnacknowledgedBytes(Handle s);

// Makes the coming close a reset instead of an orderly close.
void ResetOnClose(Handle s);
// Whether a receive on a connection the peer has reset returns 0, as after an
// orderly close, instead of failing: so under Wine, whose recv hides the
// reset that its send does report.
bool ReceiveReportsResetAsClose();
void ShutdownWrite(Handle s);
void Close(Handle s);

}  // namespace testsocket
