// Fuzz target for the XML text helpers. Every helper runs on every input and
// its result is checked against properties that must hold for any bytes, not
// only for absence of a crash.
//
// Input: one selector byte, then the text. A selector below 0xC0 picks one of
// the names the program itself passes to the scanners; from 0xC0 on, the name
// is the input up to the first zero byte and the text is what follows it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "text/xml_text.h"

namespace {

const char* const kNames[] = {"id", "to", "from", "code", "error", "stream:error", "failure", "message"};

// Reads Escaped back: every "&" must open one of the entities XmlEscape
// writes. Returns false on anything else.
bool Unescape(const std::string& Escaped, std::string& Plain) {
  static const struct {
    const char* entity;
    char byte;
  } kNamed[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}};
  Plain.clear();
  for (std::size_t i = 0; i < Escaped.size();) {
    if (Escaped[i] != '&') {
      Plain += Escaped[i++];
      continue;
    }
    bool matched = false;
    for (const auto& named : kNamed) {
      const std::string entity = named.entity;
      if (Escaped.compare(i, entity.size(), entity) == 0) {
        Plain += named.byte;
        i += entity.size();
        matched = true;
        break;
      }
    }
    if (matched) continue;
    // "&#" and three decimal digits of a byte from 160 to 255, then ";".
    if (Escaped.size() - i < 6 || Escaped[i + 1] != '#' || Escaped[i + 5] != ';') return false;
    int value = 0;
    for (std::size_t d = 2; d < 5; ++d) {
      const char c = Escaped[i + d];
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value < 160 || value > 255) return false;
    Plain += static_cast<char>(value);
    i += 6;
  }
  return true;
}

void CheckXmlEscape(const std::string& Text) {
  const std::string escaped = XmlEscape(Text);
  for (const char c : escaped) {
    FUZZ_CHECK(c != '<' && c != '>' && c != '"');
    FUZZ_CHECK(static_cast<unsigned char>(c) < 160);
  }
  std::string plain;
  FUZZ_CHECK(Unescape(escaped, plain));
  FUZZ_CHECK(plain == Text);
}

void CheckLatin1ToUtf8(const std::string& Text) {
  const std::string utf8 = Latin1ToUtf8(Text);
  std::size_t high = 0;
  for (const char c : Text) high += static_cast<unsigned char>(c) >= 128;
  FUZZ_CHECK(utf8.size() == Text.size() + high);
  // Decoding the UTF-8 gives back the bytes as code points U+0000 to U+00FF.
  std::string back;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 128) {
      back += static_cast<char>(lead);
      continue;
    }
    FUZZ_CHECK(lead == 194 || lead == 195);
    FUZZ_CHECK(i + 1 < utf8.size());
    const auto next = static_cast<unsigned char>(utf8[++i]);
    FUZZ_CHECK(next >= 128 && next < 192);
    back += static_cast<char>(((lead & 0x1F) << 6) | (next & 0x3F));
  }
  FUZZ_CHECK(back == Text);
}

void CheckGetAttribute(const std::string& Name, const std::string& Text) {
  const std::string value = GetAttribute(Name, Text);
  if (value.empty()) return;
  FUZZ_CHECK(!Name.empty() && fuzz::Contains(Text, Name));
  // The value stands between two quotes of one kind somewhere in the text.
  bool quoted = false;
  for (const char quote : {'\'', '"'}) {
    if (value.find(quote) != std::string::npos) continue;
    quoted = quoted || fuzz::Contains(Text, quote + value + quote);
  }
  FUZZ_CHECK(quoted);
}

void CheckGetElement(const std::string& Name, const std::string& Text) {
  const std::string element = GetElement(Name, Text);
  const std::string startMarker = "<" + Name;
  const std::string endTag = "</" + Name + ">";
  const auto start = Text.find(startMarker);
  const auto end = Text.find(endTag);
  if (element.empty()) {
    // Found both, end tag after the start marker: then there is an element.
    FUZZ_CHECK(start == std::string::npos || end == std::string::npos || end <= start);
    return;
  }
  FUZZ_CHECK(fuzz::StartsWith(element, startMarker));
  FUZZ_CHECK(fuzz::EndsWith(element, endTag));
  FUZZ_CHECK(Text.compare(start, element.size(), element) == 0);
  // The first end tag closes the element: it occurs in the result only at its end.
  FUZZ_CHECK(element.find(endTag) == element.size() - endTag.size());
}

void CheckGetFirstChildName(const std::string& Text) {
  const std::string name = GetFirstChildName(Text);
  if (name.empty()) return;
  FUZZ_CHECK(fuzz::Contains(Text, "<" + name));
  for (const char c : name) FUZZ_CHECK(c != ' ' && c != '>' && c != '\r' && c != '\n');
  FUZZ_CHECK(!fuzz::Contains(name, "/>"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string name;
  std::string text = input;
  if (data[0] < 0xC0) {
    name = kNames[data[0] % (sizeof kNames / sizeof kNames[0])];
  } else {
    const auto zero = input.find('\0');
    name = input.substr(0, zero);
    text = zero == std::string::npos ? std::string() : input.substr(zero + 1);
  }
  CheckXmlEscape(text);
  CheckLatin1ToUtf8(text);
  CheckGetAttribute(name, text);
  CheckGetElement(name, text);
  CheckGetFirstChildName(text);
  return 0;
}
