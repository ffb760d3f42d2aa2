#pragma once
// Shared pieces of the socket tests: catching the raised error, and a socket
// connected to a loopback listener.

#include <gtest/gtest.h>

#include <chrono>

#include "net/sync_socket.h"
#include "support/loopback.h"

namespace syncsocket {

using Clock = std::chrono::steady_clock;

inline long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Runs f, which must raise EVHSyncSockError, and returns the exception.
template <typename F>
EVHSyncSockError Raised(F f) {
  try {
    f();
  } catch (const EVHSyncSockError& e) {
    return e;
  }
  ADD_FAILURE() << "no EVHSyncSockError raised";
  return EVHSyncSockError(1, 0, "");
}

// A socket connected to a listener, and the listener's side of it.
struct Connection {
  loopback::Listener listener;
  TSyncSocket socket{1, true};
  loopback::Socket peer;

  Connection() {
    socket.Connect("127.0.0.1", listener.Port(), 0);
    peer = listener.Accept();
  }
};

}  // namespace syncsocket
