#pragma once
// What the platform files have in common: the system's own handle of a
// socket, the way between the platform layer's Address and the socket API's
// address records, and the look-up that fills a list of them. The BSD
// records (sockaddr_in, sockaddr_in6, sockaddr_storage, addrinfo) and
// getaddrinfo are the same on every system this program runs on, so both
// platform files share this code: each includes it after its own socket
// headers, which is why it includes none of them itself.

#include <cstring>

#include "net/platform.h"

namespace netplatform {

// The system's own handle of a socket: a SOCKET on Windows, a file
// descriptor elsewhere.
using TNativeSocket = decltype(socket(0, 0, 0));
inline TNativeSocket Native(SocketHandle s) { return static_cast<TNativeSocket>(s); }

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

// getaddrinfo for LookUpHost: every IPv4 and IPv6 address it gives for host,
// in its order. Returns its result, or noAddress when it gave none of them.
// Text that is no IPv6 address, whatever else it holds (an IPv4 address,
// say), is a name no one has: an IPv6 literal that fails gives unknownName.
inline int GetAddresses(const std::string& host, LookUp what, std::vector<Address>& addresses, int noAddress,
                        int unknownName) {
  addrinfo hints{};
  hints.ai_family = what == LookUp::Name ? AF_UNSPEC : AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = what == LookUp::Name ? 0 : AI_NUMERICHOST;
  addrinfo* found = nullptr;
  addresses.clear();
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc == 0) {
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
      Address address;
      if (ToAddress(entry->ai_addr, address)) addresses.push_back(address);
    }
    freeaddrinfo(found);
    if (addresses.empty()) rc = noAddress;
  }
  return rc != 0 && what == LookUp::Ipv6Literal ? unknownName : rc;
}

}  // namespace netplatform
