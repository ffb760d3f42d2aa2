#include "text/trim.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TrimControlChars, TrimsControlCharactersAtBothEndsOnly) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"No such host is known.\r\n", "No such host is known."},
      {" \t\x01Inner  text\tstays \r\n\x1f", "Inner  text\tstays"},
      {"\xE9t\xE9", "\xE9t\xE9"},  // bytes above 127 are letters, not controls
      {"\r\n \t", ""},
      {"", ""},
      {std::string("a\0b\n", 4), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(TrimControlChars(c.in), c.out);
  }
}

}  // namespace
