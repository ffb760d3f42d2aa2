#pragma once
// The part of binding a loopback listener that the BSD socket API does alike
// on every system; each platform file includes this after its own socket
// headers and sets its options first.

#include <cstdint>

#include "net/socket_address.h"
#include "support/loopback.h"

namespace loopback::platform {

// Binds `s` to `address` and `port` (0: the system chooses, and `port`
// learns which) and listens unless `backlog` is negative.
inline bool BindAndListen(Handle s, const netplatform::Address& address, std::uint16_t& port, int backlog) {
  using netplatform::Native;
  netplatform::TSocketAddress bound(address, port);
  if (bind(Native(s), bound.Get(), bound.length) != 0 ||
      getsockname(Native(s), reinterpret_cast<sockaddr*>(&bound.storage), &bound.length) != 0 ||
      (backlog >= 0 && listen(Native(s), backlog) != 0))
    return false;
  // The port sits at the same place in both families' records.
  port = ntohs(reinterpret_cast<sockaddr_in*>(&bound.storage)->sin_port);
  return true;
}

}  // namespace loopback::platform
