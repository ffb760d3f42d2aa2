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
timeval TimeoutValue(int TimeoutMs) {
  timeval tv{};
  tv.tv_sec = TimeoutMs / 1000;
  tv.tv_usec = (TimeoutMs % 1000) * 1000;
  return tv;
}

// One select on one socket in the named sets. TimeoutMs 0 waits without
// limit, a negative value polls once.
int SelectOne(SocketHandle Socket, bool InReadSet, bool InWriteSet, bool InExceptSet, int TimeoutMs) {
  fd_set readSet, writeSet, exceptSet;
  FD_ZERO(&readSet);
  FD_ZERO(&writeSet);
  FD_ZERO(&exceptSet);
  if (InReadSet) FD_SET(Native(Socket), &readSet);
  if (InWriteSet) FD_SET(Native(Socket), &writeSet);
  if (InExceptSet) FD_SET(Native(Socket), &exceptSet);
  timeval tv = TimeoutValue(TimeoutMs < 0 ? 0 : TimeoutMs);
  return select(0, InReadSet ? &readSet : nullptr, InWriteSet ? &writeSet : nullptr, InExceptSet ? &exceptSet : nullptr,
                TimeoutMs == 0 ? nullptr : &tv);
}

// The reason a non-blocking connect failed. WinSock leaves it in SO_ERROR;
// the thread's last error may still hold the "would block" of the connect
// call itself, which says nothing about the failure.
int ConnectFailure(SocketHandle Socket) {
  const int last = WSAGetLastError();
  int error = 0;
  int length = sizeof error;
  if (getsockopt(Native(Socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error != 0)
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

bool RawErrorText(int Number, std::string& Text) {
  char buffer[512];
  DWORD count = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(Number), 0, buffer,
                               sizeof buffer, nullptr);
  if (count == 0) return false;
  Text.assign(buffer, strnlen(buffer, count));
  return true;
}

bool IsNtFamily() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  // A system that cannot say is a recent one.
  if (!GetVersionExA(&version)) return true;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

SocketHandle OpenSocket(int SocketType, Family AddressFamily) {
  SOCKET s = socket(AddressFamily == Family::V6 ? AF_INET6 : AF_INET, SocketType, 0);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

int CloseSocket(SocketHandle Socket) { return closesocket(Native(Socket)) == 0 ? 0 : kSocketError; }

std::uint32_t DottedAddress(const std::string& Host) { return inet_addr(Host.c_str()); }

bool LookUpHost(const std::string& Host, LookUp What, std::vector<Address>& Addresses, ResolveFailure& Failure) {
  const int rc = GetAddresses(Host, What, Addresses, WSANO_DATA, WSAHOST_NOT_FOUND);
  if (rc == 0) return true;
  // WinSock's resolver errors are ordinary WinSock error numbers with the
  // system's texts.
  Failure.number = rc;
  Failure.description.clear();
  return false;
}

int Connect(SocketHandle Socket, const Address& Target, std::uint16_t Port) {
  const TSocketAddress peer(Target, Port);
  return connect(Native(Socket), peer.Get(), peer.length) == 0 ? 0 : kSocketError;
}

int StartConnect(SocketHandle Socket, const Address& Target, std::uint16_t Port) {
  if (Connect(Socket, Target, Port) == 0 || WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return kSocketError;
}

int SetNonBlocking(SocketHandle Socket, bool On) {
  u_long mode = On ? 1 : 0;
  return ioctlsocket(Native(Socket), FIONBIO, &mode) == 0 ? 0 : kSocketError;
}

int Wait(SocketHandle Socket, WaitFor What, int TimeoutMs) {
  return SelectOne(Socket, What == WaitFor::Read, What == WaitFor::Write, false, TimeoutMs);
}

int WaitConnect(SocketHandle Socket, int TimeoutMs, int& Error) {
  Error = 0;
  int n = SelectOne(Socket, false, true, true, TimeoutMs);
  if (n == 0) return 0;
  if (n != 1) {
    Error = WSAGetLastError();
    return kSocketError;
  }
  // A failed attempt shows in the exception set only and leaves the socket
  // not writable: a short second look tells the two apart.
  constexpr int kSecondLookMs = 350;
  if (SelectOne(Socket, false, true, false, kSecondLookMs) != 1) {
    Error = ConnectFailure(Socket);
    return kSocketError;
  }
  return 1;
}

int Send(SocketHandle Socket, const void* Data, int Length) {
  return send(Native(Socket), static_cast<const char*>(Data), Length, 0);
}

int Receive(SocketHandle Socket, void* Buffer, int Length) {
  return recv(Native(Socket), static_cast<char*>(Buffer), Length, 0);
}

int Peek(SocketHandle Socket, void* Buffer, int Length) {
  return recv(Native(Socket), static_cast<char*>(Buffer), Length, MSG_PEEK);
}

void AcknowledgeAtOnce(SocketHandle Socket) {
  // An acknowledgement for every segment, from now on; systems without the
  // setting keep their own.
  DWORD frequency = 1;
  DWORD returned = 0;
  WSAIoctl(Native(Socket), SIO_TCP_SET_ACK_FREQUENCY, &frequency, sizeof frequency, nullptr, 0, &returned, nullptr,
           nullptr);
}

}  // namespace netplatform
