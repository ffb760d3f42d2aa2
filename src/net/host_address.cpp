#include "net/host_address.h"

#include <algorithm>
#include <cstring>

namespace np = netplatform;

namespace {

// Brackets mark an IPv6 address the way URLs write it. Anything else in
// brackets fails as a name no one has, as it always did: the resolver is not
// asked, since some would strip the brackets and find what is inside.
bool InBrackets(const std::string& Host) { return Host.size() > 2 && Host.front() == '[' && Host.back() == ']'; }

// ::ffff:a.b.c.d goes out as a.b.c.d over IPv4: an IPv6 socket need not
// reach IPv4 at all (Windows' do not by default), and an IPv4 look-up gave
// that address before IPv6 was ever asked for.
void Unmap(np::Address& Address) {
  static constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (Address.family != np::Family::V6 || std::memcmp(Address.bytes.data(), kMappedPrefix, 12) != 0) return;
  np::Address v4;
  std::memcpy(v4.bytes.data(), Address.bytes.data() + 12, 4);
  Address = v4;
}

}  // namespace

bool ResolveHost(const std::string& Host, std::vector<np::Address>& Addresses, np::ResolveFailure& Failure) {
  const std::uint32_t dotted = np::DottedAddress(Host);
  if (dotted != np::kAddressNone) {
    Addresses.assign(1, np::V4Address(dotted));
    return true;
  }
  const bool found =
      InBrackets(Host)
          ? np::LookUpHost(Host.substr(1, Host.size() - 2), np::LookUp::Ipv6Literal, Addresses, Failure)
          : np::LookUpHost(Host, np::LookUp::Name, Addresses, Failure);
  if (!found) return false;
  std::for_each(Addresses.begin(), Addresses.end(), Unmap);
  // IPv4 first: a name that has an IPv4 address is reached the way it was
  // before IPv6 came in.
  std::stable_partition(Addresses.begin(), Addresses.end(),
                        [](const np::Address& a) { return a.family == np::Family::V4; });
  return true;
}
