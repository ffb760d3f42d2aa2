#pragma once
// Byte-wise helpers for the XML the program sends and receives. Nothing here
// parses XML: the scanners pick values out of the server's replies by plain,
// case-sensitive searches that take the first occurrence. Text is std::string
// used as bytes (any byte value, zero included); an empty result stands for
// "not found".

#include <cstddef>
#include <string>
#include <string_view>

// XML's white space: space, tab, carriage return, line feed.
inline bool IsXmlSpace(char Char) { return Char == ' ' || Char == '\t' || Char == '\r' || Char == '\n'; }

// Makes Text safe as element content: '"', '&', '<', '>' and the bytes 160 to
// 255 become entities ("&#233;"); everything else, the apostrophe included,
// is copied. An existing entity is escaped again.
std::string XmlEscape(const std::string& Text);

// Makes UTF-8 Text safe as element content: only '"', '&', '<' and '>'
// become entities, every other byte is copied.
std::string XmlEscapeUtf8(const std::string& Text);

// The same, fit for an attribute value in either quote: the apostrophe
// becomes "&apos;" too.
std::string XmlAttributeEscapeUtf8(std::string_view Text);

// True when Text is well-formed UTF-8: no stray continuation bytes, no cut
// or overlong sequences, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view Text);

// The length of the UTF-8 sequence that begins with Lead (1 for ASCII and
// for bytes that begin none).
std::size_t Utf8SequenceLength(char Lead);

// The UTF-8 form of Text read as ISO-8859-1: each byte is one code point.
std::string Latin1ToUtf8(const std::string& Text);

// The value of the first attribute called Name in Text: Name must stand as a
// whole attribute name (after white space, before optional white space, "=",
// optional white space and a quote); the value runs to the next quote of the
// same kind. Empty when there is no such attribute or its quote is not closed.
std::string GetAttribute(const std::string& Name, const std::string& Text);

// The first element called Name, from its start tag through the first end tag
// "</Name>". Empty when either is missing or the end tag comes first.
std::string GetElement(const std::string& Name, const std::string& Text);

// The tag name of the first child of the element text Text (white space
// before it skipped), e.g. the condition inside an error element. Empty when
// there is no child element.
std::string GetFirstChildName(const std::string& Text);
