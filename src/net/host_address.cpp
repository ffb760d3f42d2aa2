#include "net/host_address.h"

#include <algorithm>
#include <cstring>

namespace np = netplatform;

namespace {

// Brackets mark an IPv6 address the way URLs write it. Anything else in
// brackets fails as a name no one has: the resolver is not asked, since
// some would strip the brackets and find what is inside.
bool InBrackets(const std::string& Host) { return Host.size() > 2 && Host.front() == '[' && Host.back() == ']'; }

// ::ffff:a.b.c.d goes out as a.b.c.d over IPv4: an IPv6 socket need not
// reach IPv4 at all (Windows' do not by default), and the address is an
// IPv4 one, reached the same way as when it is written a.b.c.d.
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
  // IPv4 first, each family in the resolver's order: a name that has an
  // IPv4 address is tried there first, and a failure everywhere reports
  // what the IPv4 address gave (see ConnectToAny).
  std::stable_partition(Addresses.begin(), Addresses.end(),
                        [](const np::Address& a) { return a.family == np::Family::V4; });
  return true;
}

std::string EndpointText(const np::Address& Address, std::uint16_t Port) {
  std::string text;
  const auto& b = Address.bytes;
  if (Address.family == np::Family::V4) {
    text = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
    return text + ":" + std::to_string(Port);
  }
  // The longest run of two or more zero groups is written "::" (the first
  // of equal runs), as RFC 5952 has it.
  std::uint16_t groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = static_cast<std::uint16_t>(b[2 * i] << 8 | b[2 * i + 1]);
  int bestAt = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLength) bestAt = i, bestLength = j - i;
    i = j > i ? j : i + 1;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  text = "[";
  for (int i = 0; i < 8; ++i) {
    if (i == bestAt) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != '[' && text.back() != ':') text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const int digit = groups[i] >> shift & 0xF;
      if (digit != 0 || started || shift == 0) text += kHex[digit], started = true;
    }
  }
  return text + "]:" + std::to_string(Port);
}
