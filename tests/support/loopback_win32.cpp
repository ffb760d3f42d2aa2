// What the loopback helpers do differently over WinSock.

#include "support/loopback.h"

#include <winsock2.h>

#include <cstdint>

namespace loopback {

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

}  // namespace loopback
