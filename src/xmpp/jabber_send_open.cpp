// TJabberSend's opening of the stream beyond the plain client stream's
// first answer: STARTTLS on the plain stream, or TLS from the first byte,
// then the verdict on the server's certificate and the stream over TLS; the
// server-to-server stream's features. The TLS library underneath is the net
// layer's business.

#include <algorithm>
#include <iterator>

#include "net/certificate_check.h"
#include "net/tls_error.h"
#include "text/out_buffer.h"
#include "text/utc_time.h"
#include "xmpp/jabber_send.h"
#include "xmpp/jabber_send_error.h"
#include "xmpp/reply_deadline.h"
#include "xmpp/stanzas.h"
#include "xmpp/stream_header.h"

namespace {

// The server's stream features end written out or as an empty element; its
// answer to STARTTLS is the go-ahead or the refusal.
constexpr TJabberSend::TReplyEnd kFeaturesEnd{"</stream:features>", "<stream:features/>"};
constexpr TJabberSend::TReplyEnd kStartTlsAnswer{"<proceed", "<failure"};
constexpr const char* kStartTlsOffer = "<starttls";
// The ways to authenticate a server: dialback offered as a feature, or by
// older servers only declared in their stream header; SASL EXTERNAL, by the
// server's certificate.
constexpr const char* kServerAuth[] = {"urn:xmpp:features:dialback", "xmlns:db=", "<mechanism>EXTERNAL</mechanism>"};

// A server that talks on without ever finishing its answer is cut off here;
// real stream features are a few hundred bytes.
constexpr std::size_t kMaxReply = 65536;

// A stream header, declaration included, is a few hundred bytes; of an
// answer that is none, the start shows what answered.
constexpr std::size_t kMaxHeader = 4096;
constexpr std::size_t kShownReply = 200;

bool Contains(const std::string& Text, const char* Part) { return Text.find(Part) != std::string::npos; }

}  // namespace

void TJabberSend::PrepareTls() {
  if (TlsMode != TTlsMode::None && !FTlsContext) FTlsContext = std::make_unique<TTlsContext>(CaFile);
}

// One deadline covers the whole opening, STARTTLS, handshake and the second
// stream header alike, so -timeout: bounds the check as a whole.
void TJabberSend::OpenTlsStream() {
  PrepareTls();
  const TReplyDeadline deadline(ResponseTimeout, Deadline);
  TOutBuffer buffer;
  BuildHeader(buffer, true);
  if (TlsMode == TTlsMode::StartTls) {
    SendStanza(buffer);
    NegotiateStartTls(deadline);
  }
  FWaitingFor = TWaitingFor::Handshake;
  StackTls(deadline.Next());
  CheckCertificate(FTls->PeerCertificate(), XmppDomain(), NowUtcSeconds(), CertDays);
  SendStanza(buffer);
  if (ServerToServer) return AwaitServerFeatures(deadline);
  FWaitingFor = TWaitingFor::StreamHeader;
  AwaitTlsStreamHeader(deadline);
  while (!Connected) WaitResponse(deadline.Next());
}

// The TLS stream becomes the conversation's only once its handshake is
// complete: a failed handshake has nothing to close politely.
void TJabberSend::StackTls(std::int32_t TimeoutMs) {
  auto tls = std::make_unique<TTlsStream>(*FPlain, *FTlsContext, XmppDomain());
  tls->Handshake(TimeoutMs);
  FTls = std::move(tls);
  FStream = FTls.get();
  FUnread.clear();
}

void TJabberSend::BuildHeader(TOutBuffer& Buffer, bool Versioned) const {
  if (ServerToServer) {
    BuildServerStreamHeader(Buffer, XmppDomain(), From);
  } else if (Versioned) {
    BuildVersionedStreamHeader(Buffer, XmppDomain());
  } else {
    BuildStreamHeader(Buffer, XmppDomain());
  }
}

// A stream error on the way is judged as in a client stream.
void TJabberSend::AwaitServerFeatures(const TReplyDeadline& Replies) {
  FWaitingFor = TWaitingFor::Features;
  const std::string reply = ReadReplyUntil(Replies, kFeaturesEnd);
  const auto offered = [&](const char* Way) { return Contains(reply, Way); };
  if (std::none_of(std::begin(kServerAuth), std::end(kServerAuth), offered))
    RaiseSendError(jabberErrServer, TJabberReason::NoServerAuth, "");
  Connected = true;
}

// Over TLS the server must answer with an XMPP stream header before anything
// else counts: the plain conversation's markers would take any service that
// says "result" or names the client namespace for a live server. A whole
// stream error or a stream close keeps the analysis's classification, as
// does whatever comes with a good header.
void TJabberSend::AwaitTlsStreamHeader(const TReplyDeadline& Replies) {
  std::string reply;
  for (;;) {
    std::string chunk;
    ReceiveText(Replies.Next(), chunk);
    reply += chunk;
    if (JudgeStreamEnd(reply)) continue;
    const TStreamHeader header = JudgeStreamHeader(reply);
    if (header == TStreamHeader::Xmpp) {
      AnalyzeResponse(reply);
      return;
    }
    if (header == TStreamHeader::NotXmpp || reply.size() > kMaxHeader)
      RaiseSendError(jabberErrServer, TJabberReason::NoStreamHeader, reply.substr(0, kShownReply));
  }
}

void TJabberSend::NegotiateStartTls(const TReplyDeadline& Replies) {
  FWaitingFor = TWaitingFor::Features;
  const std::string features = ReadReplyUntil(Replies, kFeaturesEnd);
  if (!Contains(features, kStartTlsOffer)) throw ETlsError(tlsErrNoStartTls);
  TOutBuffer buffer;
  BuildStartTls(buffer);
  SendStanza(buffer);
  FWaitingFor = TWaitingFor::StartTlsAnswer;
  const std::string answer = ReadReplyUntil(Replies, kStartTlsAnswer);
  if (!Contains(answer, kStartTlsAnswer.Marker)) throw ETlsError(tlsErrStartTlsRefused);
}

// Unlike the conversation, which judges each chunk by itself, the opening
// joins the chunks: a server may send its stream header and its features, or
// a long features element, in several pieces.
std::string TJabberSend::ReadReplyUntil(const TReplyDeadline& Replies, const TReplyEnd& End) {
  std::string reply;
  for (;;) {
    std::string chunk;
    ReceiveText(Replies.Next(), chunk);
    reply += chunk;
    if (Contains(reply, End.Marker) || Contains(reply, End.OtherMarker)) return reply;
    JudgeStreamEnd(reply);
    if (reply.size() > kMaxReply) RaiseSendError(jabberErrServer, reply.substr(0, kMaxReply));
  }
}
