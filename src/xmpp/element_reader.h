#pragma once
// An incremental reader of an XMPP stream's XML (the subset RFC 6120 §11
// allows: no DTD, no comments, no processing instructions other than an XML
// declaration before the stream header; the five predefined entities and
// character references; attributes in either quote). Bytes go in as they
// arrive, in pieces of any size; what comes out is the stream header, each
// whole top-level element (a child of the stream), and the stream close.
//
// Names keep their prefixes as written; each element and the stream header
// also carry the namespace their prefix (or the default) resolves to in
// scope. Nothing is validated beyond well-formedness.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/base_error.h"

struct TXmlElement {
  std::string Name;       // as written: "stream:features", "success", "bind"
  std::string Namespace;  // the namespace the name resolves to; empty: none
  std::vector<std::pair<std::string, std::string>> Attributes;  // as written, values decoded
  std::vector<TXmlElement> Children;
  std::string Text;  // the element's own character data, decoded, children's left out
  std::string Raw;   // the element's bytes as received (for the stream header: its start tag)

  // The name without its prefix.
  std::string_view LocalName() const;
  // The attribute's decoded value; nothing when it is absent.
  std::optional<std::string> Attribute(std::string_view AName) const;
  // The first child whose local name is ALocalName and, when ANamespace is
  // not empty, whose namespace is ANamespace; nullptr when there is none.
  const TXmlElement* Child(std::string_view ALocalName, std::string_view ANamespace = {}) const;
};

// The XML is not well-formed, is of a kind XMPP does not allow, or is beyond
// the reader's limits. The message says what, in a few words.
class EXmlError : public EBaseError {
 public:
  using EBaseError::EBaseError;
};

class TElementReader {
 public:
  enum class TEvent {
    None,         // nothing whole yet: feed more
    StreamOpen,   // the stream header's start tag (no children, no text)
    Element,      // one whole top-level element
    StreamClose,  // the stream's end tag; nothing is read after it
  };

  // Elements larger than this, or nested deeper, raise EXmlError.
  static constexpr std::size_t kMaxElementSize = 1 << 20;
  static constexpr std::size_t kMaxDepth = 64;

  // Appends received bytes.
  void Feed(std::string_view Bytes);
  // The next event, if the bytes fed so far hold one; Out is set for
  // StreamOpen and Element. Raises EXmlError at the first fault, and again
  // at every later call. White space between top-level elements is skipped.
  TEvent Next(TXmlElement& Out);
  // Starts over for a new stream (after STARTTLS or SASL): forgets the
  // stream header, its namespaces and any unread bytes.
  void Restart();

  // Further rules of this reader:
  // - After StreamClose every later Next returns StreamClose again; bytes
  //   after the close are not read. After an error every Next raises it again.
  //   Restart clears both.
  // - The first start tag is the stream header, whatever its name; the
  //   caller judges the name. A self-closing header (<stream:stream .../>)
  //   is a stream that opens and closes at once: StreamOpen, then StreamClose.
  // - White space may also precede the XML declaration.
  // - UTF-8 is not validated: bytes from 0x80 up pass through as they came,
  //   in text, attribute values and names. Control bytes other than tab, CR
  //   and LF are refused, as XML refuses them.
  // - Line ends are normalised as XML does: CR LF and a lone CR become LF in
  //   text; tab, CR and LF become a space in attribute values (character
  //   references excepted).

 private:
  struct TImpl;
  enum class TState {
    Prolog,     // before the stream header: white space, an XML declaration
    Content,    // character data, inside the stream or one of its elements
    Lt,         // after '<'
    LtBang,     // after "<!"
    Decl,       // inside "<?", up to "?>" (before the header only)
    StartName,  // a start tag's name
    TagSpace,   // a start tag, between attributes
    AttrName,
    AttrEq,     // after an attribute's name, before '='
    AttrQuote,  // after '=', before the opening quote
    AttrValue,
    AfterValue,  // after an attribute value's closing quote
    EmptyEnd,    // after '/' in a start tag
    EndName,     // an end tag's name
    EndSpace,    // after an end tag's name
    Ref,         // after '&', up to ';'
  };

  std::string FPending;     // bytes fed and not yet let go
  std::size_t FPos = 0;     // the next byte of FPending to read
  std::size_t FMark = std::string::npos;  // where the current top-level tag or element began; npos: none
  TState FState = TState::Prolog;
  TState FRefReturn = TState::Content;  // the state a reference returns to
  std::string FError;                   // the first fault; raised by every later Next
  bool FClosed = false;
  bool FHeaderOpen = false;
  bool FDeclSeen = false;
  bool FAfterCr = false;        // the last character was a CR: an LF after it is dropped
  int FBrackets = 0;            // "]" just before, in text: "]]>" is refused
  std::string FStreamName;      // the stream header's name, for its end tag
  std::vector<TXmlElement> FOpen;  // the open elements, the top-level one first
  // Namespace declarations in scope (prefix, namespace; "" is the default),
  // the stream header's first; FScopes holds where each open element's own begin.
  std::vector<std::pair<std::string, std::string>> FBindings;
  std::vector<std::size_t> FScopes;
  std::string FName;   // the name (or the declaration's text) being read
  std::string FRef;    // the reference being read, without '&' and ';'
  char FQuote = '"';
  std::vector<std::pair<std::string, std::string>> FAttrs;  // the start tag's so far, values decoded
  TXmlElement FDone;   // the event's element, once whole
};
