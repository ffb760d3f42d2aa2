#include "text/xml_text.h"

#include <algorithm>
#include <string_view>

#include "text/trim.h"

namespace {

// Where the attribute value behind Name at position At begins (just after
// its opening quote), or npos when Name does not stand as an attribute name
// there.
std::string::size_type ValueStart(const std::string& Text, std::string::size_type At,
                                  std::string::size_type NameLength, char& Quote) {
  if (At == 0 || !IsXmlSpace(Text[At - 1])) return std::string::npos;
  std::string::size_type i = At + NameLength;
  while (i < Text.size() && IsXmlSpace(Text[i])) ++i;
  if (i >= Text.size() || Text[i] != '=') return std::string::npos;
  ++i;
  while (i < Text.size() && IsXmlSpace(Text[i])) ++i;
  if (i >= Text.size() || (Text[i] != '\'' && Text[i] != '"')) return std::string::npos;
  Quote = Text[i];
  return i + 1;
}

// Escapes the markup characters, with HighBytes the bytes from 160 up as
// ISO-8859-1 characters, and with Apostrophe the apostrophe, for a value
// between apostrophes.
std::string Escape(std::string_view Text, bool HighBytes, bool Apostrophe = false) {
  std::string result;
  result.reserve(Text.size());
  for (const char c : Text) {
    const auto b = static_cast<unsigned char>(c);
    switch (b) {
      case '"': result += "&quot;"; break;
      case '&': result += "&amp;"; break;
      case '<': result += "&lt;"; break;
      case '>': result += "&gt;"; break;
      case '\'':
        result += Apostrophe ? "&apos;" : "'";
        break;
      default:
        if (HighBytes && b >= 160) {
          result += "&#";
          result += std::to_string(b);
          result += ';';
        } else {
          result += c;
        }
    }
  }
  return result;
}

}  // namespace

std::string XmlEscape(const std::string& Text) { return Escape(Text, true); }

std::string XmlEscapeUtf8(const std::string& Text) { return Escape(Text, false); }

std::string XmlAttributeEscapeUtf8(std::string_view Text) { return Escape(Text, false, true); }

std::size_t Utf8SequenceLength(char Lead) {
  const auto b = static_cast<unsigned char>(Lead);
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 1;
}

bool IsValidUtf8(std::string_view Text) {
  for (std::size_t i = 0; i < Text.size();) {
    const auto b = static_cast<unsigned char>(Text[i]);
    const std::size_t length = Utf8SequenceLength(Text[i]);
    if (length == 1) {
      if (b >= 0x80) return false;
      ++i;
      continue;
    }
    if (Text.size() - i < length) return false;
    // The second byte's range rules out overlong forms, surrogates and
    // values above U+10FFFF.
    const auto second = static_cast<unsigned char>(Text[i + 1]);
    unsigned char low = 0x80, high = 0xBF;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
    if (second < low || second > high) return false;
    for (std::size_t k = 2; k < length; ++k)
      if ((static_cast<unsigned char>(Text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

std::string Latin1ToUtf8(const std::string& Text) {
  std::string result;
  result.reserve(Text.size() * 2);
  for (const char c : Text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 128) {
      result += c;
    } else {
      result += static_cast<char>(192 + (b >> 6));
      result += static_cast<char>(128 + (b & 63));
    }
  }
  return result;
}

std::string GetAttribute(const std::string& Name, const std::string& Text) {
  if (Name.empty()) return {};
  // A bare search would also find the name inside another word or value
  // ("id" in from='android.example.org'), so every occurrence is checked for
  // standing as an attribute name until the first one that does.
  for (auto at = Text.find(Name); at != std::string::npos; at = Text.find(Name, at + 1)) {
    char quote = 0;
    const auto start = ValueStart(Text, at, Name.size(), quote);
    if (start == std::string::npos) continue;
    const auto end = Text.find(quote, start);
    if (end == std::string::npos) return {};
    return Text.substr(start, end - start);
  }
  return {};
}

std::string GetElement(const std::string& Name, const std::string& Text) {
  const auto start = Text.find("<" + Name);
  const std::string endTag = "</" + Name + ">";
  const auto end = Text.find(endTag);
  if (start == std::string::npos || end == std::string::npos || end <= start) return {};
  return Text.substr(start, end + endTag.size() - start);
}

std::string GetFirstChildName(const std::string& Text) {
  const auto close = Text.find('>');
  const std::string_view inner =
      TrimmedView(std::string_view(Text).substr(close == std::string::npos ? 0 : close + 1));
  if (inner.empty() || inner.front() != '<') return {};
  // An end tag right after the start tag means the element has no child.
  if (inner.size() > 1 && inner[1] == '/') return {};
  const std::string_view part = inner.substr(1);
  // Not XML's white space: a tab has never ended the name, and a name that
  // runs on past one matches no condition, which the caller treats as an
  // unknown one.
  std::string_view::size_type stop = part.size();
  for (const char* delimiter : {" ", ">", "/>", "\r", "\n"}) stop = std::min(stop, part.find(delimiter));
  return std::string(part.substr(0, stop));
}
