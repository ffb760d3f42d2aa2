#include "text/number.h"

#include <limits>

namespace {

// The digits of a number text and how to read them, once the leading
// spaces, the hexadecimal prefix or the sign are out of the way.
struct TNumberDigits {
  std::string_view Digits;
  uint32_t Base = 10;
  bool Negative = false;
};

TNumberDigits FindDigits(std::string_view Text) {
  // Spaces only, not the blanks and control bytes a trim drops: a tab or a
  // line break before the digits makes a value no number.
  while (!Text.empty() && Text.front() == ' ')
    Text.remove_prefix(1);
  if (Text.starts_with("0x") || Text.starts_with("0X"))
    return {Text.substr(2), 16, false};
  if (!Text.empty() && (Text.front() == '$' || Text.front() == 'x' || Text.front() == 'X'))
    return {Text.substr(1), 16, false};
  bool negative = false;
  if (!Text.empty() && (Text.front() == '-' || Text.front() == '+')) {
    negative = Text.front() == '-';
    Text.remove_prefix(1);
  }
  return {Text, 10, negative};
}

// The value of one digit in `Base`, or -1 when `Char` is no digit of it.
int DigitValue(char Char, uint32_t Base) {
  if (Char >= '0' && Char <= '9') return Char - '0';
  if (Base == 16 && Char >= 'a' && Char <= 'f') return Char - 'a' + 10;
  if (Base == 16 && Char >= 'A' && Char <= 'F') return Char - 'A' + 10;
  return -1;
}

}  // namespace

int32_t ReadNumber(std::string_view Text) {
  const TNumberDigits number = FindDigits(Text);
  // Above these, one more digit could leave 32 bits.
  const uint32_t last_safe = number.Base == 10 ? 214748364u : 0x0FFFFFFFu;
  uint32_t value = 0;
  size_t read = 0;
  for (; read < number.Digits.size(); ++read) {
    const int digit = DigitValue(number.Digits[read], number.Base);
    if (digit < 0 || value > last_safe) break;
    value = value * number.Base + static_cast<uint32_t>(digit);
  }
  if (read < number.Digits.size())
    return static_cast<int32_t>(value);
  return static_cast<int32_t>(number.Negative ? 0u - value : value);
}

bool TryReadNumber(std::string_view Text, int32_t& Value) {
  const TNumberDigits number = FindDigits(Text);
  if (number.Digits.empty()) return false;
  uint64_t magnitude = 0;
  for (char c : number.Digits) {
    const int digit = DigitValue(c, number.Base);
    if (digit < 0) return false;
    magnitude = magnitude * number.Base + static_cast<uint64_t>(digit);
    if (magnitude > std::numeric_limits<uint32_t>::max()) return false;
  }
  if (number.Base == 16) {
    Value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    return true;
  }
  const int64_t signed_value =
      number.Negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (signed_value < std::numeric_limits<int32_t>::min() ||
      signed_value > std::numeric_limits<int32_t>::max())
    return false;
  Value = static_cast<int32_t>(signed_value);
  return true;
}
