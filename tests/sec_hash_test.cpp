#include "text/sec_hash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Hex(const TSha1Digest& Digest) {
  std::string result;
  char word[9];
  for (const std::uint32_t h : Digest.H) {
    std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(h));
    result += word;
  }
  return result;
}

struct DigestCase {
  std::string Input;
  const char* Expected;  // from sha1sum
};

// Lengths around the block and padding boundaries: 55 bytes fit one block,
// 56 to 119 need two, 120 three.
TEST(SecHash, KnownDigests) {
  const DigestCase cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(65, 'a'), "11655326c708d70319be2610e8a57d9a5b959d3b"},
      {std::string(119, 'a'), "ee971065aaa017e0632a8ca6c77bb3bf8b1dfc56"},
      {std::string(120, 'a'), "f34c1488385346a55709ba056ddd08280dd4c6d6"},
  };
  TSecHash hash;  // reused on purpose: no call may depend on the one before
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Input.size());
    TSha1Digest fromString;
    TSha1Digest fromBuffer;
    hash.HashString(c.Input, fromString);
    hash.HashBuffer(c.Input.data(), static_cast<std::int32_t>(c.Input.size()), fromBuffer);
    EXPECT_EQ(Hex(fromString), c.Expected);
    EXPECT_EQ(Hex(fromBuffer), c.Expected);
  }
}

TEST(SecHash, OneMillionLetters) {
  const std::string data(1000000, 'a');
  TSecHash hash;
  TSha1Digest digest;
  hash.HashBuffer(data.data(), static_cast<std::int32_t>(data.size()), digest);
  EXPECT_EQ(Hex(digest), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

struct HexCase {
  std::u16string Input;
  std::u16string Expected;
};

TEST(SecHash, Sha1Hex) {
  const HexCase cases[] = {
      {u"", u"da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {u"abc", u"a9993e364706816aba3e25717850c26c9cd0d89d"},
      // U+00E9 is digested as its UTF-8 bytes 195 169.
      {u"\u00e9", u"bf15be717ac1b080b4f1c456692825891ff5073d"},
      // A character the code page lacks is digested as "?".
      {u"\u4e2d", u"5bab61eb53176449e25c2c82f172b82cb13ffb9d"},
      {u"3f9a1b2csecret", u"07d04d4459ec26a41e0dfa4d1c68079a5847561b"},
  };
  for (const auto& c : cases) EXPECT_EQ(Sha1Hex(c.Input), c.Expected);
}

TEST(SecHash, Sha1HexIsFortyLowerCaseDigits) {
  for (const char16_t* text : {u"", u"x", u"0123456789", u"\u00ff\u00fe"}) {
    const std::u16string hex = Sha1Hex(text);
    ASSERT_EQ(hex.size(), 40u);
    for (const char16_t c : hex) EXPECT_TRUE((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'));
  }
}

}  // namespace
