#include "xmpp/jabber_send.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include "base/base_error.h"
#include "net/sock_error.h"
#include "net/tls_error.h"
#include "text/number.h"
#include "text/out_buffer.h"
#include "text/trim.h"
#include "text/xml_text.h"
#include "xmpp/jabber_send_error.h"
#include "xmpp/reply_deadline.h"
#include "xmpp/server_error.h"
#include "xmpp/stanzas.h"

namespace {

constexpr std::uint16_t kDefaultPort = 5222;
// The most one received chunk holds.
constexpr std::size_t kChunkSize = 20480;
// Check always replaces it; only a sender used without Check talks to it.
constexpr const char* kDefaultServer = "xmpp.example.org";

// The markers a reply is judged by, and the names picked out of it.
constexpr const char* kErrorMarker = "<error";
constexpr const char* kStreamErrorMarker = "<stream:error";
constexpr const char* kFailureMarker = "<failure";
constexpr const char* kStreamErrorEnd = "</stream:error>";
constexpr const char* kStreamClose = "</stream:stream>";
constexpr const char* kClientNamespace = "jabber:client";
constexpr const char* kAuthNamespace = "jabber:iq:auth";
constexpr const char* kResult = "result";
constexpr const char* kMessageMarker = "<message";
constexpr const char* kDelivered = "<delivered/>";
constexpr const char* kOffline = "<offline/>";
constexpr const char* kDigestField = "<digest";
constexpr const char* kPingNamespace = "urn:xmpp:ping";
constexpr const char* kErrorName = "error";
constexpr const char* kStreamErrorName = "stream:error";
constexpr const char* kFailureName = "failure";
constexpr const char* kMessageName = "message";
constexpr const char* kIqName = "iq";
constexpr const char* kPresenceName = "presence";
constexpr const char* kQueryName = "query";
constexpr const char* kTypeName = "type";
constexpr const char* kIdName = "id";
constexpr const char* kToName = "to";
constexpr const char* kFromName = "from";
constexpr const char* kGet = "get";
constexpr const char* kSet = "set";
constexpr const char* kCodeName = "code";

// What a wait was for, as the message of a passed limit names it, followed
// by the server's address; indexed by TJabberSend's TWaitingFor.
constexpr const char* kWaitTexts[] = {
    "connecting to ", "sending to ", "stream header from ", "stream features from ", "STARTTLS answer from ",
    "TLS handshake with ",
};
constexpr const char* kTriedBefore = " (tried ";
constexpr const char* kTriedAfter = " targets)";

// True when Part occurs in Text. An empty Part occurs nowhere, so that an
// empty account or recipient never matches a reply.
bool Contains(std::string_view Text, std::string_view Part) {
  return !Part.empty() && Text.find(Part) != std::string_view::npos;
}

// Hands each element called Name in Text to Visit, in order, with its start
// tag, until Visit returns true. An element runs from its start tag through
// the next end tag; one without (it closes itself, or its rest comes in a
// later chunk) is its start tag alone. A chunk may hold several stanzas, and
// each may matter. The elements are views, not copies, and the end tag found
// is kept for the following elements, so that a hostile chunk costs neither
// memory nor time beyond its own size.
template <typename TVisit>
void ForEachElement(const std::string& Name, const std::string& Text, TVisit Visit) {
  const std::string start = "<" + Name;
  const std::string end = "</" + Name + ">";
  std::string::size_type close = 0;
  for (auto at = Text.find(start); at != std::string::npos; at = Text.find(start, at + 1)) {
    const auto nameEnd = at + start.size();
    if (nameEnd >= Text.size()) return;
    const char next = Text[nameEnd];
    if (!IsXmlSpace(next) && next != '/' && next != '>') continue;  // a longer name
    const auto tagEnd = Text.find('>', nameEnd);
    if (tagEnd == std::string::npos) return;
    if (close != std::string::npos && close < tagEnd) close = Text.find(end, tagEnd);
    const auto stop = Text[tagEnd - 1] == '/' || close == std::string::npos ? tagEnd + 1 : close + end.size();
    if (Visit(std::string_view(Text).substr(at, stop - at), Text.substr(at, tagEnd + 1 - at))) return;
  }
}

// True when Text holds a presence or an iq request ("get" or "set").
bool HoldsRequestOrPresence(const std::string& Text) {
  bool found = false;
  ForEachElement(kPresenceName, Text, [&](std::string_view, const std::string&) { return found = true; });
  ForEachElement(kIqName, Text, [&](std::string_view, const std::string& tag) {
    const std::string type = GetAttribute(kTypeName, tag);
    return found = found || type == kGet || type == kSet;
  });
  return found;
}

// The element called Name in Text, or the whole text when there is none to
// cut out, so that a failure always shows what the server sent.
std::string ElementOrText(const std::string& Name, const std::string& Text) {
  const std::string element = GetElement(Name, Text);
  return element.empty() ? Text : element;
}

}  // namespace

TJabberSend::TJabberSend(const std::string& AUserName, const std::string& APassword)
    : TSender(AUserName, APassword) {
  Port = kDefaultPort;
  Server = kDefaultServer;
}

void TJabberSend::Check(const std::string& Host, std::uint16_t HostPort) {
  ProbeMode = true;
  Server = Host;
  Port = HostPort;
  try {
    Connect();
  } catch (const std::exception& failure) {
    // The program's own failures (EBaseError) and the standard library's,
    // exhausted memory for one, end the probe alike.
    LastError = MessageOf(failure);
  }
}

void TJabberSend::Check(const std::string& Host, const std::vector<TEndpoint>& Endpoints) {
  FEndpoints = Endpoints;
  Check(Host, Endpoints.empty() ? Port : Endpoints.front().Port);
}

TJabberSend::~TJabberSend() { CloseStream(); }

void TJabberSend::Connect() {
  try {
    if (Connected) CloseSession();
    ResetSession();
    CloseStream();
    ConnectEndpoints();
  } catch (...) {
    Disconnect();
    RaiseAfterWait(std::current_exception());
  }
  Open(*Socket);
}

void TJabberSend::Open(TByteStream& Stream) {
  try {
    if (Connected) CloseSession();
    ResetSession();
    if (FPlain != &Stream) CloseStream();
    // TLS left from a session the server ended is no part of the new one.
    FTls.reset();
    FUnread.clear();
    FPlain = &Stream;
    FStream = &Stream;
    if (TlsMode != TTlsMode::None) {
      OpenTlsStream();
      return;
    }
    TOutBuffer buffer;
    BuildHeader(buffer, false);
    SendStanza(buffer);
    const TReplyDeadline deadline(ResponseTimeout, Deadline);
    if (ServerToServer) return AwaitServerFeatures(deadline);
    FWaitingFor = TWaitingFor::StreamHeader;
    while (!Connected) WaitResponse(deadline.Next());
  } catch (...) {
    Disconnect();
    RaiseAfterWait(std::current_exception());
  }
}

void TJabberSend::ResetSession() {
  FLoginStep = TLoginStep::None;
  FMessageId.clear();
  FEndedByServer = false;
  FEndedBy.clear();
  FWaitingFor = TWaitingFor::Connect;
}

bool TJabberSend::Disconnect() {
  CloseStream();
  return TSender::Disconnect();
}

// TLS's Close sends its close_notify and closes the stream below.
void TJabberSend::CloseStream() noexcept {
  if (FTls) {
    FTls->Close();
  } else if (FPlain != nullptr) {
    FPlain->Close();
  }
  FTls.reset();
  FPlain = nullptr;
  FStream = nullptr;
  FUnread.clear();
}

// The liveness test's answer is not needed: a connection that is already
// gone shows itself at the first send or receive anyway.
void TJabberSend::ConnectEndpoints() {
  FWaitingFor = TWaitingFor::Connect;
  const std::vector<TEndpoint> own{{Server, Port}};
  try {
    Socket->ConnectToFirst(FEndpoints.empty() ? own : FEndpoints, Families, Deadline, FTrail);
  } catch (const std::exception& failure) {
    if (FTrail.EndpointsTried < 2 || Deadline.Over()) throw;
    throw EBaseError(MessageOf(failure) + kTriedBefore + std::to_string(FTrail.EndpointsTried) + kTriedAfter);
  }
}

// A wait that ended by the socket's or TLS's time-out, or anything else the
// socket met meanwhile, is reported as the passed limit once it has passed:
// that is what the user set and what ended the check.
void TJabberSend::RaiseAfterWait(std::exception_ptr Failure) {
  if (Deadline.Over() && FWaitingFor != TWaitingFor::Connect) {
    try {
      std::rethrow_exception(Failure);
    } catch (const EVHSyncSockError&) {
      throw EDeadlinePassed(Deadline.TimeoutMs(), kWaitTexts[static_cast<int>(FWaitingFor)] + FTrail.Address);
    } catch (const ETlsError&) {
      throw EDeadlinePassed(Deadline.TimeoutMs(), kWaitTexts[static_cast<int>(FWaitingFor)] + FTrail.Address);
    } catch (...) {
    }
  }
  std::rethrow_exception(Failure);
}

void TJabberSend::WaitResponse(std::int32_t TimeoutMs) {
  std::string chunk;
  ReceiveText(TimeoutMs, chunk);
  AnalyzeResponse(chunk);
}

// Without a stream (before the first session, after a close) the closed
// socket raises, as the stream would.
TByteStream& TJabberSend::Stream() { return FStream != nullptr ? *FStream : *Socket; }

// TLS hands out all the plaintext it has at once, which may be more than a
// chunk; the rest waits in FUnread for the next call.
void TJabberSend::ReceiveText(std::int32_t TimeoutMs, std::string& Text) {
  Text.clear();
  if (FUnread.empty() && Stream().Receive(TimeoutMs, FUnread) != TByteStream::TReceived::Data)
    throw EVHSyncSockError(sockErrRead, 0, "");
  const std::size_t count = std::min(FUnread.size(), kChunkSize);
  Text.assign(FUnread, 0, count);
  FUnread.erase(0, count);
}

// The first marker found decides. Error markers come first so that an error
// wins over anything else in the same chunk; the server's stream close wins
// over its stream header. Once the session is established, the markers of
// the login no longer count: a server may then send anything (requests of
// its own, presence, white space to keep the connection alive), and only the
// confirmation of the message just sent settles a wait.
void TJabberSend::AnalyzeResponse(const std::string& Chunk) {
  std::string text = TrimControlChars(Chunk);
  // What follows the server's stream close lies outside the stream: an event
  // or an error there must not settle the message of a session that has
  // ended. (The probe judges its chunks whole.)
  if (Connected && !ProbeMode) {
    const auto close = text.find(kStreamClose);
    if (close != std::string::npos) text.erase(close + std::string_view(kStreamClose).size());
  }
  if (Contains(text, kErrorMarker)) {
    RaiseServerError(GetElement(kErrorName, text));
  }
  if (Contains(text, kStreamErrorMarker)) {
    EndByStreamError(text);
  }
  if (Contains(text, kFailureMarker)) {
    RaiseServerError(GetElement(kFailureName, text));
  }
  if (Contains(text, kStreamClose)) {
    if (Connected && !Closing && !ProbeMode) EndByStreamClose(text);
    Connected = false;
    return;
  }
  if (Connected) {
    // Nothing may follow the stream close the session has sent.
    if (!Closing) AnswerRequests(text);
    SettleMessages(text);
    return;
  }
  // A stream header seen again, or a stanza that names its namespace, must
  // not start the login once more.
  if (Contains(text, kClientNamespace) && (ProbeMode || FLoginStep == TLoginStep::None)) {
    if (ProbeMode) {
      Connected = true;
      return;
    }
    StreamId = GetAttribute(kIdName, text);
    TOutBuffer buffer;
    BuildAuthQuery(buffer, UserName, "", StanzaCounter, kGet);
    SendStanza(buffer);
    FLoginStep = TLoginStep::GetSent;
    return;
  }
  // Tested before "result" because the list of fields comes in a result.
  if (Contains(text, kAuthNamespace)) {
    AnswerLoginFields(text);
    return;
  }
  if (Contains(text, kResult)) {
    Connected = true;
    return;
  }
  if (Contains(text, kMessageMarker)) {
    SettleMessages(text);
    return;
  }
  // A server may ping, ask or send presence while the login waits for its
  // answer; that settles nothing, and its requests are answered as in the
  // session.
  if (!ProbeMode && FLoginStep != TLoginStep::None && HoldsRequestOrPresence(text)) {
    AnswerRequests(text);
    return;
  }
  RaiseSendError(jabberErrServer, text);
}

bool TJabberSend::JudgeStreamEnd(std::string& Reply) {
  if (!(Contains(Reply, kStreamErrorMarker) && Contains(Reply, kStreamErrorEnd)) && !Contains(Reply, kStreamClose))
    return false;
  AnalyzeResponse(Reply);
  Reply.clear();
  return true;
}

// A server that lists the fields again in answer to the "set" query has not
// taken the login; sending it again would only start a storm of queries.
// The probe sends its "set" too but never logs in, so for it a repeated list
// settles nothing.
void TJabberSend::AnswerLoginFields(const std::string& Text) {
  if (FLoginStep == TLoginStep::SetSent) {
    if (!ProbeMode) RaiseSendError(jabberErrRefused, ElementOrText(kQueryName, Text));
    return;
  }
  // The login is the digest one; a password sent in the clear is not on
  // offer. The code is the server's, not the account's: the password may be
  // right, and the remedy lies in the server's configuration.
  if (!ProbeMode && !Contains(Text, kDigestField)) {
    RaiseSendError(jabberErrServer, TJabberReason::NoDigestLogin, ElementOrText(kQueryName, Text));
  }
  TOutBuffer buffer;
  BuildAuthQuery(buffer, UserName, StreamId + Password, StanzaCounter, kSet);
  SendStanza(buffer);
  FLoginStep = TLoginStep::SetSent;
}

void TJabberSend::EndByStreamError(const std::string& Text) {
  const std::string element = GetElement(kStreamErrorName, Text);
  try {
    // Classified before the session is closed: once closed, every error of
    // an established session would read as a failed login.
    RaiseServerError(element);
  } catch (const EJabberSendError& failure) {
    FEndedByServer = true;
    FEndedBy = element;
    FEndedCode = failure.Code;
    // While the session is already being closed, the stream error only ends
    // the drain: closing it once more from in here would nest a new drain for
    // every stream error a server sends, until the stack runs out.
    if (Contains(Text, kStreamClose) || Closing) {
      Connected = false;
    } else {
      CloseSession();
    }
    // The close's drain may have met errors of its own.
    SetErrorCode(failure.Code);
    throw;
  }
}

// A server may end a session by closing its stream (an idle session, an
// account removed): the session is gone as after a stream error, and
// waiting on for a confirmation, or sending into the closed connection,
// would only hide that.
void TJabberSend::EndByStreamClose(const std::string& Text) {
  FEndedByServer = true;
  FEndedBy = kStreamClose;
  FEndedCode = jabberErrUnavailable;
  Connected = false;
  try {
    TOutBuffer buffer;
    BuildStreamClose(buffer);
    SendStanza(buffer);
  } catch (const std::exception&) {
    // The server may have dropped the connection with its close.
  }
  Disconnect();
  // The confirmation may have come in the same chunk as the close.
  SettleMessages(Text);
  if (!Confirmed) RaiseSendError(FEndedCode, TJabberReason::SessionEnded, FEndedBy);
}

// An entity must answer every "get" and "set" request addressed to it, or
// the server is left waiting (and may count the session as dead): a ping
// gets its empty result, everything else the error for a service this
// sender does not offer.
void TJabberSend::AnswerRequests(const std::string& Text) {
  ForEachElement(kIqName, Text, [this](std::string_view iq, const std::string& tag) {
    const std::string type = GetAttribute(kTypeName, tag);
    const std::string to = GetAttribute(kToName, tag);
    if ((type != kGet && type != kSet) || (!to.empty() && !Contains(to, UserName))) return false;
    TOutBuffer buffer;
    if (type == kGet && Contains(iq, kPingNamespace)) {
      BuildIqResult(buffer, GetAttribute(kFromName, tag), GetAttribute(kIdName, tag));
    } else {
      BuildIqServiceUnavailable(buffer, GetAttribute(kFromName, tag), GetAttribute(kIdName, tag));
    }
    SendStanza(buffer);
    return false;
  });
}

// Only the recipient's event about a message to this account, and about the
// message just sent, counts: an event about an earlier message (one that
// timed out, say) arriving late must not confirm the current one, nor must
// a late offline event fail it.
void TJabberSend::SettleMessages(const std::string& Text) {
  if (FMessageId.empty()) return;
  const std::string eventId = "<id>" + FMessageId + "</id>";
  ForEachElement(kMessageName, Text, [&](std::string_view message, const std::string& tag) {
    if (!Contains(message, eventId) || !Contains(GetAttribute(kToName, tag), UserName) ||
        !Contains(GetAttribute(kFromName, tag), Recipient)) {
      return false;
    }
    if (Contains(message, kDelivered)) {
      Confirmed = true;
      return true;
    }
    if (Contains(message, kOffline)) RaiseSendError(jabberErrOffline, Text);
    return false;
  });
}

// Waits for writability without limit, or for what is left of the check's.
void TJabberSend::SendStanza(const TOutBuffer& Buffer) {
  const TWaitingFor before = FWaitingFor;
  FWaitingFor = TWaitingFor::Send;
  Stream().Send(std::string_view(Buffer.Data, Buffer.Len), Deadline.Limited() ? Deadline.Next() : 0);
  FWaitingFor = before;
}

void TJabberSend::RaiseSendError(std::int32_t Code, const std::string& Extra) {
  SetErrorCode(Code);
  throw EJabberSendError(Code, Extra);
}

void TJabberSend::RaiseSendError(std::int32_t Code, TJabberReason Reason, const std::string& Extra) {
  SetErrorCode(Code);
  throw EJabberSendError(Code, Reason, Extra);
}

void TJabberSend::RaiseServerError(const std::string& ErrorElement) {
  std::int32_t code = 0;
  if (TryReadNumber(GetAttribute(kCodeName, ErrorElement), code)) RaiseByCode(code, ErrorElement);
  RaiseByCondition(ErrorElement);
}

void TJabberSend::RaiseByCode(std::int32_t Code, const std::string& ErrorElement) {
  RaiseSendError(ClassifyByCode(Code, Connected), ErrorElement);
}

void TJabberSend::RaiseByCondition(const std::string& ErrorElement) {
  RaiseSendError(ClassifyByCondition(ErrorElement, Connected), ErrorElement);
}
