#include "xmpp/stanzas.h"

#include <cctype>

#include "text/codepage.h"
#include "text/sec_hash.h"
#include "text/xml_text.h"

namespace {

// The fixed pieces of the stanzas, in the order they are written.
constexpr const char* HeaderStart = "<?xml version='1.0' encoding='UTF-8'?><stream:stream to='";
constexpr const char* HeaderNamespaces = "' xmlns='jabber:client' xmlns:stream='";
constexpr const char* StreamNamespace = "http://etherx.jabber.org/streams";
constexpr const char* HeaderVersion = "' version='1.0";
constexpr const char* HeaderEnd = "'>";

constexpr const char* ServerHeaderStart =
    "<?xml version='1.0' encoding='UTF-8'?><stream:stream xmlns='jabber:server' "
    "xmlns:stream='http://etherx.jabber.org/streams' xmlns:db='jabber:server:dialback' version='1.0' to='";
constexpr const char* ServerHeaderFrom = "' from='";
constexpr const char* StartTls = "<starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>";

constexpr const char* QueryStart = "<iq type='";
constexpr const char* QueryId = "' id='sw_";
constexpr const char* QueryUserName = "'><query xmlns='jabber:iq:auth'><username>";
constexpr const char* QueryUserNameEnd = "</username>";
constexpr const char* QueryEnd = "</query></iq>";
constexpr const char* QueryDigest = "<digest>";
constexpr const char16_t* QueryDigestEnd = u"</digest><resource>Sentrowl</resource></query></iq>";

constexpr const char* StreamClose = "</stream:stream>";

constexpr const char* MessageStart = "<message to='";
constexpr const char* MessageIdStart = "' type='normal' id='";
constexpr const char* MessageIdPrefix = "mir_sw_";
constexpr const char* MessageBody = "'><body>";
constexpr const char* MessageEnd = "</body><x xmlns='jabber:x:event'><offline/><delivered/></x></message>";

constexpr const char* IqResultStart = "<iq type='result' id='";
constexpr const char* IqErrorStart = "<iq type='error' id='";
constexpr const char* IqTo = "' to='";
constexpr const char* IqResultEnd = "'/>";
constexpr const char* IqErrorEnd =
    "'><error type='cancel'><service-unavailable xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>";

constexpr std::string::size_type MessageBodyLimit = 4096;

// The caller's text made safe as element content: text that is UTF-8 as it
// stands goes out unchanged, other text as its bytes read as ISO-8859-1.
std::string ContentEscape(const std::string& Text) {
  return IsUtf8Argument(Text) ? XmlEscapeUtf8(Text) : XmlEscape(Text);
}

// Attribute values are delimited by apostrophes, which XmlEscape leaves
// alone; an apostrophe in a value would end the attribute.
std::string AttributeEscape(const std::string& Value) {
  const std::string escaped = ContentEscape(Value);
  std::string result;
  result.reserve(escaped.size());
  for (const char c : escaped) {
    if (c == '\'')
      result += "&apos;";
    else
      result += c;
  }
  return result;
}

// A value taken as received from between the quotes of an attribute, made
// fit to stand between apostrophes with the same meaning. It is already
// escaped, so escaping it again would change it ("&amp;" would become
// "&amp;amp;"); only what may not stand there is replaced: an apostrophe
// (legal between double quotes), a "<", and an "&" that begins no reference.
std::string ReceivedAttribute(const std::string& Value) {
  std::string result;
  result.reserve(Value.size());
  for (std::string::size_type i = 0; i < Value.size(); ++i) {
    const char c = Value[i];
    if (c == '\'') {
      result += "&apos;";
    } else if (c == '<') {
      result += "&lt;";
    } else if (c == '&') {
      std::string::size_type end = i + 1;
      while (end < Value.size() && (std::isalnum(static_cast<unsigned char>(Value[end])) || Value[end] == '#')) ++end;
      const bool reference = end > i + 1 && end < Value.size() && Value[end] == ';';
      result += reference ? "&" : "&amp;";
    } else {
      result += c;
    }
  }
  return result;
}

void Fill(TOutBuffer& Buffer, const std::string& Stanza) {
  Buffer.Len = 0;
  AppendText(Buffer, Stanza);
}

// The longest start of Body, in whole input bytes and at most
// MessageBodyLimit of them, whose escaped form is no longer than Room.
// UTF-8 text is cut between characters only.
std::string FittingBody(const std::string& Body, std::string::size_type Room) {
  const bool utf8 = IsUtf8Argument(Body);
  std::string escaped;
  std::string::size_type taken = 0;
  while (taken < Body.size()) {
    const std::string::size_type length = utf8 ? Utf8SequenceLength(Body[taken]) : 1;
    if (taken + length > MessageBodyLimit) break;
    const std::string character = Body.substr(taken, length);
    const std::string piece = utf8 ? XmlEscapeUtf8(character) : XmlEscape(character);
    if (escaped.size() + piece.size() > Room) break;
    escaped += piece;
    taken += length;
  }
  return escaped;
}

}  // namespace

void BuildStreamHeader(TOutBuffer& Buffer, const std::string& Server) {
  Fill(Buffer, std::string(HeaderStart) + AttributeEscape(Server) + HeaderNamespaces + StreamNamespace + HeaderEnd);
}

void BuildVersionedStreamHeader(TOutBuffer& Buffer, const std::string& Server) {
  Fill(Buffer, std::string(HeaderStart) + AttributeEscape(Server) + HeaderNamespaces + StreamNamespace +
                   HeaderVersion + HeaderEnd);
}

void BuildServerStreamHeader(TOutBuffer& Buffer, const std::string& To, const std::string& From) {
  std::string header = ServerHeaderStart + AttributeEscape(To);
  if (!From.empty()) header += ServerHeaderFrom + AttributeEscape(From);
  Fill(Buffer, header + HeaderEnd);
}

void BuildStartTls(TOutBuffer& Buffer) { Fill(Buffer, StartTls); }

void BuildAuthQuery(TOutBuffer& Buffer, const std::string& UserName, const std::string& DigestSource,
                    std::uint16_t& Counter, const std::string& IqType) {
  const std::string head = std::string(QueryStart) + AttributeEscape(IqType) + QueryId + std::to_string(Counter) +
                           QueryUserName + ContentEscape(UserName) + QueryUserNameEnd;
  if (DigestSource.empty()) {
    Fill(Buffer, head + QueryEnd);
  } else {
    // The digest is wide text, so the stanza is joined as wide text and
    // brought back through the code page as a whole.
    // Text that is UTF-8 as it stands is digested as it stands.
    const std::u16string digest =
        IsUtf8Argument(DigestSource) ? Sha1HexOfUtf8(DigestSource) : Sha1Hex(AnsiToWide(DigestSource));
    const std::u16string stanza = AnsiToWide(head + QueryDigest) + digest + QueryDigestEnd;
    Fill(Buffer, WideToAnsi(stanza));
  }
  ++Counter;
}

void BuildStreamClose(TOutBuffer& Buffer) { Fill(Buffer, StreamClose); }

std::string MessageId(std::uint16_t Counter) { return MessageIdPrefix + std::to_string(Counter); }

void BuildMessage(TOutBuffer& Buffer, const std::string& Recipient, const std::string& Body,
                  std::uint16_t& Counter) {
  const std::string head =
      std::string(MessageStart) + AttributeEscape(Recipient) + MessageIdStart + MessageId(Counter) + MessageBody;
  const std::string::size_type used = head.size() + std::char_traits<char>::length(MessageEnd);
  // A stanza cut off by the buffer would be malformed XML, so the body gives
  // way instead. Only a recipient too long for any stanza still gets cut.
  const std::string::size_type room = used < OutBufferCapacity ? OutBufferCapacity - used : 0;
  Fill(Buffer, head + FittingBody(Body, room) + MessageEnd);
  ++Counter;
}

namespace {

void FillIqAnswer(TOutBuffer& Buffer, const char* Start, const std::string& To, const std::string& Id,
                  const char* End) {
  std::string stanza = Start + ReceivedAttribute(Id);
  if (!To.empty()) stanza += IqTo + ReceivedAttribute(To);
  Fill(Buffer, stanza + End);
}

}  // namespace

void BuildIqResult(TOutBuffer& Buffer, const std::string& To, const std::string& Id) {
  FillIqAnswer(Buffer, IqResultStart, To, Id, IqResultEnd);
}

void BuildIqServiceUnavailable(TOutBuffer& Buffer, const std::string& To, const std::string& Id) {
  FillIqAnswer(Buffer, IqErrorStart, To, Id, IqErrorEnd);
}
