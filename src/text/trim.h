#pragma once
// Blanks and control bytes, and trimming them from the ends of received text
// and system messages.

#include <string>
#include <string_view>

// A byte of code 32 or below: the space and the control characters. Bytes
// above 127 are text, not control characters.
inline bool IsBlankOrControl(char Char) { return static_cast<unsigned char>(Char) <= 32; }

// The part of Text without blanks and control bytes at either end.
std::string_view TrimmedView(std::string_view Text);

// A copy of Text without blanks and control bytes at either end.
std::string TrimControlChars(std::string_view Text);
