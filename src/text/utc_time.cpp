// Civil dates from day numbers and back, proleptic Gregorian, after Howard
// Hinnant's well-known algorithms: no time zone or C library involved.

#include "text/utc_time.h"

#include <chrono>

#include <cstdio>

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t FloorDiv(std::int64_t Dividend, std::int64_t Divisor) {
  return Dividend / Divisor - ((Dividend % Divisor != 0) && ((Dividend < 0) != (Divisor < 0)));
}

}  // namespace

std::string FormatUtc(std::int64_t Seconds) {
  const std::int64_t days = FloorDiv(Seconds, kSecondsPerDay);
  const std::int64_t rest = Seconds - days * kSecondsPerDay;
  const std::int64_t z = days + 719468;
  const std::int64_t era = FloorDiv(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

std::int64_t UtcSeconds(int Year, int Month, int Day, int Hour, int Minute, int Second) {
  const std::int64_t y = Year - (Month <= 2 ? 1 : 0);
  const std::int64_t era = FloorDiv(y, 400);
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (Month + (Month > 2 ? -3 : 9)) + 2) / 5 + Day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = era * 146097 + doe - 719468;
  return days * kSecondsPerDay + Hour * 3600 + Minute * 60 + Second;
}

std::int64_t NowUtcSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}
