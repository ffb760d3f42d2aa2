// ISO-8859-1 as the ANSI code page: byte b is the character U+00b.
#include "text/codepage.h"

#include "text/xml_text.h"

namespace {

constexpr char DefaultChar = '?';

bool IsHighSurrogate(char16_t CodeUnit) { return CodeUnit >= 0xD800 && CodeUnit <= 0xDBFF; }
bool IsLowSurrogate(char16_t CodeUnit) { return CodeUnit >= 0xDC00 && CodeUnit <= 0xDFFF; }

}  // namespace

std::u16string AnsiToWide(const std::string& Text) {
  std::u16string result;
  result.reserve(Text.size());
  for (const char c : Text) result += static_cast<char16_t>(static_cast<unsigned char>(c));
  return result;
}

std::string WideToAnsi(const std::u16string& Text) {
  std::string result;
  result.reserve(Text.size());
  for (std::u16string::size_type i = 0; i < Text.size(); ++i) {
    const char16_t c = Text[i];
    if (c <= 0xFF) {
      result += static_cast<char>(c);
      continue;
    }
    // A surrogate pair is one character, so it gets one default character.
    if (IsHighSurrogate(c) && i + 1 < Text.size() && IsLowSurrogate(Text[i + 1])) ++i;
    result += DefaultChar;
  }
  return result;
}

bool IsUtf8Argument(const std::string& Text) { return IsValidUtf8(Text); }

std::string ArgumentToUtf8(const std::string& Text) { return IsValidUtf8(Text) ? Text : Latin1ToUtf8(Text); }
