#include "support/test_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <stdexcept>

#include "net/socket_address.h"

namespace testsocket {

namespace {

SOCKET Sock(Handle s) { return static_cast<SOCKET>(s); }
Handle Of(SOCKET s) { return s == INVALID_SOCKET ? kNoSocket : static_cast<Handle>(s); }

// The test fixtures' own use of WinSock, apart from the code under test,
// which starts and ends its own.
struct TWinSockUse {
  TWinSockUse() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~TWinSockUse() { WSACleanup(); }
};
const TWinSockUse kWinSockUse;

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// 127.0.0.1 or ::1 with `port`.
netplatform::TSocketAddress LoopbackAddress(std::uint16_t port, bool ipv6) {
  netplatform::Address address = netplatform::V4Address(htonl(INADDR_LOOPBACK));
  if (ipv6) address = {netplatform::Family::V6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}};
  return {address, port};
}

}  // namespace

Handle BindLoopback(std::uint16_t& port, int receiveBuffer, bool ipv6) {
  SOCKET s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) throw std::runtime_error(FailureText("socket"));
  if (receiveBuffer > 0)
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  netplatform::TSocketAddress address = LoopbackAddress(port, ipv6);
  int length = address.length;
  if (bind(s, address.Get(), length) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address.storage), &length) != 0) {
    std::string text = FailureText("bind");
    closesocket(s);
    throw std::runtime_error(text);
  }
  // The port sits at the same place in both families' records.
  port = ntohs(reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port);
  return Of(s);
}

void Listen(Handle s, int backlog) {
  if (listen(Sock(s), backlog) != 0) throw std::runtime_error(FailureText("listen"));
}

Handle ConnectLoopback(std::uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) throw std::runtime_error(FailureText("socket"));
  sockaddr_in address = Loopback(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::string text = FailureText("connect");
    closesocket(s);
    throw std::runtime_error(text);
  }
  return Of(s);
}

Handle StartConnectLoopback(std::uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return kNoSocket;
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
  sockaddr_in address = Loopback(port);
  connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return Of(s);
}

Handle Accept(Handle listener) { return Of(accept(Sock(listener), nullptr, nullptr)); }

Handle AcceptNonBlocking(Handle listener) {
  SOCKET s = accept(Sock(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  return Of(s);
}

TReady Wait(Handle s, bool read, bool write, int timeoutMs) {
  fd_set readSet, writeSet, exceptSet;
  FD_ZERO(&readSet);
  FD_ZERO(&writeSet);
  FD_ZERO(&exceptSet);
  if (read) FD_SET(Sock(s), &readSet);
  if (write) FD_SET(Sock(s), &writeSet);
  FD_SET(Sock(s), &exceptSet);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  TReady ready;
  if (select(0, &readSet, &writeSet, &exceptSet, &limit) <= 0) return ready;
  const bool trouble = FD_ISSET(Sock(s), &exceptSet);
  ready.Readable = read && (FD_ISSET(Sock(s), &readSet) || trouble);
  ready.Writable = write && (FD_ISSET(Sock(s), &writeSet) || trouble);
  return ready;
}

long Receive(Handle s, char* buffer, std::size_t size) {
  return recv(Sock(s), buffer, static_cast<int>(size), 0);
}

long Send(Handle s, const char* data, std::size_t size) { return send(Sock(s), data, static_cast<int>(size), 0); }

bool FailureWasRetry() {
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

std::string FailureText(const std::string& what) { return what + ": WinSock error " + std::to_string(WSAGetLastError()); }

// WinSock does not tell how much of the sent data the peer has acknowledged.
int UnacknowledgedBytes(Handle) { return -1; }

void ResetOnClose(Handle s) {
  linger hard{1, 0};
  setsockopt(Sock(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
}

// Wine's ntdll names its version; Windows' does not.
bool ReceiveReportsResetAsClose() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void ShutdownWrite(Handle s) { shutdown(Sock(s), SD_SEND); }

void Close(Handle s) { closesocket(Sock(s)); }

}  // namespace testsocket
