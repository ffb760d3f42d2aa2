#pragma once
// Calendar dates and times in UTC, to and from seconds since 1970, without
// the time zone or the C library's calendar.

#include <cstdint>
#include <string>

// Seconds since 1970 UTC as "2026-12-10 09:55:00 UTC".
std::string FormatUtc(std::int64_t Seconds);

// Now, in seconds since 1970 UTC, from the system's wall clock.
std::int64_t NowUtcSeconds();

// Seconds since 1970 UTC of a calendar date and time in UTC.
std::int64_t UtcSeconds(int Year, int Month, int Day, int Hour, int Minute, int Second);
