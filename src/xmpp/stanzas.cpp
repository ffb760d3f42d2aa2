#include "xmpp/stanzas.h"

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

constexpr const char* StartTls = "<starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>";

constexpr const char* QueryStart = "<iq type='";
constexpr const char* QueryId = "' id='sw_";
constexpr const char* QueryUserName = "'><query xmlns='jabber:iq:auth'><username>";
constexpr const char* QueryUserNameEnd = "</username>";
constexpr const char* QueryEnd = "</query></iq>";
constexpr const char* QueryDigest = "<digest>";
constexpr const char16_t* QueryDigestEnd = u"</digest><resource>Sentrowl</resource></query></iq>";

constexpr const char* StreamClose = "</stream:stream>";

constexpr const char* MessageStart = "<message from='";
constexpr const char* MessageSender = "monitor@example.org";
constexpr const char* MessageTo = "' to='";
constexpr const char* MessageId = "' type='normal' id='mir_sw_";
constexpr const char* MessageBody = "'><body>";
constexpr const char* MessageEnd = "</body><x xmlns='jabber:x:event'><offline/><delivered/></x></message>";

constexpr std::string::size_type MessageBodyLimit = 4096;

// Attribute values are delimited by apostrophes, which XmlEscape leaves
// alone; an apostrophe in a value would end the attribute.
std::string AttributeEscape(const std::string& Value) {
  const std::string escaped = XmlEscape(Value);
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

void Fill(TOutBuffer& Buffer, const std::string& Stanza) {
  Buffer.Len = 0;
  AppendText(Buffer, Stanza);
}

// The longest start of Body, in whole input bytes and at most
// MessageBodyLimit of them, whose escaped form is no longer than Room.
std::string FittingBody(const std::string& Body, std::string::size_type Room) {
  std::string escaped;
  std::string::size_type taken = 0;
  for (; taken < Body.size() && taken < MessageBodyLimit; ++taken) {
    const std::string piece = XmlEscape(Body.substr(taken, 1));
    if (escaped.size() + piece.size() > Room) break;
    escaped += piece;
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

void BuildStartTls(TOutBuffer& Buffer) { Fill(Buffer, StartTls); }

void BuildAuthQuery(TOutBuffer& Buffer, const std::string& UserName, const std::string& DigestSource,
                    std::uint16_t& Counter, const std::string& IqType) {
  const std::string head = std::string(QueryStart) + AttributeEscape(IqType) + QueryId + std::to_string(Counter) +
                           QueryUserName + XmlEscape(UserName) + QueryUserNameEnd;
  if (DigestSource.empty()) {
    Fill(Buffer, head + QueryEnd);
  } else {
    // The digest is wide text, so the stanza is joined as wide text and
    // brought back through the code page as a whole.
    const std::u16string stanza =
        AnsiToWide(head + QueryDigest) + Sha1Hex(AnsiToWide(DigestSource)) + QueryDigestEnd;
    Fill(Buffer, WideToAnsi(stanza));
  }
  ++Counter;
}

void BuildStreamClose(TOutBuffer& Buffer) { Fill(Buffer, StreamClose); }

void BuildMessage(TOutBuffer& Buffer, const std::string& Recipient, const std::string& Body,
                  std::uint16_t& Counter) {
  const std::string head = std::string(MessageStart) + MessageSender + MessageTo + AttributeEscape(Recipient) +
                           MessageId + std::to_string(Counter) + MessageBody;
  const std::string::size_type used = head.size() + std::char_traits<char>::length(MessageEnd);
  // A stanza cut off by the buffer would be malformed XML, so the body gives
  // way instead. Only a recipient too long for any stanza still gets cut.
  const std::string::size_type room = used < OutBufferCapacity ? OutBufferCapacity - used : 0;
  Fill(Buffer, head + FittingBody(Body, room) + MessageEnd);
  ++Counter;
}
