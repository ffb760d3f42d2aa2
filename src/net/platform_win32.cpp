// Socket calls on Windows: WinSock, started as version 1.1, which is enough:
// the look-up (getaddrinfo) and IPv6 sockets come from the same ws2_32
// library whatever version was asked for. WinSock already behaves the way
// TSyncSocket expects (no signals, one error number per thread, select on
// any handle), so most calls pass straight through.

#include "net/platform.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mstcpip.h>

#include <cstring>

#include "net/socket_address.h"

namespace netplatform {

namespace {

// A select time-out from milliseconds, by truncating division.
timeval TimeoutValue(int timeoutMs) {
  timeval tv{};
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  return tv;
}

// One select on one socket in the named sets. timeoutMs 0 waits without
// limit, a negative value polls once.
int SelectOne(SocketHandle s, bool read, bool write, bool except, int timeoutMs) {
  fd_set readSet, writeSet, exceptSet;
  FD_ZERO(&readSet);
  FD_ZERO(&writeSet);
  FD_ZERO(&exceptSet);
  if (read) FD_SET(Native(s), &readSet);
  if (write) FD_SET(Native(s), &writeSet);
  if (except) FD_SET(Native(s), &exceptSet);
  timeval tv = TimeoutValue(timeoutMs < 0 ? 0 : timeoutMs);
  return select(0, read ? &readSet : nullptr, write ? &writeSet : nullptr, except ? &exceptSet : nullptr,
                timeoutMs == 0 ? nullptr : &tv);
}

// The reason a non-blocking connect failed. WinSock leaves it in SO_ERROR;
// the thread's last error may still hold the "would block" of the connect
// call itself, which says nothing about the failure.
int ConnectFailure(SocketHandle s) {
  const int last = WSAGetLastError();
  int error = 0;
  int length = sizeof error;
  if (getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error != 0)
    return error;
  return last;
}

}  // namespace

int StartUp() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data);
}

void CleanUp() { WSACleanup(); }

int LastError() { return WSAGetLastError(); }

bool RawErrorText(int number, std::string& text) {
  char buffer[512];
  DWORD count = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(number), 0, buffer,
                               sizeof buffer, nullptr);
  if (count == 0) return false;
  text.assign(buffer, strnlen(buffer, count));
  return true;
}

bool IsNtFamily() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  // A system that cannot say is a recent one.
  if (!GetVersionExA(&version)) return true;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

SocketHandle OpenSocket(int socketType, Family family) {
  SOCKET s = socket(family == Family::V6 ? AF_INET6 : AF_INET, socketType, 0);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

int CloseSocket(SocketHandle s) { return closesocket(Native(s)) == 0 ? 0 : kSocketError; }

std::uint32_t DottedAddress(const std::string& host) { return inet_addr(host.c_str()); }

bool LookUpHost(const std::string& host, LookUp what, std::vector<Address>& addresses, ResolveFailure& failure) {
  const int rc = GetAddresses(host, what, addresses, WSANO_DATA, WSAHOST_NOT_FOUND);
  if (rc == 0) return true;
  // WinSock's resolver errors are ordinary WinSock error numbers with the
  // system's texts.
  failure.number = rc;
  failure.description.clear();
  return false;
}

int Connect(SocketHandle s, const Address& address, std::uint16_t port) {
  const TSocketAddress peer(address, port);
  return connect(Native(s), peer.Get(), peer.length) == 0 ? 0 : kSocketError;
}

int StartConnect(SocketHandle s, const Address& address, std::uint16_t port) {
  if (Connect(s, address, port) == 0 || WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return kSocketError;
}

int SetNonBlocking(SocketHandle s, bool on) {
  u_long mode = on ? 1 : 0;
  return ioctlsocket(Native(s), FIONBIO, &mode) == 0 ? 0 : kSocketError;
}

int Wait(SocketHandle s, WaitFor what, int timeoutMs) {
  return SelectOne(s, what == WaitFor::Read, what == WaitFor::Write, false, timeoutMs);
}

int WaitConnect(SocketHandle s, int timeoutMs, int& error) {
  error = 0;
  int n = SelectOne(s, false, true, true, timeoutMs);
  if (n == 0) return 0;
  if (n != 1) {
    error = WSAGetLastError();
    return kSocketError;
  }
  // A failed attempt shows in the exception set only and leaves the socket
  // not writable: a short second look tells the two apart.
  constexpr int kSecondLookMs = 350;
  if (SelectOne(s, false, true, false, kSecondLookMs) != 1) {
    error = ConnectFailure(s);
    return kSocketError;
  }
  return 1;
}

int Send(SocketHandle s, const void* data, int length) {
  return send(Native(s), static_cast<const char*>(data), length, 0);
}

int Receive(SocketHandle s, void* buffer, int length) { return recv(Native(s), static_cast<char*>(buffer), length, 0); }

int Peek(SocketHandle s, void* buffer, int length) {
  return recv(Native(s), static_cast<char*>(buffer), length, MSG_PEEK);
}

void AcknowledgeAtOnce(SocketHandle s) {
  // An acknowledgement for every segment, from now on; systems without the
  // setting keep their own.
  DWORD frequency = 1;
  DWORD returned = 0;
  WSAIoctl(Native(s), SIO_TCP_SET_ACK_FREQUENCY, &frequency, sizeof frequency, nullptr, 0, &returned, nullptr,
           nullptr);
}

}  // namespace netplatform
