// Base64 with the standard alphabet and padding.

#include "text/base64.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a character of the alphabet, or -1.
int Value(char Char) {
  if (Char >= 'A' && Char <= 'Z') return Char - 'A';
  if (Char >= 'a' && Char <= 'z') return Char - 'a' + 26;
  if (Char >= '0' && Char <= '9') return Char - '0' + 52;
  if (Char == '+') return 62;
  if (Char == '/') return 63;
  return -1;
}

}  // namespace

std::string Base64Encode(std::string_view Bytes) {
  std::string text;
  text.reserve((Bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < Bytes.size(); i += 3) {
    const std::size_t left = Bytes.size() - i;
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(Bytes[i])) << 16;
    if (left > 1) group |= static_cast<std::uint32_t>(static_cast<unsigned char>(Bytes[i + 1])) << 8;
    if (left > 2) group |= static_cast<unsigned char>(Bytes[i + 2]);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    text += left > 2 ? kAlphabet[group & 63] : '=';
  }
  return text;
}

// Only the one text Base64Encode would write for the bytes is taken: padding
// only at the end of the last group, and the bits the padding leaves over
// zero, so that no two texts stand for the same bytes.
std::optional<std::string> Base64Decode(std::string_view Text) {
  if (Text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(Text.size() / 4 * 3);
  for (std::size_t i = 0; i < Text.size(); i += 4) {
    const bool last = i + 4 == Text.size();
    std::size_t padding = 0;
    if (last && Text[i + 3] == '=') padding = Text[i + 2] == '=' ? 2 : 1;
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 4 - padding; ++j) {
      const int value = Value(Text[i + j]);
      if (value < 0) return std::nullopt;
      group |= static_cast<std::uint32_t>(value) << (18 - 6 * j);
    }
    if ((padding == 2 && (group & 0xFFFF) != 0) || (padding == 1 && (group & 0xFF) != 0)) return std::nullopt;
    bytes += static_cast<char>(group >> 16);
    if (padding < 2) bytes += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) bytes += static_cast<char>(group & 0xFF);
  }
  return bytes;
}
