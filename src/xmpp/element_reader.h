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

 private:
  struct TImpl;
  std::string FPending;
  // The implementer adds what else it needs here.
};
