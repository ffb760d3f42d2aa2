#include "xmpp/stream_header.h"

#include <string>

#include "text/xml_text.h"

namespace {

constexpr std::string_view kDeclarationStart = "<?xml";
constexpr std::string_view kDeclarationEnd = "?>";
constexpr std::string_view kStreamStart = "<stream:stream";
constexpr std::string_view kStreamPrefix = "xmlns:stream";
constexpr std::string_view kDefaultNamespace = "xmlns";
constexpr std::string_view kStreamNamespace = "http://etherx.jabber.org/streams";
constexpr std::string_view kClientNamespace = "jabber:client";

void SkipSpace(std::string_view& Text) {
  while (!Text.empty() && IsXmlSpace(Text.front())) Text.remove_prefix(1);
}

// Takes Literal off the front of Text. Incomplete when Text is a shorter
// start of it.
TStreamHeader Take(std::string_view& Text, std::string_view Literal) {
  if (Text.size() < Literal.size())
    return Literal.starts_with(Text) ? TStreamHeader::Incomplete : TStreamHeader::NotXmpp;
  if (!Text.starts_with(Literal)) return TStreamHeader::NotXmpp;
  Text.remove_prefix(Literal.size());
  return TStreamHeader::Xmpp;
}

bool IsNameEnd(char c) { return IsXmlSpace(c) || c == '=' || c == '>' || c == '/' || c == '<'; }

// The attributes of the start tag, up to its ">".
TStreamHeader JudgeAttributes(std::string_view Text) {
  std::string_view stream, client;
  bool spaced = true;  // an attribute must follow white space
  for (;;) {
    const std::size_t before = Text.size();
    SkipSpace(Text);
    spaced = spaced || Text.size() < before;
    if (Text.empty()) return TStreamHeader::Incomplete;
    if (Text.front() == '>')
      return stream == kStreamNamespace && client == kClientNamespace ? TStreamHeader::Xmpp : TStreamHeader::NotXmpp;
    if (!spaced || IsNameEnd(Text.front())) return TStreamHeader::NotXmpp;
    std::size_t nameEnd = 0;
    while (nameEnd < Text.size() && !IsNameEnd(Text[nameEnd])) ++nameEnd;
    const std::string_view name = Text.substr(0, nameEnd);
    Text.remove_prefix(nameEnd);
    SkipSpace(Text);
    if (Text.empty()) return TStreamHeader::Incomplete;
    if (Text.front() != '=') return TStreamHeader::NotXmpp;
    Text.remove_prefix(1);
    SkipSpace(Text);
    if (Text.empty()) return TStreamHeader::Incomplete;
    const char quote = Text.front();
    if (quote != '\'' && quote != '"') return TStreamHeader::NotXmpp;
    const std::size_t close = Text.find(quote, 1);
    if (close == std::string_view::npos) return TStreamHeader::Incomplete;
    const std::string_view value = Text.substr(1, close - 1);
    if (value.find('<') != std::string_view::npos) return TStreamHeader::NotXmpp;
    // A name given twice makes the tag malformed.
    if (name == kStreamPrefix || name == kDefaultNamespace) {
      std::string_view& slot = name == kStreamPrefix ? stream : client;
      if (slot.data() != nullptr) return TStreamHeader::NotXmpp;
      slot = value;
    }
    Text.remove_prefix(close + 1);
    spaced = false;
  }
}

}  // namespace

TStreamHeader JudgeStreamHeader(std::string_view Text) {
  SkipSpace(Text);
  if (Text.size() > 1 && Text.starts_with("<?")) {
    if (const TStreamHeader start = Take(Text, kDeclarationStart); start != TStreamHeader::Xmpp) return start;
    const std::size_t end = Text.find(kDeclarationEnd);
    if (end == std::string_view::npos) return TStreamHeader::Incomplete;
    Text.remove_prefix(end + kDeclarationEnd.size());
    SkipSpace(Text);
  }
  if (const TStreamHeader start = Take(Text, kStreamStart); start != TStreamHeader::Xmpp) return start;
  if (Text.empty()) return TStreamHeader::Incomplete;
  if (!IsXmlSpace(Text.front()) && Text.front() != '>') return TStreamHeader::NotXmpp;
  return JudgeAttributes(Text);
}
