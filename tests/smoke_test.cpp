#include <gtest/gtest.h>
#include "net/base_error.h"

TEST(BaseError, KeepsItsMessage) { EXPECT_STREQ(EBaseError("x").what(), "x"); }
