// Fuzz target for the element reader (TElementReader), with expat as the
// oracle.
//
// Input: one mode byte, then the bytes. Mode bit 0 clear: the bytes are the
// content of a stream whose header and close the target adds; set: the bytes
// are the whole stream, header and all.
//
// Properties:
// - Fed whole and fed a byte at a time, the reader gives the same events and
//   the same fault; each event comes with the byte that completes it, and an
//   element's Raw is the bytes that end there.
// - A fault is raised again by every later Next; after the close, Next says
//   StreamClose again.
// - Where expat finds the document well-formed, the reader gives its root as
//   the header and the root's children as the elements, with the same names,
//   namespaces, attributes (the reader also keeps the xmlns declarations) and
//   text; or it refuses what it refuses by design, and the document holds
//   that (a comment, a CDATA section, a DTD, a processing instruction, text
//   between the stream's elements, an encoding other than UTF-8, nesting
//   beyond the limit).
// - Where expat finds an error and the document is ASCII (the reader leaves
//   UTF-8 and the non-ASCII name characters unchecked by design), the reader
//   fails too, or it closed the stream before expat's error, or it still
//   waits for bytes where expat's error is that the document is unfinished.

#include <expat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "xmpp/element_reader.h"

namespace {

using TEvent = TElementReader::TEvent;

const std::string kHeader =
    "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams' id='x' version='1.0'>";
const std::string kClose = "</stream:stream>";

struct TRecord {
  std::vector<TEvent> Events;
  std::vector<TXmlElement> Elements;  // one per StreamOpen and Element
  std::vector<std::size_t> Ends;      // the number of bytes fed when each event came
  std::string Error;
  bool Failed = false;
};

// Takes events until the reader wants more; false once it failed or closed.
bool Drain(TElementReader& reader, TRecord& record, std::size_t fed) {
  for (;;) {
    TXmlElement e;
    TEvent event;
    try {
      event = reader.Next(e);
    } catch (const EXmlError& error) {
      record.Failed = true;
      record.Error = error.Message();
      // The fault stays.
      try {
        reader.Next(e);
        FUZZ_CHECK(false);
      } catch (const EXmlError& again) {
        FUZZ_CHECK(again.Message() == record.Error);
      }
      return false;
    }
    if (event == TEvent::None) return true;
    record.Events.push_back(event);
    record.Ends.push_back(fed);
    if (event == TEvent::StreamClose) {
      FUZZ_CHECK(reader.Next(e) == TEvent::StreamClose);
      return false;
    }
    record.Elements.push_back(std::move(e));
  }
}

bool SameElement(const TXmlElement& a, const TXmlElement& b) {
  if (a.Name != b.Name || a.Namespace != b.Namespace || a.Attributes != b.Attributes || a.Text != b.Text ||
      a.Raw != b.Raw || a.Children.size() != b.Children.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.Children.size(); ++i) {
    if (!SameElement(a.Children[i], b.Children[i])) return false;
  }
  return true;
}

// What expat makes of the document: the root, its children inside it.
struct TOracle {
  std::vector<TXmlElement> Open;
  TXmlElement Root;
  bool HasRoot = false;
  std::size_t Depth = 0;
  std::size_t MostDepth = 0;
};

// Expat's "namespace\1local\1prefix" (or "namespace\1local", or "local")
// as the reader has it: the name as written and its namespace.
void SplitName(const char* expanded, std::string& name, std::string& space) {
  const std::string all = expanded;
  const auto first = all.find('\1');
  if (first == std::string::npos) {
    name = all;
    space.clear();
    return;
  }
  space = all.substr(0, first);
  const auto second = all.find('\1', first + 1);
  if (second == std::string::npos) {
    name = all.substr(first + 1);
  } else {
    name = all.substr(second + 1) + ":" + all.substr(first + 1, second - first - 1);
  }
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto& oracle = *static_cast<TOracle*>(data);
  TXmlElement e;
  SplitName(name, e.Name, e.Namespace);
  for (std::size_t i = 0; attributes[i] != nullptr; i += 2) {
    std::string attributeName;
    std::string ignored;
    SplitName(attributes[i], attributeName, ignored);
    e.Attributes.emplace_back(attributeName, attributes[i + 1]);
  }
  oracle.Open.push_back(std::move(e));
  oracle.MostDepth = std::max(oracle.MostDepth, oracle.Open.size());
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
  auto& oracle = *static_cast<TOracle*>(data);
  TXmlElement done = std::move(oracle.Open.back());
  oracle.Open.pop_back();
  if (oracle.Open.empty()) {
    oracle.Root = std::move(done);
    oracle.HasRoot = true;
  } else {
    oracle.Open.back().Children.push_back(std::move(done));
  }
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  auto& oracle = *static_cast<TOracle*>(data);
  if (!oracle.Open.empty()) oracle.Open.back().Text.append(text, static_cast<std::size_t>(length));
}

// The reader's element without what expat does not report: the namespace
// declarations among the attributes, and Raw.
bool Agrees(const TXmlElement& mine, const TXmlElement& oracle, bool withChildren) {
  std::vector<std::pair<std::string, std::string>> attributes;
  for (const auto& attribute : mine.Attributes) {
    if (attribute.first != "xmlns" && attribute.first.compare(0, 6, "xmlns:") != 0) attributes.push_back(attribute);
  }
  if (mine.Name != oracle.Name || mine.Namespace != oracle.Namespace || attributes != oracle.Attributes) return false;
  if (!withChildren) return true;
  if (mine.Text != oracle.Text || mine.Children.size() != oracle.Children.size()) return false;
  for (std::size_t i = 0; i < mine.Children.size(); ++i) {
    if (!Agrees(mine.Children[i], oracle.Children[i], true)) return false;
  }
  return true;
}

bool OnlySpace(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The reader's refusal is one it makes by design, and the document holds
// what it refuses.
bool RefusedByDesign(const std::string& error, const std::string& document, const TOracle& oracle) {
  const auto has = [&](const char* part) { return fuzz::Contains(document, part); };
  if (error == "XML comments are not allowed in an XMPP stream") return has("<!-");
  if (error == "CDATA sections are not allowed in an XMPP stream") return has("<![");
  if (error == "DTDs are not allowed in an XMPP stream") return has("<!");
  if (error == "XML processing instructions are not allowed in an XMPP stream") return has("<?");
  if (error == "XML declaration names an encoding other than UTF-8") return has("encoding");
  if (error == "Text between the XMPP stream's elements") return !OnlySpace(oracle.Root.Text);
  if (error == "Text before the XMPP stream header") return has("\xEF\xBB\xBF");
  if (fuzz::StartsWith(error, "XML elements nested deeper than")) {
    return oracle.MostDepth > TElementReader::kMaxDepth + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool whole = (data[0] & 1) != 0;
  const std::string document = whole ? bytes : kHeader + bytes + kClose;

  TRecord once;
  {
    TElementReader reader;
    reader.Feed(document);
    Drain(reader, once, document.size());
  }
  TRecord bytewise;
  {
    TElementReader reader;
    for (std::size_t i = 0; i < document.size(); ++i) {
      reader.Feed(std::string_view(document).substr(i, 1));
      if (!Drain(reader, bytewise, i + 1)) break;
    }
  }
  FUZZ_CHECK(once.Events == bytewise.Events);
  FUZZ_CHECK(once.Failed == bytewise.Failed && once.Error == bytewise.Error);
  FUZZ_CHECK(once.Elements.size() == bytewise.Elements.size());
  for (std::size_t i = 0, element = 0; i < bytewise.Events.size(); ++i) {
    if (bytewise.Events[i] == TEvent::StreamClose) continue;
    FUZZ_CHECK((bytewise.Events[i] == TEvent::StreamOpen) == (i == 0));
    const TXmlElement& e = bytewise.Elements[element];
    FUZZ_CHECK(SameElement(e, once.Elements[element]));
    ++element;
    const std::size_t end = bytewise.Ends[i];
    FUZZ_CHECK(e.Raw.size() <= end && document.compare(end - e.Raw.size(), e.Raw.size(), e.Raw) == 0);
    FUZZ_CHECK(fuzz::StartsWith(e.Raw, "<") && fuzz::EndsWith(e.Raw, ">"));
    FUZZ_CHECK(e.Raw.size() <= TElementReader::kMaxElementSize);
  }
  const bool closed = !bytewise.Events.empty() && bytewise.Events.back() == TEvent::StreamClose;

  TOracle oracle;
  XML_Parser parser = XML_ParserCreateNS("UTF-8", '\1');
  XML_SetReturnNSTriplet(parser, XML_TRUE);
  XML_SetUserData(parser, &oracle);
  XML_SetElementHandler(parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser, OnText);
  const bool wellFormed =
      XML_Parse(parser, document.data(), static_cast<int>(document.size()), XML_TRUE) == XML_STATUS_OK;
  const XML_Error code = XML_GetErrorCode(parser);
  const auto errorAt = static_cast<std::size_t>(XML_GetCurrentByteIndex(parser));
  XML_ParserFree(parser);

  if (wellFormed) {
    FUZZ_CHECK(oracle.HasRoot);
    if (bytewise.Failed) {
      if (!RefusedByDesign(bytewise.Error, document, oracle)) {
        std::fprintf(stderr, "the reader refuses what expat reads: %s\n", bytewise.Error.c_str());
        FUZZ_CHECK(false);
      }
    } else {
      FUZZ_CHECK(closed);
      FUZZ_CHECK(bytewise.Elements.size() == oracle.Root.Children.size() + 1);
    }
    // What the reader gave before it stopped agrees with expat.
    for (std::size_t i = 0; i < bytewise.Elements.size(); ++i) {
      const bool header = i == 0;
      const TXmlElement& expected = header ? oracle.Root : oracle.Root.Children[i - 1];
      FUZZ_CHECK(i == 0 || i - 1 < oracle.Root.Children.size());
      FUZZ_CHECK(Agrees(bytewise.Elements[i], expected, !header));
    }
    return 0;
  }
  // The reader leaves UTF-8 unchecked, and takes white space before the XML
  // declaration.
  for (const char c : document) {
    if (static_cast<unsigned char>(c) >= 0x80) return 0;
  }
  if (!document.empty() && document.find_first_not_of(" \t\r\n") != 0 && fuzz::Contains(document, "<?")) return 0;
  if (bytewise.Failed) return 0;
  if (closed) {
    if (errorAt < bytewise.Ends.back()) {
      std::fprintf(stderr, "expat: %s at %zu, the reader closed at %zu\n", XML_ErrorString(code), errorAt,
                   bytewise.Ends.back());
      FUZZ_CHECK(false);
    }
    return 0;
  }
  if (code != XML_ERROR_NO_ELEMENTS && code != XML_ERROR_UNCLOSED_TOKEN && code != XML_ERROR_PARTIAL_CHAR) {
    std::fprintf(stderr, "expat: %s at %zu, the reader waits for more\n", XML_ErrorString(code), errorAt);
    FUZZ_CHECK(false);
  }
  return 0;
}
