#include "net/system_error.h"

#include <gtest/gtest.h>

namespace {

TEST(SystemErrorText, UnknownNumberGivesTheFallback) {
  EXPECT_EQ(SystemErrorText(99999), "Cannot retrieve error description (error #99999)");
  EXPECT_EQ(SystemErrorText(-5), "Cannot retrieve error description (error #-5)");
  EXPECT_EQ(SystemErrorText(-2147483647 - 1),
            "Cannot retrieve error description (error #-2147483648)");
}

}  // namespace
