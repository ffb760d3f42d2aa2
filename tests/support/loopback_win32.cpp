// What the loopback endpoints need of WinSock beyond the platform layer.

#include "support/loopback.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>

#include "net/socket_address.h"
#include "support/loopback_bind.h"
#include "net/system_error.h"

namespace loopback {

using netplatform::Native;

namespace {

// The fixtures' own use of WinSock, apart from the code under test, which
// starts and ends its own.
struct TWinSockUse {
  TWinSockUse() { netplatform::StartUp(); }
  ~TWinSockUse() { netplatform::CleanUp(); }
};
const TWinSockUse kWinSockUse;

template <typename T>
void SetOption(Handle s, int level, int name, const T& value) {
  setsockopt(Native(s), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

const int kConnectionRefused = WSAECONNREFUSED;
const int kConnectionReset = WSAECONNRESET;
const int kBrokenPipe = WSAECONNABORTED;
const int kUnknownName = WSAHOST_NOT_FOUND;
const int kWouldBlock = WSAEWOULDBLOCK;

// WinSock's resolver errors are ordinary WinSock numbers with system texts.
std::string ResolverText(int number) { return SystemErrorText(number); }

// Wine's ntdll names its version; Windows' does not.
bool ReceiveReportsResetAsClose() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Counts sockets, the handles the code under test opens. Wine does not count
// a process's handles (GetProcessHandleCount gives 0), so every handle value
// is asked whether it is a socket; handles are small multiples of 4.
int CountOpenDescriptors() {
  int count = 0;
  for (std::uintptr_t value = 4; value < (1u << 16); value += 4) {
    int type = 0;
    int length = sizeof type;
    if (getsockopt(static_cast<SOCKET>(value), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0)
      ++count;
  }
  return count;
}

DefaultPipeSignal::DefaultPipeSignal() = default;

DefaultPipeSignal::~DefaultPipeSignal() = default;

void Socket::ShutdownWrite() const { shutdown(Native(FHandle), SD_SEND); }

// WinSock does not tell how much of the sent data the peer has acknowledged.
int Socket::UnacknowledgedBytes() const { return -1; }

void Socket::CloseWithReset() {
  SetOption(FHandle, SOL_SOCKET, SO_LINGER, linger{1, 0});
  Reset();
}

namespace platform {

bool Bind(Handle s, const netplatform::Address& address, std::uint16_t& port, int receiveBuffer, int backlog) {
  if (receiveBuffer > 0) SetOption(s, SOL_SOCKET, SO_RCVBUF, receiveBuffer);
  SetOption(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, BOOL{TRUE});
  return BindAndListen(s, address, port, backlog);
}

Handle Accept(Handle listener) {
  const SOCKET s = accept(Native(listener), nullptr, nullptr);
  if (s != INVALID_SOCKET) SetOption(s, IPPROTO_TCP, TCP_NODELAY, BOOL{TRUE});
  return s != INVALID_SOCKET ? static_cast<Handle>(s) : netplatform::kInvalidSocket;
}

}  // namespace platform

}  // namespace loopback
