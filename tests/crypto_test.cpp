#include "crypto/crypto.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

// The SCRAM vectors prove HMAC and PBKDF2 of both kinds and SHA-1; these are
// what they leave out.
TEST(Crypto, Sha256OfAbc) {
  EXPECT_EQ(Hex(Digest(THashKind::Sha256, "abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// A key or password of no bytes is one, not a missing one.
TEST(Crypto, EmptyKeys) {
  EXPECT_EQ(Hex(Hmac(THashKind::Sha256, "", "")), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
  EXPECT_EQ(Hex(Pbkdf2(THashKind::Sha256, "", "salt", 2)),
            "62384466264daadc4144018c6bd864648272b34da8980d31521ffcce92ae003b");
}

TEST(Crypto, RandomBytesHaveTheSizeAskedAndDiffer) {
  EXPECT_EQ(RandomBytes(0), "");
  std::set<std::string> seen;
  for (int i = 0; i < 8; ++i) {
    const std::string bytes = RandomBytes(24);
    ASSERT_EQ(bytes.size(), 24u);
    seen.insert(bytes);
  }
  EXPECT_EQ(seen.size(), 8u);
}

TEST(Crypto, ErrorMessage) {
  EXPECT_EQ(ECryptoError("libcrypto.so.3: cannot open").Message(),
            "Cryptography is not available. libcrypto.so.3: cannot open");
}

}  // namespace
