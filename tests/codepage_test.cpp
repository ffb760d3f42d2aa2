#include "text/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Only characters that every build's code page treats alike: ASCII, U+00E9
// (byte 233) and a CJK character, which no single-byte code page holds.
TEST(Codepage, ConvertsBothWays) {
  const std::string narrow = std::string("id-42 \xE9t\xE9", 9);
  const std::u16string wide = u"id-42 \u00e9t\u00e9";
  EXPECT_EQ(AnsiToWide(narrow), wide);
  EXPECT_EQ(WideToAnsi(wide), narrow);
  EXPECT_EQ(AnsiToWide(""), u"");
  EXPECT_EQ(WideToAnsi(u""), "");
  EXPECT_EQ(WideToAnsi(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}

TEST(Codepage, UnrepresentableBecomesDefaultCharacter) {
  EXPECT_EQ(WideToAnsi(u"x\u4e2dy"), "x?y");
}

}  // namespace
