#include "xmpp/stream_header.h"

#include <string>

#include "xmpp/element_reader.h"

namespace {

constexpr std::string_view kStreamName = "stream:stream";
constexpr std::string_view kStreamNamespace = "http://etherx.jabber.org/streams";
constexpr std::string_view kClientNamespace = "jabber:client";

}  // namespace

// The element reader decides what is a start tag; a header that closes the
// stream at once (".../>") opens no stream to talk on.
TStreamHeader JudgeStreamHeader(std::string_view Text) {
  TElementReader reader;
  reader.Feed(Text);
  TXmlElement header;
  try {
    if (reader.Next(header) != TElementReader::TEvent::StreamOpen) return TStreamHeader::Incomplete;
  } catch (const EXmlError&) {
    return TStreamHeader::NotXmpp;
  }
  const bool xmpp = header.Name == kStreamName && header.Namespace == kStreamNamespace &&
                    header.Attribute("xmlns") == kClientNamespace && !header.Raw.ends_with("/>");
  return xmpp ? TStreamHeader::Xmpp : TStreamHeader::NotXmpp;
}
