#include "net/host_address.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "support/socket_errors.h"

namespace {

namespace np = netplatform;

np::Address V4(std::initializer_list<std::uint8_t> bytes) {
  np::Address address;
  std::copy(bytes.begin(), bytes.end(), address.bytes.begin());
  return address;
}

np::Address V6(std::initializer_list<std::uint8_t> bytes) {
  np::Address address = V4(bytes);
  address.family = np::Family::V6;
  return address;
}

const np::Address kLoopback = V4({127, 0, 0, 1});
const np::Address kLoopback6 = V6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});

struct THostCase {
  const char* Host;
  std::vector<np::Address> Addresses;  // none: the look-up fails as for an unknown name
};

// Forms that need no name service, so every machine gives the same answer.
const THostCase kHostCases[] = {
    {"127.0.0.1", {kLoopback}},
    {"127.1", {kLoopback}},
    {"0x7f.1", {kLoopback}},
    {"255.255.255.255", {V4({255, 255, 255, 255})}},
    {"::1", {kLoopback6}},
    {"[::1]", {kLoopback6}},
    {"[2001:db8::1]", {V6({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})}},
    {"::ffff:127.0.0.1", {kLoopback}},
    {"[127.0.0.1]", {}},
    {"[localhost]", {}},
};

class ResolveHostTest : public testing::TestWithParam<THostCase> {};

TEST_P(ResolveHostTest, GivesTheAddressesInOrder) {
  std::vector<np::Address> addresses;
  np::ResolveFailure failure;
  const bool found = ResolveHost(GetParam().Host, addresses, failure);
  EXPECT_EQ(found, !GetParam().Addresses.empty());
  if (found) {
    EXPECT_EQ(addresses, GetParam().Addresses);
  } else {
    EXPECT_EQ(failure.number, socketerrors::kUnknownName);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ResolveHostTest, testing::ValuesIn(kHostCases));

// Whatever else the machine knows localhost as, its IPv4 address comes first
// and every IPv4 address before any IPv6 one.
TEST(ResolveHost, NameGivesItsIPv4AddressesFirst) {
  std::vector<np::Address> addresses;
  np::ResolveFailure failure;
  ASSERT_TRUE(ResolveHost("localhost", addresses, failure)) << failure.number;
  EXPECT_EQ(addresses.front(), kLoopback);
  bool sawV6 = false;
  for (const np::Address& address : addresses) {
    sawV6 = sawV6 || address.family == np::Family::V6;
    EXPECT_FALSE(sawV6 && address.family == np::Family::V4);
  }
}

}  // namespace
