#include "text/utc_time.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kDay = 86400;

TEST(UtcTime, Dates) {
  EXPECT_EQ(FormatUtc(0), "1970-01-01 00:00:00 UTC");
  EXPECT_EQ(FormatUtc(-1), "1969-12-31 23:59:59 UTC");
  EXPECT_EQ(FormatUtc(UtcSeconds(2024, 2, 29, 23, 59, 59)), "2024-02-29 23:59:59 UTC");
  EXPECT_EQ(UtcSeconds(2000, 3, 1, 0, 0, 0) - UtcSeconds(2000, 2, 28, 0, 0, 0), 2 * kDay);
  EXPECT_EQ(UtcSeconds(2038, 1, 19, 3, 14, 8), 2147483648LL);
  EXPECT_EQ(FormatUtc(UtcSeconds(9999, 12, 31, 23, 59, 59)), "9999-12-31 23:59:59 UTC");
}

}  // namespace
