#pragma once
// The operating system's own description of a system error number.

#include <cstdint>
#include <string>

// The system's text for Number without leading or trailing blanks and control
// characters, or "Cannot retrieve error description (error #<Number>)" when
// the system has none. Never fails.
std::string SystemErrorText(std::int32_t Number);
