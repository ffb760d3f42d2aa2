#pragma once
// The operating system's own description of a system error number.

#include <cstdint>
#include <string>
#include <string_view>

// The system's text for Number without leading or trailing blanks and control
// characters, or "Cannot retrieve error description (error #<Number>)" when
// the system has none. Never fails.
std::string SystemErrorText(std::int32_t Number);

// Text without the bytes of code 32 or below at either end; bytes above 127
// are text, not control characters. SystemErrorText's trimming, on its own.
std::string TrimControlChars(std::string_view Text);
