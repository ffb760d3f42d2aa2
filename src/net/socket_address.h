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
inline TNativeSocket Native(SocketHandle Socket) { return static_cast<TNativeSocket>(Socket); }

// The socket address of Target:Port, ready for connect().
struct TSocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  TSocketAddress(const Address& Target, std::uint16_t Port) {
    if (Target.family == Family::V6) {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(Port);
      std::memcpy(&v6->sin6_addr, Target.bytes.data(), 16);
      v6->sin6_scope_id = Target.zone;
      length = sizeof *v6;
    } else {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
      v4->sin_family = AF_INET;
      v4->sin_port = htons(Port);
      std::memcpy(&v4->sin_addr, Target.bytes.data(), 4);
      length = sizeof *v4;
    }
  }
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// The address in a resolver's record; false for a family other than IPv4
// and IPv6.
inline bool ToAddress(const sockaddr* From, Address& Result) {
  if (From == nullptr) return false;
  Result = Address{};
  if (From->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(From);
    Result.family = Family::V6;
    std::memcpy(Result.bytes.data(), &v6->sin6_addr, 16);
    Result.zone = v6->sin6_scope_id;
    return true;
  }
  if (From->sa_family == AF_INET) {
    std::memcpy(Result.bytes.data(), &reinterpret_cast<const sockaddr_in*>(From)->sin_addr, 4);
    return true;
  }
  return false;
}

// getaddrinfo for LookUpHost: every IPv4 and IPv6 address it gives for Host,
// in its order. Returns its result, or NoAddress when it gave none of them.
// Text that is no IPv6 address, whatever else it holds (an IPv4 address,
// say), is a name no one has: an IPv6 literal that fails gives UnknownName.
inline int GetAddresses(const std::string& Host, LookUp What, std::vector<Address>& Addresses, int NoAddress,
                        int UnknownName) {
  addrinfo hints{};
  hints.ai_family = What == LookUp::Name ? AF_UNSPEC : AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = What == LookUp::Name ? 0 : AI_NUMERICHOST;
  addrinfo* found = nullptr;
  Addresses.clear();
  int rc = getaddrinfo(Host.c_str(), nullptr, &hints, &found);
  if (rc == 0) {
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
      Address address;
      if (ToAddress(entry->ai_addr, address)) Addresses.push_back(address);
    }
    freeaddrinfo(found);
    if (Addresses.empty()) rc = NoAddress;
  }
  return rc != 0 && What == LookUp::Ipv6Literal ? UnknownName : rc;
}

}  // namespace netplatform
