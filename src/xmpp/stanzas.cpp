#include "xmpp/stanzas.h"

#include <cctype>

#include "base/fill_text.h"
#include "text/codepage.h"
#include "text/sec_hash.h"
#include "text/xml_text.h"

namespace {

// The stanzas, "{}" standing for each value in turn.
constexpr const char* StreamHeader =
    "<?xml version='1.0' encoding='UTF-8'?><stream:stream to='{}' xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams'{}>";
constexpr const char* Versioned = " version='1.0'";
constexpr const char* ServerStreamHeader =
    "<?xml version='1.0' encoding='UTF-8'?><stream:stream xmlns='jabber:server' "
    "xmlns:stream='http://etherx.jabber.org/streams' xmlns:db='jabber:server:dialback' version='1.0' to='{}'{}>";
constexpr const char* ServerFrom = " from='{}'";
constexpr const char* StartTls = "<starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>";
constexpr const char* StreamClose = "</stream:stream>";

// The login query up to its digest, or whole without one. The digest is
// joined as wide text (see BuildAuthQuery).
constexpr const char* AuthQuery = "<iq type='{}' id='sw_{}'><query xmlns='jabber:iq:auth'><username>{}</username>";
constexpr const char* AuthQueryEnd = "</query></iq>";
constexpr const char* AuthDigest = "<digest>";
constexpr const char16_t* AuthDigestEnd = u"</digest><resource>Sentrowl</resource></query></iq>";

// The message up to its body, and after it.
constexpr const char* MessageIdPrefix = "mir_sw_";
constexpr const char* MessageHead = "<message to='{}' type='normal' id='{}'><body>";
constexpr const char* MessageEnd = "</body><x xmlns='jabber:x:event'><offline/><delivered/></x></message>";

constexpr const char* IqResult = "<iq type='result' id='{}'{}/>";
constexpr const char* IqServiceUnavailable =
    "<iq type='error' id='{}'{}><error type='cancel'>"
    "<service-unavailable xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>";
constexpr const char* IqTo = " to='{}'";

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
  Fill(Buffer, FillText(StreamHeader, {AttributeEscape(Server), ""}));
}

void BuildVersionedStreamHeader(TOutBuffer& Buffer, const std::string& Server) {
  Fill(Buffer, FillText(StreamHeader, {AttributeEscape(Server), Versioned}));
}

void BuildServerStreamHeader(TOutBuffer& Buffer, const std::string& To, const std::string& From) {
  const std::string from = From.empty() ? "" : FillText(ServerFrom, {AttributeEscape(From)});
  Fill(Buffer, FillText(ServerStreamHeader, {AttributeEscape(To), from}));
}

void BuildStartTls(TOutBuffer& Buffer) { Fill(Buffer, StartTls); }

void BuildAuthQuery(TOutBuffer& Buffer, const std::string& UserName, const std::string& DigestSource,
                    std::uint16_t& Counter, const std::string& IqType) {
  const std::string head =
      FillText(AuthQuery, {AttributeEscape(IqType), std::to_string(Counter), ContentEscape(UserName)});
  if (DigestSource.empty()) {
    Fill(Buffer, head + AuthQueryEnd);
  } else {
    // The digest is wide text, so the stanza is joined as wide text and
    // brought back through the code page as a whole.
    // Text that is UTF-8 as it stands is digested as it stands.
    const std::u16string digest =
        IsUtf8Argument(DigestSource) ? Sha1HexOfUtf8(DigestSource) : Sha1Hex(AnsiToWide(DigestSource));
    const std::u16string stanza = AnsiToWide(head + AuthDigest) + digest + AuthDigestEnd;
    Fill(Buffer, WideToAnsi(stanza));
  }
  ++Counter;
}

void BuildStreamClose(TOutBuffer& Buffer) { Fill(Buffer, StreamClose); }

std::string MessageId(std::uint16_t Counter) { return MessageIdPrefix + std::to_string(Counter); }

void BuildMessage(TOutBuffer& Buffer, const std::string& Recipient, const std::string& Body,
                  std::uint16_t& Counter) {
  const std::string head = FillText(MessageHead, {AttributeEscape(Recipient), MessageId(Counter)});
  const std::string::size_type used = head.size() + std::char_traits<char>::length(MessageEnd);
  // A stanza cut off by the buffer would be malformed XML, so the body gives
  // way instead. Only a recipient too long for any stanza still gets cut.
  const std::string::size_type room = used < OutBufferCapacity ? OutBufferCapacity - used : 0;
  Fill(Buffer, head + FittingBody(Body, room) + MessageEnd);
  ++Counter;
}

namespace {

void FillIqAnswer(TOutBuffer& Buffer, const char* Stanza, const std::string& To, const std::string& Id) {
  const std::string to = To.empty() ? "" : FillText(IqTo, {ReceivedAttribute(To)});
  Fill(Buffer, FillText(Stanza, {ReceivedAttribute(Id), to}));
}

}  // namespace

void BuildIqResult(TOutBuffer& Buffer, const std::string& To, const std::string& Id) {
  FillIqAnswer(Buffer, IqResult, To, Id);
}

void BuildIqServiceUnavailable(TOutBuffer& Buffer, const std::string& To, const std::string& Id) {
  FillIqAnswer(Buffer, IqServiceUnavailable, To, Id);
}
