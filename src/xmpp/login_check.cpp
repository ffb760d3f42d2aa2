#include "xmpp/login_check.h"

#include <utility>

#include "crypto/crypto.h"
#include "net/tls_error.h"
#include "text/base64.h"
#include "text/sec_hash.h"
#include "text/trim.h"
#include "text/xml_text.h"
#include "xmpp/scram.h"

namespace {

// The texts of the results; "{}" stands for the value filled in.
constexpr std::string_view kStepNames[] = {"stream opening", "login", "resource binding", "ping"};
constexpr std::string_view kNoAnswer = "No answer in time during the ";
constexpr std::string_view kStreamEnded = "The server ended the stream during the ";
constexpr std::string_view kStreamClosed = "The server closed the stream during the ";
constexpr std::string_view kConnectionClosed = "The server closed the connection during the ";
constexpr std::string_view kMalformed = "The server sent malformed XML during the ";
constexpr std::string_view kLoginFailed = "Login failed. ";
constexpr std::string_view kNoMechanism = "No usable login mechanism. Offered: ";
constexpr std::string_view kNoneOffered = "none";
constexpr std::string_view kBindFailed = "Resource binding failed. ";
constexpr std::string_view kSessionFailed = "Session establishment failed. ";
constexpr std::string_view kMalformedChallenge = "The server's challenge is malformed";

// The namespaces and names of the conversation.
constexpr std::string_view kStreamsNs = "http://etherx.jabber.org/streams";
constexpr std::string_view kTlsNs = "urn:ietf:params:xml:ns:xmpp-tls";
constexpr std::string_view kSaslNs = "urn:ietf:params:xml:ns:xmpp-sasl";
constexpr std::string_view kSessionNs = "urn:ietf:params:xml:ns:xmpp-session";
constexpr std::string_view kStanzasNs = "urn:ietf:params:xml:ns:xmpp-stanzas";
constexpr std::string_view kAuthNs = "jabber:iq:auth";
constexpr std::string_view kPingNs = "urn:xmpp:ping";
constexpr std::string_view kStreamClose = "</stream:stream>";
constexpr std::string_view kResourcePrefix = "tolvane-";
constexpr std::string_view kIdPrefix = "tolvane_";

// The mechanisms by their SASL names, best first; Legacy is no SASL mechanism.
struct TMechanismName {
  TLoginMechanism Mechanism;
  std::string_view Name;
};
constexpr TMechanismName kMechanisms[] = {
    {TLoginMechanism::ScramSha256, "SCRAM-SHA-256"},
    {TLoginMechanism::ScramSha1, "SCRAM-SHA-1"},
    {TLoginMechanism::Plain, "PLAIN"},
};

std::string_view NameOf(TLoginMechanism Mechanism) {
  for (const TMechanismName& entry : kMechanisms)
    if (entry.Mechanism == Mechanism) return entry.Name;
  return {};
}

std::string Hex(std::string_view Bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string result;
  for (const char c : Bytes) {
    result += kDigits[static_cast<unsigned char>(c) >> 4];
    result += kDigits[static_cast<unsigned char>(c) & 15];
  }
  return result;
}

// A server's text on one line: control characters become spaces.
std::string OneLine(std::string_view Text) {
  std::string result(Text);
  for (char& c : result)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
  return result;
}

bool Is(const TXmlElement& Element, std::string_view LocalName, std::string_view Namespace) {
  return Element.LocalName() == LocalName && Element.Namespace == Namespace;
}

// The condition of a SASL <failure> or a stanza's <error>: the first child
// that is not its <text>, then ": " and the text when there is one. An
// element without a condition is shown whole, so the reason still says
// what came.
std::string ConditionOf(const TXmlElement& Element, bool WithText) {
  for (const TXmlElement& child : Element.Children) {
    if (child.LocalName() == "text") continue;
    std::string condition(child.LocalName());
    const TXmlElement* text = Element.Child("text");
    if (WithText && text && !text->Text.empty()) condition += ": " + OneLine(text->Text);
    return condition;
  }
  return OneLine(Element.Raw);
}

// A stanza error's condition: the <error> child's.
std::string StanzaCondition(const TXmlElement& Iq, bool WithText) {
  const TXmlElement* error = Iq.Child("error");
  return error ? ConditionOf(*error, WithText) : OneLine(Iq.Raw);
}

}  // namespace

TLoginCheck::TLoginCheck(TLoginSettings Settings, TTlsStep Tls)
    : FSettings(std::move(Settings)),
      FTls(std::move(Tls)),
      FNonce(MakeScramNonce()),
      FResource(std::string(kResourcePrefix) + Hex(RandomBytes(6))) {}

void TLoginCheck::Run(TByteStream& Plain) {
  FStream = &Plain;
  FDeadline = TDeadline(FSettings.TimeoutMs);
  if (FSettings.Tls == TLoginTls::Direct) {
    StackTls();
    OpenStream();
  } else {
    OpenStream();
    StartTls();
    OpenStream();
  }
  if (FSettings.Mechanism == TLoginMechanism::Legacy) {
    LoginLegacy();
  } else {
    const TLoginMechanism mechanism = ChooseMechanism();
    if (mechanism == TLoginMechanism::Plain)
      LoginPlain();
    else
      LoginScram(mechanism);
    OpenStream();
    Bind();
    EstablishSession();
  }
  Ping();
  FAlive = true;
}

void TLoginCheck::Close() noexcept {
  if (!FStream) return;
  try {
    if (FStreamOpen && !FServerClosed) {
      if (FAlive) {
        // As the probe does: the server's own close is awaited, within a
        // time-out of its own, so that the session ends cleanly on its side.
        FDeadline = TDeadline(FSettings.TimeoutMs);
        Send(kStreamClose);
        for (;;) Await(TStep::Ping);
      } else {
        // A failed check does not wait on a server that has already failed it.
        FStream->Send(kStreamClose, -1);
      }
    }
  } catch (const std::exception&) {
    // The close's end, or a connection that is already gone.
  }
  FStream->Close();
  FStream = nullptr;
}

void TLoginCheck::Send(std::string_view Text) { FStream->Send(Text, FDeadline.Next()); }

void TLoginCheck::Fail(TStep Step, std::string_view What, std::string_view Detail) {
  throw ELoginError(std::string(What) + std::string(kStepNames[static_cast<int>(Step)]) + std::string(Detail));
}

TXmlElement TLoginCheck::Await(TStep Step) {
  for (;;) {
    TXmlElement element;
    TElementReader::TEvent event = TElementReader::TEvent::None;
    try {
      event = FReader.Next(element);
    } catch (const EXmlError& failure) {
      Fail(Step, kMalformed, ". " + failure.Message());
    }
    switch (event) {
      case TElementReader::TEvent::Element:
        if (Is(element, "error", kStreamsNs)) {
          FServerClosed = true;
          Fail(Step, kStreamEnded, "; " + element.Raw);
        }
        return element;
      case TElementReader::TEvent::StreamOpen:
        FStreamId = element.Attribute("id").value_or("");
        continue;
      case TElementReader::TEvent::StreamClose:
        FServerClosed = true;
        Fail(Step, kStreamClosed, "; " + std::string(kStreamClose));
      case TElementReader::TEvent::None:
        break;
    }
    const std::int32_t timeout = FDeadline.Next();
    if (FDeadline.Limited() && timeout < 0) Fail(Step, kNoAnswer, "");
    std::string bytes;
    switch (FStream->Receive(timeout, bytes)) {
      case TByteStream::TReceived::Data:
        FReader.Feed(bytes);
        break;
      case TByteStream::TReceived::TimedOut:
        Fail(Step, kNoAnswer, "");
      case TByteStream::TReceived::Closed:
        FServerClosed = true;
        Fail(Step, kConnectionClosed, "");
    }
  }
}

// A stream header with version='1.0' (servers offer features only then),
// and the server's features in answer. Other elements before the features
// settle nothing.
void TLoginCheck::OpenStream() {
  FReader.Restart();
  FStreamId.clear();
  Send("<?xml version='1.0' encoding='UTF-8'?><stream:stream to='" +
       XmlAttributeEscapeUtf8(FSettings.Domain) +
       "' xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams' version='1.0'>");
  FStreamOpen = true;
  for (;;) {
    TXmlElement element = Await(TStep::Opening);
    if (Is(element, "features", kStreamsNs)) {
      FFeatures = std::move(element);
      return;
    }
  }
}

void TLoginCheck::StartTls() {
  if (!FFeatures.Child("starttls", kTlsNs)) throw ETlsError(tlsErrNoStartTls);
  Send("<starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>");
  for (;;) {
    const TXmlElement answer = Await(TStep::Opening);
    if (Is(answer, "proceed", kTlsNs)) break;
    if (Is(answer, "failure", kTlsNs)) throw ETlsError(tlsErrStartTlsRefused);
  }
  StackTls();
}

// The plain stream's header is left behind: whatever comes over TLS is a
// new stream.
void TLoginCheck::StackTls() {
  FStreamOpen = false;
  FStream = &FTls(*FStream, FDeadline.Next());
}

TLoginMechanism TLoginCheck::ChooseMechanism() const {
  std::vector<std::string> offered;
  if (const TXmlElement* mechanisms = FFeatures.Child("mechanisms", kSaslNs))
    for (const TXmlElement& mechanism : mechanisms->Children)
      if (mechanism.LocalName() == "mechanism") offered.emplace_back(TrimmedView(mechanism.Text));
  auto isOffered = [&](TLoginMechanism candidate) {
    for (const std::string& name : offered)
      if (name == NameOf(candidate)) return true;
    return false;
  };
  if (FSettings.Mechanism != TLoginMechanism::Any) {
    if (isOffered(FSettings.Mechanism)) return FSettings.Mechanism;
  } else {
    for (const TMechanismName& entry : kMechanisms)
      if (isOffered(entry.Mechanism)) return entry.Mechanism;
  }
  std::string list;
  for (const std::string& name : offered) list += (list.empty() ? "" : " ") + OneLine(name);
  throw ELoginError(std::string(kNoMechanism) + (list.empty() ? std::string(kNoneOffered) : list));
}

namespace {

std::string AuthElement(std::string_view Mechanism, std::string_view Initial) {
  return "<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='" + std::string(Mechanism) + "'>" +
         Base64Encode(Initial) + "</auth>";
}

[[noreturn]] void LoginFailed(const std::string& Reason) { throw ELoginError(std::string(kLoginFailed) + Reason); }

// The data of a <challenge> or <success>: base64, where "=" stands for
// data of no bytes.
std::string SaslData(const TXmlElement& Element) {
  const std::string_view text = TrimmedView(Element.Text);
  if (text == "=") return {};
  std::optional<std::string> data = Base64Decode(text);
  if (!data) LoginFailed(std::string(kMalformedChallenge));
  return *data;
}

}  // namespace

// PLAIN sends the password itself, which is why the check only ever logs in
// over TLS.
void TLoginCheck::LoginPlain() {
  Send(AuthElement(NameOf(TLoginMechanism::Plain),
                   std::string(1, '\0') + FSettings.UserName + std::string(1, '\0') + FSettings.Password));
  for (;;) {
    const TXmlElement answer = Await(TStep::Login);
    if (Is(answer, "success", kSaslNs)) return;
    if (Is(answer, "failure", kSaslNs)) LoginFailed(ConditionOf(answer, true));
    if (Is(answer, "challenge", kSaslNs)) LoginFailed(std::string(kMalformedChallenge));
  }
}

// The server's signature may come in the <success> or in a last
// <challenge>, answered with an empty <response/>; a success without one
// fails as a missing signature, since only the signature proves the server
// knows the account.
void TLoginCheck::LoginScram(TLoginMechanism Mechanism) {
  const THashKind kind = Mechanism == TLoginMechanism::ScramSha256 ? THashKind::Sha256 : THashKind::Sha1;
  TScramClient client(kind, FSettings.UserName, FSettings.Password, FNonce);
  Send(AuthElement(NameOf(Mechanism), client.ClientFirst()));
  bool finalSent = false;
  bool verified = false;
  try {
    for (;;) {
      const TXmlElement answer = Await(TStep::Login);
      if (Is(answer, "failure", kSaslNs)) LoginFailed(ConditionOf(answer, true));
      if (Is(answer, "success", kSaslNs)) {
        const std::string data = SaslData(answer);
        if (!verified || !data.empty()) client.CheckServerFinal(finalSent ? data : std::string());
        return;
      }
      if (!Is(answer, "challenge", kSaslNs)) continue;
      const std::string data = SaslData(answer);
      if (!finalSent) {
        Send("<response xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>" + Base64Encode(client.ClientFinal(data)) +
             "</response>");
        finalSent = true;
      } else if (!verified) {
        client.CheckServerFinal(data);
        verified = true;
        Send("<response xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>");
      } else {
        LoginFailed(std::string(kMalformedChallenge));
      }
    }
  } catch (const EScramError& refusal) {
    LoginFailed(refusal.Message());
  }
}

// The digest login of jabber:iq:auth: the fields first, then the SHA-1 of
// the stream id and the password. It takes the place of SASL and binding.
void TLoginCheck::LoginLegacy() {
  const std::string user = XmlAttributeEscapeUtf8(FSettings.UserName);
  const std::string fieldsId = std::string(kIdPrefix) + std::to_string(++FNextId);
  Send("<iq type='get' id='" + fieldsId + "'><query xmlns='jabber:iq:auth'><username>" + user +
       "</username></query></iq>");
  const TXmlElement fields = AwaitIq(TStep::Login, fieldsId);
  if (fields.Attribute("type") == "error") LoginFailed(StanzaCondition(fields, true));
  const TXmlElement* query = fields.Child("query", kAuthNs);
  if (!query || !query->Child("digest")) {
    std::string offered;
    if (query)
      for (const TXmlElement& field : query->Children)
        if (field.LocalName() != "username" && field.LocalName() != "resource")
          offered += (offered.empty() ? "" : " ") + OneLine(field.LocalName());
    throw ELoginError(std::string(kNoMechanism) + (offered.empty() ? std::string(kNoneOffered) : offered));
  }
  TSecHash hash;
  TSha1Digest digest{};
  hash.HashString(FStreamId + FSettings.Password, digest);
  std::string digestBytes;
  for (const std::uint32_t word : digest.H)
    for (int shift = 24; shift >= 0; shift -= 8) digestBytes += static_cast<char>((word >> shift) & 0xff);
  const std::string loginId = std::string(kIdPrefix) + std::to_string(++FNextId);
  Send("<iq type='set' id='" + loginId + "'><query xmlns='jabber:iq:auth'><username>" + user +
       "</username><digest>" + Hex(digestBytes) + "</digest><resource>" + FResource +
       "</resource></query></iq>");
  const TXmlElement answer = AwaitIq(TStep::Login, loginId);
  if (answer.Attribute("type") == "error") LoginFailed(StanzaCondition(answer, true));
}

// The resource is bound even when the features do not list binding: a
// server that cannot bind says so with its error's condition.
void TLoginCheck::Bind() {
  const std::string id = std::string(kIdPrefix) + std::to_string(++FNextId);
  Send("<iq type='set' id='" + id + "'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'><resource>" + FResource +
       "</resource></bind></iq>");
  const TXmlElement answer = AwaitIq(TStep::Binding, id);
  if (answer.Attribute("type") == "error") throw ELoginError(std::string(kBindFailed) + StanzaCondition(answer, false));
}

// Only a server that lists the session without <optional/> needs the
// request; newer servers keep the element for old clients alone.
void TLoginCheck::EstablishSession() {
  const TXmlElement* session = FFeatures.Child("session", kSessionNs);
  if (!session || session->Child("optional")) return;
  const std::string id = std::string(kIdPrefix) + std::to_string(++FNextId);
  Send("<iq type='set' id='" + id + "'><session xmlns='urn:ietf:params:xml:ns:xmpp-session'/></iq>");
  const TXmlElement answer = AwaitIq(TStep::Binding, id);
  if (answer.Attribute("type") == "error")
    throw ELoginError(std::string(kSessionFailed) + StanzaCondition(answer, false));
}

// Any answer with the ping's id is the round trip: a server without the
// ping service answers with an error, and that answer is just as much proof
// that the session works.
void TLoginCheck::Ping() {
  const std::string id = std::string(kIdPrefix) + std::to_string(++FNextId);
  Send("<iq type='get' to='" + XmlAttributeEscapeUtf8(FSettings.Domain) + "' id='" + id +
       "'><ping xmlns='urn:xmpp:ping'/></iq>");
  AwaitIq(TStep::Ping, id);
}

TXmlElement TLoginCheck::AwaitIq(TStep Step, const std::string& Id) {
  for (;;) {
    TXmlElement stanza = Await(Step);
    if (stanza.LocalName() != "iq") continue;
    const std::optional<std::string> type = stanza.Attribute("type");
    if ((type == "result" || type == "error") && stanza.Attribute("id") == Id) return stanza;
    AnswerRequest(stanza);
  }
}

// An entity must answer every get and set addressed to it, or the server is
// left waiting: a ping gets its empty result, anything else the error for a
// service this check does not offer. The server delivers on this stream
// only what is addressed to the session.
bool TLoginCheck::AnswerRequest(const TXmlElement& Stanza) {
  const std::optional<std::string> type = Stanza.Attribute("type");
  if (type != "get" && type != "set") return false;
  std::string answer = "<iq id='" + XmlAttributeEscapeUtf8(Stanza.Attribute("id").value_or("")) + "'";
  if (const std::optional<std::string> from = Stanza.Attribute("from"))
    answer += " to='" + XmlAttributeEscapeUtf8(*from) + "'";
  if (type == "get" && Stanza.Child("ping", kPingNs)) {
    answer += " type='result'/>";
  } else {
    answer += " type='error'><error type='cancel'><service-unavailable xmlns='" + std::string(kStanzasNs) +
              "'/></error></iq>";
  }
  Send(answer);
  return true;
}
