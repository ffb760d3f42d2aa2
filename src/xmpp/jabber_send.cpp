#include "xmpp/jabber_send.h"

#include <exception>

#include "net/base_error.h"
#include "net/sock_error.h"
#include "text/out_buffer.h"
#include "text/trim.h"
#include "text/xml_text.h"
#include "xmpp/jabber_send_error.h"
#include "xmpp/reply_deadline.h"
#include "xmpp/stanzas.h"

namespace {

constexpr std::uint16_t kDefaultPort = 5222;
// Check always replaces it; only a sender used without Check talks to it.
constexpr const char* kDefaultServer = "xmpp.example.org";

// The markers a reply is judged by, and the names picked out of it.
constexpr const char* kErrorMarker = "<error";
constexpr const char* kStreamErrorMarker = "<stream:error";
constexpr const char* kFailureMarker = "<failure";
constexpr const char* kStreamClose = "</stream:stream>";
constexpr const char* kClientNamespace = "jabber:client";
constexpr const char* kAuthNamespace = "jabber:iq:auth";
constexpr const char* kResult = "result";
constexpr const char* kMessageMarker = "<message";
constexpr const char* kDelivered = "<delivered/>";
constexpr const char* kOffline = "<offline/>";
constexpr const char* kErrorName = "error";
constexpr const char* kStreamErrorName = "stream:error";
constexpr const char* kFailureName = "failure";
constexpr const char* kMessageName = "message";
constexpr const char* kIdName = "id";
constexpr const char* kToName = "to";
constexpr const char* kFromName = "from";
constexpr const char* kGet = "get";
constexpr const char* kSet = "set";

// True when Part occurs in Text. An empty Part occurs nowhere, so that an
// empty account or recipient never matches a reply.
bool Contains(const std::string& Text, const std::string& Part) {
  return !Part.empty() && Text.find(Part) != std::string::npos;
}

}  // namespace

TJabberSend::TJabberSend(const std::string& UserName, const std::string& Password)
    : TSender(UserName, Password) {
  Port = kDefaultPort;
  Server = kDefaultServer;
}

void TJabberSend::Check(const std::string& Host, std::uint16_t Port) {
  ProbeMode = true;
  Server = Host;
  this->Port = Port;
  try {
    Connect();
  } catch (const std::exception& failure) {
    // The program's own failures (EBaseError) and the standard library's,
    // exhausted memory for one, end the probe alike.
    LastError = MessageOf(failure);
  }
}

void TJabberSend::Connect() {
  try {
    if (Connected) CloseSession();
    // The liveness test's answer is not needed: a connection that is already
    // gone shows itself at the first send or receive anyway.
    ConnectSocket(Server, Port);
    if (TlsMode != TTlsMode::None) {
      OpenTlsStream();
      return;
    }
    TOutBuffer buffer;
    BuildStreamHeader(buffer, XmppDomain());
    SendStanza(buffer);
    const TReplyDeadline deadline(ResponseTimeout);
    while (!Connected) WaitResponse(deadline.Next());
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TJabberSend::WaitResponse(std::int32_t TimeoutMs) {
  std::string chunk;
  Socket->ReceiveText(TimeoutMs, chunk);
  AnalyzeResponse(chunk);
}

// The first marker found decides. Error markers come first so that an error
// wins over anything else in the same chunk; the server's stream close wins
// over its stream header; "jabber:iq:auth" is tested before "result" because
// the answer to the "get" query carries both.
void TJabberSend::AnalyzeResponse(const std::string& Chunk) {
  const std::string text = TrimControlChars(Chunk);
  if (Contains(text, kErrorMarker)) {
    RaiseServerError(GetElement(kErrorName, text));
  }
  if (Contains(text, kStreamErrorMarker)) {
    const std::string element = GetElement(kStreamErrorName, text);
    // While the session is already being closed, the stream error only ends
    // the drain: closing it once more from in here would nest a new drain for
    // every stream error a server sends, until the stack runs out.
    if (Contains(text, kStreamClose) || Closing) {
      Connected = false;
    } else {
      CloseSession();
    }
    RaiseServerError(element);
  }
  if (Contains(text, kFailureMarker)) {
    RaiseServerError(GetElement(kFailureName, text));
  }
  if (Contains(text, kStreamClose)) {
    Connected = false;
    return;
  }
  if (Contains(text, kClientNamespace)) {
    if (ProbeMode) {
      Connected = true;
      return;
    }
    StreamId = GetAttribute(kIdName, text);
    TOutBuffer buffer;
    BuildAuthQuery(buffer, UserName, "", StanzaCounter, kGet);
    SendStanza(buffer);
    return;
  }
  if (Contains(text, kAuthNamespace)) {
    TOutBuffer buffer;
    BuildAuthQuery(buffer, UserName, StreamId + Password, StanzaCounter, kSet);
    SendStanza(buffer);
    return;
  }
  if (Contains(text, kResult)) {
    Connected = true;
    return;
  }
  if (Contains(text, kMessageMarker)) {
    // Only the recipient's event about a message to this account counts;
    // everything else on the stream is none of the sender's business.
    const std::string message = GetElement(kMessageName, text);
    if (Contains(GetAttribute(kToName, message), UserName) &&
        Contains(GetAttribute(kFromName, message), Recipient)) {
      if (Contains(text, kDelivered)) {
        Confirmed = true;
      } else if (Contains(text, kOffline)) {
        RaiseSendError(jabberErrOffline, text);
      }
    }
    return;
  }
  RaiseSendError(jabberErrServer, text);
}

void TJabberSend::CloseSession() {
  try {
    if (Connected) {
      TOutBuffer buffer;
      BuildStreamClose(buffer);
      SendStanza(buffer);
      Closing = true;
      const TReplyDeadline deadline(ResponseTimeout);
      while (Connected) WaitResponse(deadline.Next());
    }
  } catch (const std::exception&) {
    // A session that cannot be closed politely is closed all the same.
    Connected = false;
  }
  Closing = false;
  ProbeMode = false;
  Disconnect();
}

void TJabberSend::SendMessage(const std::string& Recipient, const std::string& Body) {
  try {
    Confirmed = false;
    LastError.clear();
    MessageBody = Body;
    this->Recipient = Recipient;
    TOutBuffer buffer;
    BuildMessage(buffer, Recipient, Body, StanzaCounter);
    SendStanza(buffer);
    const TReplyDeadline deadline(ConfirmTimeout);
    while (!Confirmed) WaitResponse(deadline.Next());
  } catch (const EVHSyncSockError& failure) {
    if (failure.Code != sockErrRead) {
      LastError = MessageOf(failure);
      throw;
    }
    // Silence, a closed connection or a failed receive: nothing confirmed.
    LastError = JabberErrorText(jabberErrNotConfirmed);
    ErrorCode = jabberErrNotConfirmed;
  } catch (const EJabberSendError& failure) {
    LastError = MessageOf(failure);
  } catch (const std::exception& failure) {
    LastError = MessageOf(failure);
    throw;
  }
}

void TJabberSend::SendStanza(const TOutBuffer& Buffer) { Socket->SendBuffer(Buffer.Data, Buffer.Len, 0); }
