#pragma once
// Reading decimal and hexadecimal numbers out of text.
//
// Both readers skip leading spaces (byte 32 only) and accept the same forms:
// an optionally signed decimal number, or a hexadecimal number after one of
// the prefixes "$", "x", "X", "0x", "0X" (hexadecimal takes no sign).

#include <cstdint>
#include <string_view>

// Reads a command-line value and never fails. Reading stops at the first
// byte that is not a digit, or before a digit that could overflow 32 bits;
// a text read only in part gives the digits read so far without their sign
// (so "5222x" gives 5222, "-15x" gives 15, "abc" gives 0). A text read whole
// gives its value, negated when a minus came first, with 32-bit wrap-around
// ("2147483648" gives -2147483648, "$FFFFFFFF" gives -1).
int32_t ReadNumber(std::string_view Text);

// Reads a number only when, after the leading spaces, the whole text is one
// number with at least one digit and nothing after it. A decimal number must
// lie within the signed 32-bit range; a hexadecimal one may use all 32 bits
// and is taken as their pattern ("$FFFFFFFF" gives -1). On failure `Value`
// is left as it was.
bool TryReadNumber(std::string_view Text, int32_t& Value);
