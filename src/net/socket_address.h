#pragma once
// Between the platform layer's Address and the socket API's address records.
// The BSD records (sockaddr_in, sockaddr_in6, sockaddr_storage) have the same
// fields on every system this program runs on, so both platform files share
// this code: each includes it after its own socket headers, which is why it
// includes none of them itself.

#include <cstring>

#include "net/platform.h"

namespace netplatform {

// The socket address of address:port, ready for connect().
struct TSocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  TSocketAddress(const Address& address, std::uint16_t port) {
    if (address.family == Family::V6) {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(port);
      std::memcpy(&v6->sin6_addr, address.bytes.data(), 16);
      v6->sin6_scope_id = address.zone;
      length = sizeof *v6;
    } else {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
      v4->sin_family = AF_INET;
      v4->sin_port = htons(port);
      std::memcpy(&v4->sin_addr, address.bytes.data(), 4);
      length = sizeof *v4;
    }
  }
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// The address in a resolver's record; false for a family other than IPv4
// and IPv6.
inline bool ToAddress(const sockaddr* from, Address& address) {
  if (from == nullptr) return false;
  address = Address{};
  if (from->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(from);
    address.family = Family::V6;
    std::memcpy(address.bytes.data(), &v6->sin6_addr, 16);
    address.zone = v6->sin6_scope_id;
    return true;
  }
  if (from->sa_family == AF_INET) {
    std::memcpy(address.bytes.data(), &reinterpret_cast<const sockaddr_in*>(from)->sin_addr, 4);
    return true;
  }
  return false;
}

}  // namespace netplatform
