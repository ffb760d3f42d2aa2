#pragma once
// TJabberSend: the XMPP sender. As a probe (Check) it counts the session as
// established as soon as the server answers the stream header; as a full
// sender it logs in with the legacy jabber:iq:auth digest and sends messages
// whose delivery the server confirms through jabber:x:event.
//
// Replies are read one received chunk at a time and each chunk is judged by
// itself, by plain substring tests for a few markers: nothing here parses
// XML, and nothing carries over from one chunk to the next.

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "net/byte_stream.h"
#include "net/sync_socket.h"
#include "net/tls.h"
#include "net/tls_stream.h"
#include "xmpp/sender.h"

struct TOutBuffer;
enum class TJabberReason;
class TReplyDeadline;

// How the probe's stream gets TLS, if at all.
enum class TTlsMode { None, StartTls, Direct };

class TJabberSend : public TSender {
 public:
  TJabberSend(const std::string& AUserName, const std::string& APassword);
  // Ends the stream as Disconnect does (TLS's close_notify included).
  ~TJabberSend() override;

  // The XMPP domain the stream header names, and the name the server's
  // certificate must carry: Domain, or the server's host when Domain is empty.
  const std::string& XmppDomain() const { return Domain.empty() ? Server : Domain; }

  // Probes Host:HostPort once. Returns normally whatever the server does: then
  // Connected tells whether it answered, and LastError why not. Only
  // exceptions outside the standard and the program's own pass on.
  void Check(const std::string& Host, std::uint16_t HostPort);
  // The same, connecting to the first of Endpoints that accepts (see
  // TSyncSocket::ConnectToFirst); Host is the server's name, which the stream
  // header and the certificate go by unless Domain is set. When none
  // accepts, the first one's failure is kept, followed by " (tried <n>
  // targets)" when there was more than one.
  void Check(const std::string& Host, const std::vector<TEndpoint>& Endpoints);

  // Connects to Server:Port, sends the stream header and reads replies until
  // the session is established. On any failure it disconnects and raises.
  // Outside probe mode it logs in with the digest; each login query goes out
  // once at most, so a server that lists no digest field, or lists the fields
  // again in answer to the login, fails the login at once.
  void Connect() override;
  // Connect's part after the connect: opens the session over Stream, which
  // is connected to the server and must outlive the session (until
  // CloseSession or Disconnect), and talks over it, or over TLS stacked on
  // it when TlsMode asks for TLS, from then on. The same failures as
  // Connect's, and the same disconnect on any of them.
  void Open(TByteStream& Stream);
  // Closes the conversation's stream (after TLS's close_notify when TLS
  // runs, sent only if it can go out at once) and the socket.
  bool Disconnect() override;
  // Receives one chunk of at most 20480 bytes, waiting at most TimeoutMs
  // (ResponseTimeout or ConfirmTimeout, as the caller passes), and lets
  // AnalyzeResponse react to it. Raises
  // EVHSyncSockError (sockErrRead) when nothing comes, EJabberSendError
  // for an error, or for a reply it does not know while the session is
  // being opened (an established session leaves such replies alone).
  void WaitResponse(std::int32_t TimeoutMs) override;
  // Sends the stream close if the session is established, reads replies
  // until the server closes its stream too or the first failure, then
  // disconnects. Never raises.
  void CloseSession() override;
  // Sends a message on the established session and waits for the recipient's
  // delivery event about it; events about earlier messages settle nothing,
  // and requests the server sends meanwhile are answered. No answer in time
  // leaves "Message has not been confirmed" with ErrorCode
  // jabberErrNotConfirmed; a session error leaves its message; both return
  // normally and keep the session, except after a stream error: then the
  // server has ended the session, it is closed, and every further
  // SendMessage fails at once with a reason that says so, until Connect
  // opens a new one. The same goes when the server closes its stream
  // without an error. Other socket failures raise.
  void SendMessage(const std::string& ARecipient, const std::string& Body) override;

  // Raise a session error; every EJabberSendError goes through
  // RaiseSendError, so ErrorCode always holds the last one's code.
  [[noreturn]] void RaiseSendError(std::int32_t Code, const std::string& Extra);
  [[noreturn]] void RaiseSendError(std::int32_t Code, TJabberReason Reason, const std::string& Extra);
  // Classifies a server's error element by its numeric code or, failing
  // that, by the name of its condition, and raises.
  [[noreturn]] void RaiseServerError(const std::string& ErrorElement);
  [[noreturn]] void RaiseByCode(std::int32_t Code, const std::string& ErrorElement);
  [[noreturn]] void RaiseByCondition(const std::string& ErrorElement);

  std::string Domain;               // XMPP domain of the server, when it is not the host's name
  std::string MessageBody;          // body of the last SendMessage
  std::string StreamId;             // id of the server's stream header, for the digest
  std::uint16_t StanzaCounter = 0;  // numbers login queries and messages
  std::string Recipient;            // recipient of the last SendMessage
  bool ProbeMode = false;           // the answer to the stream header alone establishes

  // The whole check's one limit, which the connect, TLS and every wait for
  // the server share; when it passes, the failure is EDeadlinePassed naming
  // what was being waited for. Without a limit (the default) each wait has
  // its own time-out alone.
  TDeadline Deadline{0};
  // The address families the connect may use.
  TFamilies Families = TFamilies::Any;
  // The probe opens a server-to-server stream instead (from From, when not
  // empty): established once the server's features offer a way to
  // authenticate a server, dialback or SASL EXTERNAL.
  bool ServerToServer = false;
  std::string From;

  // TLS, when it is asked for: the stream is only established over TLS, with
  // a certificate that is trusted, valid, issued for the domain and, with
  // CertDays above 0, valid for at least that many more days.
  TTlsMode TlsMode = TTlsMode::None;
  std::string CaFile;         // PEM file of the CAs to trust; empty: the system's trust store
  std::int32_t CertDays = 0;

  // Loads the TLS library and the trust anchors for TlsMode (nothing without
  // it). Connect does it itself when it has not been done; a caller that
  // measures the check does it first, so the time covers the server alone.
  // Raises ETlsError when TLS cannot be used with these settings.
  void PrepareTls();

  // The two markers either of which ends a reply the opening waits for.
  struct TReplyEnd {
    const char* Marker;
    const char* OtherMarker;
  };

 private:
  // How far the login has gone: each query is sent once at most.
  enum class TLoginStep { None, GetSent, SetSent };
  // What the conversation is waiting for, for the message when the whole
  // check's limit passes.
  enum class TWaitingFor { Connect, Send, StreamHeader, Features, StartTlsAnswer, Handshake };

  // Connects the socket to the endpoints (or Server:Port).
  void ConnectEndpoints();
  // Forgets the last session's login, message and end.
  void ResetSession();
  // The stream the conversation talks over: TLS or the plain stream, or
  // the (closed) socket when there is none.
  TByteStream& Stream();
  // Replaces Text with the next chunk: at most 20480 bytes of what the
  // stream delivers, waiting at most TimeoutMs. Nothing in time or a
  // closed stream raises EVHSyncSockError (sockErrRead); a failed receive
  // raises the stream's failure.
  void ReceiveText(std::int32_t TimeoutMs, std::string& Text);
  // Closes the stream (TLS's Close closes the one below) and forgets it.
  void CloseStream() noexcept;
  // A failure that came while the whole check's limit passed, as that.
  [[noreturn]] void RaiseAfterWait(std::exception_ptr Failure);

  // Connect's part after the socket is connected when TLS is asked for:
  // STARTTLS or direct TLS, the certificate's verdict, the stream over TLS.
  void OpenTlsStream();
  // Stacks TLS on the plain stream: the whole handshake within TimeoutMs.
  void StackTls(std::int32_t TimeoutMs);
  // Asks for STARTTLS on the plain stream and reads the answer up to the
  // server's go-ahead.
  void NegotiateStartTls(const TReplyDeadline& Replies);
  // Reads the server's answer to the stream header sent over TLS until its
  // start tag is complete, and raises unless it is an XMPP stream header.
  void AwaitTlsStreamHeader(const TReplyDeadline& Replies);
  // The stream header the probe sends: the client's (versioned for TLS) or
  // the server-to-server one.
  void BuildHeader(TOutBuffer& Buffer, bool Versioned) const;
  // The server-to-server stream's features, and the verdict on them.
  void AwaitServerFeatures(const TReplyDeadline& Replies);
  // Reads chunks, joined, until the text holds either marker of End, and
  // returns the text; a stream error or close on the way goes to
  // JudgeStreamEnd.
  std::string ReadReplyUntil(const TReplyDeadline& Replies, const TReplyEnd& End);
  // While the opening joins chunks, a stream error or the server's stream
  // close ends it as it ends the conversation: once Reply holds a whole one,
  // the analysis judges Reply (an error is classified and raised; a bare
  // close leaves the session unestablished, so the next receive fails) and
  // Reply starts anew; returns whether it did. The analysis looks for the
  // errors and the close before any other marker, so nothing else in Reply,
  // a stream header included, counts then.
  bool JudgeStreamEnd(std::string& Reply);

  std::unique_ptr<TTlsContext> FTlsContext;
  TByteStream* FPlain = nullptr;       // the stream the session was opened over
  std::unique_ptr<TTlsStream> FTls;    // TLS on FPlain, once its handshake is complete
  TByteStream* FStream = nullptr;      // FTls or FPlain; none without a session
  std::string FUnread;                 // received bytes beyond the chunk handed out

  // Decides what one received chunk means for the session.
  void AnalyzeResponse(const std::string& Chunk);
  // The server's list of login fields: sends the "set" query, or fails the
  // login when the list cannot lead anywhere.
  void AnswerLoginFields(const std::string& Text);
  // Classifies a stream error as the session stood when it came, ends the
  // session and raises.
  [[noreturn]] void EndByStreamError(const std::string& Text);
  // The server has closed its stream in an established session, without an
  // error: closes ours, and raises unless Text confirmed the message too.
  void EndByStreamClose(const std::string& Text);
  // Answers the server's requests to this session.
  void AnswerRequests(const std::string& Text);
  // Looks through the messages in Text for the recipient's event about the
  // message just sent.
  void SettleMessages(const std::string& Text);
  // Sends one built stanza, waiting for writability without limit.
  void SendStanza(const TOutBuffer& Buffer);

  std::vector<TEndpoint> FEndpoints;  // empty: Server and Port
  TConnectTrail FTrail;
  TWaitingFor FWaitingFor = TWaitingFor::Connect;
  bool Closing = false;  // CloseSession is draining the server's last replies
  TLoginStep FLoginStep = TLoginStep::None;
  std::string FMessageId;  // id of the message awaiting confirmation
  // The stream error that ended the session, and its code; kept until the
  // next Connect, for the messages asked for meanwhile.
  bool FEndedByServer = false;
  std::string FEndedBy;
  std::int32_t FEndedCode = 0;
};
