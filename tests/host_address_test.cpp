#include "net/host_address.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "support/case_name.h"
#include "support/loopback.h"

namespace {

namespace np = netplatform;

np::Address Make(np::Family family, std::vector<std::uint8_t> bytes) {
  np::Address address;
  address.family = family;
  std::copy(bytes.begin(), bytes.end(), address.bytes.begin());
  return address;
}
const np::Address kLoopback = Make(np::Family::V4, {127, 0, 0, 1});
const np::Address kLoopback6 = Make(np::Family::V6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});

struct THostCase {
  const char* Host;
  std::optional<np::Address> First;  // none: fails as an unknown name
};

// Forms that need no name service, and localhost.
const THostCase kHostCases[] = {
    {"127.0.0.1", kLoopback},
    {"127.1", kLoopback},
    {"0x7f.1", kLoopback},
    {"255.255.255.255", Make(np::Family::V4, {255, 255, 255, 255})},
    {"::1", kLoopback6},
    {"[::1]", kLoopback6},
    {"[2001:db8::1]", Make(np::Family::V6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})},
    {"::ffff:127.0.0.1", kLoopback},
    {"localhost", kLoopback},
    {"[127.0.0.1]", std::nullopt},
    {"[localhost]", std::nullopt},
};

class ResolveHostTest : public testing::TestWithParam<THostCase> {};

TEST_P(ResolveHostTest, GivesTheAddressesIPv4First) {
  std::vector<np::Address> addresses;
  np::ResolveFailure failure;
  const bool found = ResolveHost(GetParam().Host, addresses, failure);
  ASSERT_EQ(found, GetParam().First.has_value()) << failure.number;
  if (!found) {
    EXPECT_EQ(failure.number, loopback::kUnknownName);
    return;
  }
  EXPECT_EQ(addresses.front(), *GetParam().First);
  EXPECT_TRUE(std::is_partitioned(addresses.begin(), addresses.end(),
                                  [](const np::Address& a) { return a.family == np::Family::V4; }));
}

INSTANTIATE_TEST_SUITE_P(Table, ResolveHostTest, testing::ValuesIn(kHostCases), NameBy(&THostCase::Host));

}  // namespace

// Addresses as messages write them: IPv6 in its shortest form, in brackets.
TEST(HostAddress, EndpointTextIsTheShortestForm) {
  const std::pair<np::Address, const char*> cases[] = {
      {kLoopback, "127.0.0.1:5222"},
      {kLoopback6, "[::1]:5222"},
      {Make(np::Family::V6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}), "[2001:db8::1:0:0:1]:5222"},
      {Make(np::Family::V6, {0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1}), "[2001:db8:1:0:1:1:1:1]:5222"},
      {Make(np::Family::V6, {}), "[::]:5222"},
  };
  for (const auto& [address, text] : cases) EXPECT_EQ(EndpointText(address, 5222), text);
}
