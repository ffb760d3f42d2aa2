// The calls of the test socket layer that are the same on every platform.

#include "support/test_socket.h"

namespace testsocket {

Handle ListenLoopback(std::uint16_t& port, int receiveBuffer) {
  const Handle s = BindLoopback(port, receiveBuffer);
  try {
    Listen(s, 16);
  } catch (...) {
    Close(s);
    throw;
  }
  return s;
}

}  // namespace testsocket
