#include "text/codepage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "text/sec_hash.h"

namespace {

// Byte 128 is the euro sign in Windows-1252 but U+0080 in ISO-8859-1: it
// shows that the conversions follow the system's code page.
TEST(Codepage, FollowsTheSystemCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "the system code page is " << GetACP() << ", not 1252";
  EXPECT_EQ(AnsiToWide("\x80"), u"\u20ac");
  EXPECT_EQ(WideToAnsi(u"\u20ac"), "\x80");
  EXPECT_EQ(WideToAnsi(u"\u0080"), "?");
  // The digest reads the code page's byte as a code point: the bytes C2 80,
  // not the euro sign's UTF-8 form E2 82 AC.
  EXPECT_EQ(Sha1Hex(u"\u20ac"), u"6a588e306f6bb7bcb6fbf28cba4ab86a87d5c938");
}

}  // namespace
