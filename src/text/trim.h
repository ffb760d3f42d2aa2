#pragma once
// Trimming of the blanks and control bytes that surround received text and
// system messages.

#include <string>
#include <string_view>

// Text without the bytes of code 32 or below at either end; bytes above 127
// are text, not control characters.
std::string TrimControlChars(std::string_view Text);
