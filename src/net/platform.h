#pragma once
// The operating system's socket calls, cut down to what TSyncSocket needs.
//
// One implementation per platform sits beside this header (platform_posix.cpp,
// platform_win32.cpp). The calls keep WinSock's shape so that TSyncSocket reads
// the same on every platform: a call that fails returns kSocketError (or
// kInvalidSocket) and leaves its number for LastError(); socket types use
// WinSock's numbering (1 stream, 2 datagram); addresses are bytes in network
// byte order. Nothing here raises.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace netplatform {

using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};
inline constexpr int kSocketError = -1;
// What the dotted-address parser returns for "not a dotted address"; it is
// also the bit pattern of 255.255.255.255, which therefore goes to the resolver.
inline constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;

// Starts the socket library once for the caller: 0, or the start-up's own
// error number (it does not set LastError). Each success owes one CleanUp.
int StartUp();
// Ends the use that one successful StartUp began.
void CleanUp();

// Error number of the calling thread's most recent failed socket call.
int LastError();
// The system's own, untrimmed text for an error number; false when the
// system has no text for it.
bool RawErrorText(int Number, std::string& Text);

// True on the operating-system family whose timed connect is finished with
// WaitConnect; the others use a plain Wait for writability. Asked once.
bool IsNtFamily();

enum class Family { V4, V6 };

// One address of a host. An IPv4 address takes the first four bytes; zone is
// the interface index of a scoped IPv6 address (fe80::1%eth0), else 0.
struct Address {
  Family family = Family::V4;
  std::array<std::uint8_t, 16> bytes{};
  std::uint32_t zone = 0;
  bool operator==(const Address&) const = default;
};
// The IPv4 address of DottedAddress's result.
inline Address V4Address(std::uint32_t NetworkOrder) {
  Address address;
  std::memcpy(address.bytes.data(), &NetworkOrder, sizeof NetworkOrder);
  return address;
}

// A new socket of the given type and address family, or kInvalidSocket.
SocketHandle OpenSocket(int SocketType, Family AddressFamily);
// 0 or kSocketError.
int CloseSocket(SocketHandle Socket);

// A failed look-up: the resolver's number and, where the resolver numbers its
// failures apart from the system's errors, its own description. An empty
// description means the number is a system error number with the usual text.
struct ResolveFailure {
  int number = 0;
  std::string description;
};
// The host as a dotted IPv4 address (inet_addr), or kAddressNone.
std::uint32_t DottedAddress(const std::string& Host);
// What LookUpHost accepts: any host, by the system's name services; or only
// an IPv6 address written out (a zone allowed), which asks no one and fails
// as for an unknown name otherwise.
enum class LookUp { Name, Ipv6Literal };
// Every IPv4 and IPv6 address of a host, in the resolver's order. On failure
// fills `Failure` and returns false.
bool LookUpHost(const std::string& Host, LookUp What, std::vector<Address>& Addresses, ResolveFailure& Failure);

// connect() to Target:Port; 0 or kSocketError.
int Connect(SocketHandle Socket, const Address& Target, std::uint16_t Port);
// connect() on a non-blocking socket: 0 when the attempt is under way (or
// already done), kSocketError when it failed at once.
int StartConnect(SocketHandle Socket, const Address& Target, std::uint16_t Port);
// Switches non-blocking mode on or off; 0 or kSocketError.
int SetNonBlocking(SocketHandle Socket, bool On);

enum class WaitFor { Read, Write };
// Waits until the socket is readable or writable: 1 ready, 0 time-out,
// kSocketError on failure. TimeoutMs 0 waits without limit; a negative value
// polls once; anything else is a limit in milliseconds.
int Wait(SocketHandle Socket, WaitFor What, int TimeoutMs);
// Waits for a non-blocking connect to finish (the NT-family way): 1 connected,
// 0 time-out, kSocketError when the wait or the attempt failed, with the
// number of what failed in `Error` (it may be 0 when the system gives none).
int WaitConnect(SocketHandle Socket, int TimeoutMs, int& Error);

// One send() that never raises a signal: bytes sent or kSocketError.
int Send(SocketHandle Socket, const void* Data, int Length);
// One recv(): bytes received, 0 when the peer has closed, or kSocketError.
int Receive(SocketHandle Socket, void* Buffer, int Length);
// As Receive, but the bytes stay queued for the next Receive.
int Peek(SocketHandle Socket, void* Buffer, int Length);

// Asks the system to acknowledge what arrives next at once instead of
// delaying the acknowledgement. A server that writes twice in a row holds
// its second write until the first is acknowledged, as a TLS server does
// with its session tickets and then its answer. Best effort; some systems
// need it again before every receive.
void AcknowledgeAtOnce(SocketHandle Socket);

}  // namespace netplatform
