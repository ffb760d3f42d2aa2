#include "xmpp/element_reader.h"

#include <algorithm>
#include <cstdint>

// The reader is one state machine over bytes: each byte is looked at once,
// whatever the sizes of the pieces it arrives in, and the tree of the current
// top-level element grows as its tags come. Consumed bytes are let go once
// they make up half of the buffer, so a long stream costs linear time and the
// memory of one element.

namespace {

const std::string kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
const std::string kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

// The reasons the reader gives, each in one place.
const char kTextBeforeHeader[] = "Text before the XMPP stream header";
const char kTextBetween[] = "Text between the XMPP stream's elements";
const char kComment[] = "XML comments are not allowed in an XMPP stream";
const char kPi[] = "XML processing instructions are not allowed in an XMPP stream";
const char kDtd[] = "DTDs are not allowed in an XMPP stream";
const char kCdata[] = "CDATA sections are not allowed in an XMPP stream";
const char kBadChar[] = "Invalid character in XML";
const char kCdataEnd[] = "']]>' in XML text";
const char kBadStartTag[] = "Malformed XML start tag";
const char kBadEndTag[] = "Malformed XML end tag";
const char kBadAttribute[] = "Malformed XML attribute";
const char kLtInAttribute[] = "'<' in an XML attribute value";
const char kBareAmp[] = "Bare '&' in XML";
const char kBadCharRef[] = "Malformed XML character reference";
const char kBadEntityRef[] = "Malformed XML entity reference";
const char kInvalidCharRef[] = "XML character reference to a character XML does not allow";
const char kUnknownEntity[] = "Unknown XML entity: ";
const char kDuplicate[] = "Duplicate XML attribute: ";
const char kBadName[] = "Malformed XML name: ";
const char kUndeclaredPrefix[] = "Undeclared XML namespace prefix: ";
const char kBadNamespaceDecl[] = "Bad XML namespace declaration: ";
const char kEndBeforeHeader[] = "XML end tag before the XMPP stream header";
const char kEndMismatch[] = " does not match ";
const char kBadDecl[] = "Malformed XML declaration";
const char kNotUtf8[] = "XML declaration names an encoding other than UTF-8";
const char kTooLarge[] = "XML element larger than ";
const char kTooDeep[] = "XML elements nested deeper than ";

bool IsSpace(unsigned char Byte) { return Byte == ' ' || Byte == '\t' || Byte == '\r' || Byte == '\n'; }

// Names: ASCII as XML has it; every byte from 0x80 up is taken as part of a
// name, since UTF-8 is not decoded.
bool IsNameStart(unsigned char Byte) {
  return (Byte >= 'a' && Byte <= 'z') || (Byte >= 'A' && Byte <= 'Z') || Byte == '_' || Byte == ':' || Byte >= 0x80;
}

bool IsNameChar(unsigned char Byte) {
  return IsNameStart(Byte) || (Byte >= '0' && Byte <= '9') || Byte == '-' || Byte == '.';
}

// The ASCII control characters XML does not allow. Bytes from 0x80 up pass.
bool IsBadByte(unsigned char Byte) { return Byte < 0x20 && Byte != '\t' && Byte != '\n' && Byte != '\r'; }

bool IsXmlChar(std::uint32_t CodePoint) {
  return CodePoint == 0x9 || CodePoint == 0xA || CodePoint == 0xD || (CodePoint >= 0x20 && CodePoint <= 0xD7FF) ||
         (CodePoint >= 0xE000 && CodePoint <= 0xFFFD) || (CodePoint >= 0x10000 && CodePoint <= 0x10FFFF);
}

void AppendUtf8(std::string& Out, std::uint32_t CodePoint) {
  if (CodePoint < 0x80) {
    Out += static_cast<char>(CodePoint);
  } else if (CodePoint < 0x800) {
    Out += static_cast<char>(0xC0 | (CodePoint >> 6));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else if (CodePoint < 0x10000) {
    Out += static_cast<char>(0xE0 | (CodePoint >> 12));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (CodePoint >> 18));
    Out += static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  }
}

// A name as it goes into a reason: a server could send a long one.
std::string Shown(std::string_view Name) {
  constexpr std::size_t kMost = 64;
  return Name.size() <= kMost ? std::string(Name) : std::string(Name.substr(0, kMost)) + "...";
}

std::string_view PrefixOf(std::string_view Name) {
  const auto colon = Name.find(':');
  return colon == std::string_view::npos ? std::string_view() : Name.substr(0, colon);
}

std::string_view LocalOf(std::string_view Name) {
  const auto colon = Name.find(':');
  return colon == std::string_view::npos ? Name : Name.substr(colon + 1);
}

bool EqualNoCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(A[i]) != lower(B[i])) return false;
  }
  return true;
}

bool IsDigit(char Char) { return Char >= '0' && Char <= '9'; }

bool IsHexDigit(char Char) { return IsDigit(Char) || (Char >= 'a' && Char <= 'f') || (Char >= 'A' && Char <= 'F'); }

}  // namespace

std::string_view TXmlElement::LocalName() const { return LocalOf(Name); }

std::optional<std::string> TXmlElement::Attribute(std::string_view AName) const {
  for (const auto& [name, value] : Attributes) {
    if (name == AName) return value;
  }
  return std::nullopt;
}

const TXmlElement* TXmlElement::Child(std::string_view ALocalName, std::string_view ANamespace) const {
  for (const auto& child : Children) {
    if (child.LocalName() == ALocalName && (ANamespace.empty() || child.Namespace == ANamespace)) return &child;
  }
  return nullptr;
}

struct TElementReader::TImpl {
  using TEvent = TElementReader::TEvent;
  using TState = TElementReader::TState;

  [[noreturn]] static void Fail(TElementReader& R, std::string Reason) {
    R.FError = std::move(Reason);
    throw EXmlError(R.FError);
  }

  // Reads one byte; says which event it completes.
  static TEvent Step(TElementReader& R, unsigned char Byte) {
    switch (R.FState) {
      case TState::Prolog:
        if (IsSpace(Byte)) return TEvent::None;
        if (Byte != '<') Fail(R, kTextBeforeHeader);
        R.FMark = R.FPos;
        R.FState = TState::Lt;
        return TEvent::None;
      case TState::Content:
        if (Byte == '<') {
          if (R.FOpen.empty()) R.FMark = R.FPos;
          R.FState = TState::Lt;
        } else if (Byte == '&') {
          StartRef(R, TState::Content);
        } else {
          Text(R, Byte);
        }
        return TEvent::None;
      case TState::Lt:
        return Lt(R, Byte);
      case TState::LtBang:
        Fail(R, Byte == '-' ? kComment : Byte == '[' ? kCdata : kDtd);
      case TState::Decl:
        if (Byte == '>' && !R.FName.empty() && R.FName.back() == '?') {
          R.FName.pop_back();
          CheckDecl(R);
          R.FDeclSeen = true;
          R.FMark = std::string::npos;
          R.FState = TState::Prolog;
          return TEvent::None;
        }
        if (IsBadByte(Byte)) Fail(R, kBadChar);
        // The target is "xml", or this is a processing instruction.
        if (R.FName.size() < 3 && Byte != static_cast<unsigned char>("xml"[R.FName.size()])) Fail(R, kPi);
        if (R.FName.size() == 3 && !IsSpace(Byte) && Byte != '?') Fail(R, IsNameChar(Byte) ? kPi : kBadDecl);
        if (R.FName.size() == 4 && R.FName[3] == '?') Fail(R, kBadDecl);
        R.FName += static_cast<char>(Byte);
        return TEvent::None;
      case TState::StartName:
        if (IsNameChar(Byte)) {
          NameChar(R, R.FName, Byte);
          return TEvent::None;
        }
        NameDone(R, R.FName);
        return InTag(R, Byte);
      case TState::TagSpace:
        if (IsNameStart(Byte)) {
          R.FAttrs.emplace_back();
          NameChar(R, R.FAttrs.back().first, Byte);
          R.FState = TState::AttrName;
          return TEvent::None;
        }
        return InTag(R, Byte);
      case TState::AttrName:
        if (IsNameChar(Byte)) {
          NameChar(R, R.FAttrs.back().first, Byte);
          return TEvent::None;
        }
        NameDone(R, R.FAttrs.back().first);
        if (IsSpace(Byte)) {
          R.FState = TState::AttrEq;
          return TEvent::None;
        }
        [[fallthrough]];
      case TState::AttrEq:
        if (IsSpace(Byte)) return TEvent::None;
        if (Byte != '=') Fail(R, kBadAttribute);
        R.FState = TState::AttrQuote;
        return TEvent::None;
      case TState::AttrQuote:
        if (IsSpace(Byte)) return TEvent::None;
        if (Byte != '\'' && Byte != '"') Fail(R, kBadAttribute);
        R.FQuote = static_cast<char>(Byte);
        R.FAfterCr = false;
        R.FState = TState::AttrValue;
        return TEvent::None;
      case TState::AttrValue:
        AttrValue(R, Byte);
        return TEvent::None;
      case TState::AfterValue:
        if (!IsSpace(Byte) && Byte != '/' && Byte != '>') Fail(R, kBadStartTag);
        return InTag(R, Byte);
      case TState::EmptyEnd:
        if (Byte != '>') Fail(R, kBadStartTag);
        return StartTag(R, true);
      case TState::EndName:
        if (IsNameChar(Byte) && (!R.FName.empty() || IsNameStart(Byte))) {
          NameChar(R, R.FName, Byte);
          return TEvent::None;
        }
        if (R.FName.empty()) Fail(R, kBadEndTag);
        NameDone(R, R.FName);
        [[fallthrough]];
      case TState::EndSpace:
        if (Byte == '>') return EndTag(R);
        if (!IsSpace(Byte)) Fail(R, kBadEndTag);
        R.FState = TState::EndSpace;
        return TEvent::None;
      case TState::Ref:
        Ref(R, Byte);
        return TEvent::None;
    }
    return TEvent::None;
  }

  static TEvent Lt(TElementReader& R, unsigned char Byte) {
    if (Byte == '/') {
      if (!R.FHeaderOpen) Fail(R, kEndBeforeHeader);
      R.FName.clear();
      R.FState = TState::EndName;
    } else if (Byte == '!') {
      R.FState = TState::LtBang;
    } else if (Byte == '?') {
      if (R.FHeaderOpen || R.FDeclSeen) Fail(R, kPi);
      R.FName.clear();
      R.FState = TState::Decl;
    } else if (IsNameStart(Byte)) {
      if (R.FOpen.size() >= kMaxDepth) Fail(R, kTooDeep + std::to_string(kMaxDepth) + " levels");
      R.FName.clear();
      NameChar(R, R.FName, Byte);
      R.FAttrs.clear();
      R.FState = TState::StartName;
    } else {
      Fail(R, kBadStartTag);
    }
    return TEvent::None;
  }

  // A name's next byte. A name has at most one colon, between its prefix
  // and its local part, each of which begins as a name does.
  static void NameChar(TElementReader& R, std::string& Name, unsigned char Byte) {
    const bool second = Byte == ':' && (Name.empty() || Name.find(':') != std::string::npos);
    if (second || (!Name.empty() && Name.back() == ':' && !IsNameStart(Byte))) {
      Fail(R, kBadName + Shown(Name + static_cast<char>(Byte)));
    }
    Name += static_cast<char>(Byte);
  }

  static void NameDone(TElementReader& R, const std::string& Name) {
    if (Name.back() == ':') Fail(R, kBadName + Shown(Name));
  }

  // White space, '/' or '>' inside a start tag.
  static TEvent InTag(TElementReader& R, unsigned char Byte) {
    if (IsSpace(Byte)) {
      R.FState = TState::TagSpace;
      return TEvent::None;
    }
    if (Byte == '/') {
      R.FState = TState::EmptyEnd;
      return TEvent::None;
    }
    if (Byte == '>') return StartTag(R, false);
    Fail(R, kBadStartTag);
  }

  // Character data: an element's text, or white space between the stream's
  // elements. Line ends become LF.
  static void Text(TElementReader& R, unsigned char Byte) {
    if (IsBadByte(Byte)) Fail(R, kBadChar);
    if (Byte == '>' && R.FBrackets >= 2) Fail(R, kCdataEnd);
    R.FBrackets = Byte == ']' ? std::min(R.FBrackets + 1, 2) : 0;
    const bool afterCr = R.FAfterCr;
    R.FAfterCr = Byte == '\r';
    if (Byte == '\n' && afterCr) return;
    AppendText(R, Byte == '\r' ? std::string_view("\n") : std::string_view(reinterpret_cast<const char*>(&Byte), 1));
  }

  static void AppendText(TElementReader& R, std::string_view Text) {
    if (!R.FOpen.empty()) {
      R.FOpen.back().Text += Text;
      return;
    }
    for (const char c : Text) {
      if (!IsSpace(static_cast<unsigned char>(c))) Fail(R, kTextBetween);
    }
  }

  // A byte of an attribute value: tab, CR and LF become a space, CR LF one.
  static void AttrValue(TElementReader& R, unsigned char Byte) {
    if (Byte == static_cast<unsigned char>(R.FQuote)) {
      R.FState = TState::AfterValue;
      return;
    }
    if (Byte == '<') Fail(R, kLtInAttribute);
    if (Byte == '&') {
      StartRef(R, TState::AttrValue);
      return;
    }
    if (IsBadByte(Byte)) Fail(R, kBadChar);
    const bool afterCr = R.FAfterCr;
    R.FAfterCr = Byte == '\r';
    if (Byte == '\n' && afterCr) return;
    R.FAttrs.back().second += IsSpace(Byte) ? ' ' : static_cast<char>(Byte);
  }

  static void StartRef(TElementReader& R, TState Return) {
    R.FRef.clear();
    R.FRefReturn = Return;
    R.FBrackets = 0;
    R.FAfterCr = false;
    R.FState = TState::Ref;
  }

  // A byte of a reference: "#" and decimal digits, "#x" and hexadecimal
  // digits, or an entity's name, up to ';'.
  static void Ref(TElementReader& R, unsigned char Byte) {
    std::string& ref = R.FRef;
    if (Byte == ';') {
      if (ref.empty()) Fail(R, kBareAmp);
      Resolve(R);
      R.FState = R.FRefReturn;
      return;
    }
    // No entity has a colon in its name, and with namespaces none may.
    if (Byte == ':' && (ref.empty() || ref[0] != '#')) Fail(R, kBadEntityRef);
    bool fits;
    if (ref.empty()) {
      fits = Byte == '#' || IsNameStart(Byte);
    } else if (ref[0] == '#') {
      fits = (ref.size() == 1 && Byte == 'x') || (ref.size() > 1 && ref[1] == 'x' ? IsHexDigit(static_cast<char>(Byte))
                                                                                  : IsDigit(static_cast<char>(Byte)));
    } else {
      fits = IsNameChar(Byte);
    }
    if (!fits) Fail(R, !ref.empty() && ref[0] == '#' ? kBadCharRef : kBareAmp);
    ref += static_cast<char>(Byte);
  }

  static void Resolve(TElementReader& R) {
    const std::string& ref = R.FRef;
    std::string value;
    if (ref[0] == '#') {
      const bool hex = ref.size() > 1 && ref[1] == 'x';
      const std::size_t first = hex ? 2 : 1;
      if (ref.size() == first) Fail(R, kBadCharRef);
      std::uint32_t code = 0;
      for (std::size_t i = first; i < ref.size(); ++i) {
        const char d = ref[i];
        const std::uint32_t digit = IsDigit(d) ? d - '0' : (d | 0x20) - 'a' + 10;
        // Past the last code point the value stops growing, so no count of
        // leading digits can overflow it.
        code = std::min<std::uint32_t>(code * (hex ? 16 : 10) + digit, 0x110000);
      }
      if (!IsXmlChar(code)) Fail(R, kInvalidCharRef);
      AppendUtf8(value, code);
    } else {
      static const struct {
        const char* Name;
        char Char;
      } kEntities[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
      const auto* found = std::find_if(std::begin(kEntities), std::end(kEntities),
                                       [&](const auto& e) { return ref == e.Name; });
      if (found == std::end(kEntities)) Fail(R, kUnknownEntity + ("&" + Shown(ref) + ";"));
      value = found->Char;
    }
    if (R.FRefReturn == TState::AttrValue) {
      R.FAttrs.back().second += value;
    } else {
      AppendText(R, value);
    }
  }

  // The text between "<?" and "?>" before the stream header: only an XML
  // declaration, and one that says UTF-8 if it names an encoding.
  static void CheckDecl(TElementReader& R) {
    const std::string& d = R.FName;
    std::size_t i = 0;
    while (i < d.size() && IsNameChar(static_cast<unsigned char>(d[i]))) ++i;
    if (d.compare(0, i, "xml") != 0 || i != 3) Fail(R, kPi);
    static const char* const kOrder[] = {"version", "encoding", "standalone"};
    std::size_t next = 0;
    for (;;) {
      const std::size_t spaceStart = i;
      while (i < d.size() && IsSpace(static_cast<unsigned char>(d[i]))) ++i;
      if (i == d.size()) break;
      if (i == spaceStart) Fail(R, kBadDecl);
      const std::size_t nameStart = i;
      while (i < d.size() && d[i] >= 'a' && d[i] <= 'z') ++i;
      const std::string_view name(d.data() + nameStart, i - nameStart);
      while (i < d.size() && IsSpace(static_cast<unsigned char>(d[i]))) ++i;
      if (i == d.size() || d[i] != '=') Fail(R, kBadDecl);
      ++i;
      while (i < d.size() && IsSpace(static_cast<unsigned char>(d[i]))) ++i;
      if (i == d.size() || (d[i] != '\'' && d[i] != '"')) Fail(R, kBadDecl);
      const auto close = d.find(d[i], i + 1);
      if (close == std::string::npos) Fail(R, kBadDecl);
      const std::string_view value(d.data() + i + 1, close - i - 1);
      i = close + 1;
      std::size_t which = next;
      while (which < 3 && name != kOrder[which]) ++which;
      // The version comes first and is not optional.
      if (which == 3 || (next == 0 && which != 0)) Fail(R, kBadDecl);
      next = which + 1;
      if (which == 0) {
        // Any version of XML's syntax (as expat takes it): the document is read as
        // 1.0 all the same.
        const bool versionNum = !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
          return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_' || c == '.' || c == '-';
        });
        if (!versionNum) Fail(R, kBadDecl);
      } else if (which == 1) {
        const bool encName = !value.empty() && ((value[0] | 0x20) >= 'a' && (value[0] | 0x20) <= 'z') &&
                             std::all_of(value.begin(), value.end(), [](char c) {
                               return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '.' ||
                                      c == '_' || c == '-';
                             });
        if (!encName) Fail(R, kBadDecl);
        if (!EqualNoCase(value, "UTF-8")) Fail(R, kNotUtf8);
      } else if (value != "yes" && value != "no") {
        Fail(R, kBadDecl);
      }
    }
    if (next == 0) Fail(R, kBadDecl);
  }

  // The namespace a prefix ("": the default) resolves to in scope; nothing
  // when it is not declared. The default with nothing declared is no
  // namespace, the empty one.
  static std::optional<std::string> Lookup(const TElementReader& R, std::string_view Prefix) {
    for (auto it = R.FBindings.rbegin(); it != R.FBindings.rend(); ++it) {
      if (it->first == Prefix) return it->second;
    }
    if (Prefix.empty()) return std::string();
    if (Prefix == "xml") return kXmlNamespace;
    return std::nullopt;
  }

  static std::string Resolved(TElementReader& R, std::string_view Prefix) {
    auto found = Lookup(R, Prefix);
    if (!found) Fail(R, kUndeclaredPrefix + Shown(Prefix));
    return std::move(*found);
  }

  // The declarations among the start tag's attributes come into scope.
  static void Declare(TElementReader& R) {
    for (const auto& [name, value] : R.FAttrs) {
      std::string_view prefix;
      if (name == "xmlns") {
        prefix = "";
      } else if (PrefixOf(name) == "xmlns") {
        prefix = LocalOf(name);
      } else {
        continue;
      }
      // xml keeps its one namespace, xmlns is no prefix to declare, neither
      // namespace goes to another prefix, and a prefix cannot be undeclared.
      const bool bad = prefix == "xml" ? value != kXmlNamespace
                                       : prefix == "xmlns" || value == kXmlNamespace || value == kXmlnsNamespace ||
                                             (!prefix.empty() && value.empty());
      if (bad) Fail(R, kBadNamespaceDecl + Shown(name));
      R.FBindings.emplace_back(prefix, value);
    }
  }

  // Two attributes may share neither a name as written nor, with a prefix,
  // a local name and namespace.
  static void CheckDuplicates(TElementReader& R) {
    std::vector<std::pair<std::string, std::string_view>> names;
    names.reserve(R.FAttrs.size() * 2);
    for (const auto& attr : R.FAttrs) {
      names.emplace_back(std::string(), attr.first);
      const auto prefix = PrefixOf(attr.first);
      if (!prefix.empty() && prefix != "xmlns") names.emplace_back(Resolved(R, prefix) + ' ', LocalOf(attr.first));
    }
    std::sort(names.begin(), names.end());
    const auto twice = std::adjacent_find(names.begin(), names.end());
    if (twice != names.end()) Fail(R, kDuplicate + Shown(twice->second));
  }

  static TEvent StartTag(TElementReader& R, bool Empty) {
    const std::size_t scope = R.FBindings.size();
    Declare(R);
    CheckDuplicates(R);
    TXmlElement element;
    element.Namespace = Resolved(R, PrefixOf(R.FName));
    element.Name = std::move(R.FName);
    element.Attributes = std::move(R.FAttrs);
    R.FAttrs.clear();
    R.FName.clear();
    R.FState = TState::Content;
    R.FBrackets = 0;
    R.FAfterCr = false;
    if (!R.FHeaderOpen) {
      // The header's declarations stay in scope for the whole stream.
      R.FHeaderOpen = true;
      R.FStreamName = element.Name;
      R.FDone = std::move(element);
      R.FClosed = Empty;
      return TEvent::StreamOpen;
    }
    R.FScopes.push_back(scope);
    R.FOpen.push_back(std::move(element));
    return Empty ? CloseElement(R) : TEvent::None;
  }

  static TEvent EndTag(TElementReader& R) {
    const std::string tag = "XML end tag </" + Shown(R.FName) + ">";
    if (R.FOpen.empty()) {
      if (R.FName != R.FStreamName) Fail(R, tag + kEndMismatch + "<" + Shown(R.FStreamName) + ">");
      R.FClosed = true;
      R.FMark = std::string::npos;
      return TEvent::StreamClose;
    }
    if (R.FName != R.FOpen.back().Name) Fail(R, tag + kEndMismatch + "<" + Shown(R.FOpen.back().Name) + ">");
    return CloseElement(R);
  }

  static TEvent CloseElement(TElementReader& R) {
    R.FBindings.resize(R.FScopes.back());
    R.FScopes.pop_back();
    TXmlElement done = std::move(R.FOpen.back());
    R.FOpen.pop_back();
    R.FState = TState::Content;
    R.FBrackets = 0;
    R.FAfterCr = false;
    if (!R.FOpen.empty()) {
      R.FOpen.back().Children.push_back(std::move(done));
      return TEvent::None;
    }
    R.FDone = std::move(done);
    return TEvent::Element;
  }
};

void TElementReader::Feed(std::string_view Bytes) {
  // Nothing is read after the close or a fault: keep nothing either.
  if (FClosed || !FError.empty()) return;
  const std::size_t done = std::min(FMark, FPos);
  if (done > 0 && done >= FPending.size() / 2) {
    FPending.erase(0, done);
    FPos -= done;
    if (FMark != std::string::npos) FMark -= done;
  }
  FPending.append(Bytes);
}

TElementReader::TEvent TElementReader::Next(TXmlElement& Out) {
  if (!FError.empty()) throw EXmlError(FError);
  if (FClosed) return TEvent::StreamClose;
  while (FPos < FPending.size()) {
    if (FMark != std::string::npos && FPos - FMark >= kMaxElementSize) {
      TImpl::Fail(*this, kTooLarge + std::to_string(kMaxElementSize) + " bytes");
    }
    const TEvent event = TImpl::Step(*this, static_cast<unsigned char>(FPending[FPos]));
    ++FPos;
    if (event == TEvent::None) continue;
    if (event != TEvent::StreamClose) {
      FDone.Raw.assign(FPending, FMark, FPos - FMark);
      FMark = std::string::npos;
      Out = std::move(FDone);
      FDone = TXmlElement();
    }
    return event;
  }
  return TEvent::None;
}

void TElementReader::Restart() { *this = TElementReader(); }
