#include "net/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

TEST(SystemErrorText, KnownNumberGivesTheSystemsSentence) {
  for (int number : {ECONNREFUSED, ECONNRESET, EPIPE, ETIMEDOUT, EBADF}) {
    SCOPED_TRACE(number);
    std::string text = SystemErrorText(number);
    EXPECT_EQ(text, std::strerror(number));
    ASSERT_FALSE(text.empty());
    EXPECT_GT(static_cast<unsigned char>(text.back()), 32);
  }
}

TEST(SystemErrorText, UnknownNumberGivesTheFallback) {
  EXPECT_EQ(SystemErrorText(99999), "Cannot retrieve error description (error #99999)");
  EXPECT_EQ(SystemErrorText(-5), "Cannot retrieve error description (error #-5)");
  EXPECT_EQ(SystemErrorText(-2147483647 - 1),
            "Cannot retrieve error description (error #-2147483648)");
}

}  // namespace
