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

}  // namespace
