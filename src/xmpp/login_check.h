#pragma once
// TLoginCheck: proves that an account can log in. Over a connected byte
// stream it opens an XMPP stream, gets TLS (STARTTLS, or TLS from the first
// byte) through an injected step, logs in with SASL (SCRAM-SHA-256,
// SCRAM-SHA-1 or PLAIN) or the legacy digest login, binds a resource and
// pings the domain. One function per step; each reads whole top-level
// elements through TElementReader, so the conversation can be driven in
// memory by tests and fuzzing as well as over the network.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/base_error.h"
#include "base/deadline.h"
#include "net/byte_stream.h"
#include "xmpp/element_reader.h"

// How the account logs in. Any takes the best the server offers.
enum class TLoginMechanism { Any, ScramSha256, ScramSha1, Plain, Legacy };

// How the stream gets TLS.
enum class TLoginTls { StartTls, Direct };

struct TLoginSettings {
  std::string Domain;    // the XMPP domain: the stream's "to" and the ping's target
  std::string UserName;  // the local part, UTF-8
  std::string Password;  // UTF-8, as given
  TLoginMechanism Mechanism = TLoginMechanism::Any;
  TLoginTls Tls = TLoginTls::StartTls;
  std::int32_t TimeoutMs = 60000;  // the whole conversation; 0 without limit
};

// Puts TLS on the plain stream: handshakes within TimeoutMs, judges the
// server's certificate and returns the stream to talk over from then on,
// which must outlive the check. Raises ETlsError for a failed handshake or a
// certificate that does not pass.
using TTlsStep = std::function<TByteStream&(TByteStream& Plain, std::int32_t TimeoutMs)>;

// A login check that came to nothing: the server refused, failed or did not
// answer as required. The message is the reason for the result line.
class ELoginError : public EBaseError {
 public:
  using EBaseError::EBaseError;
};

class TLoginCheck {
 public:
  // Makes the client nonce and the resource name from the system's secure
  // random source, so a platform without its cryptography fails here,
  // before any connection (ECryptoError).
  TLoginCheck(TLoginSettings Settings, TTlsStep Tls);

  // Runs the conversation over Plain, a connected stream, up to the ping's
  // answer, and returns then. Raises ELoginError, ETlsError for TLS and the
  // certificate, EVHSyncSockError when the stream fails.
  void Run(TByteStream& Plain);
  // Before Run: the whole conversation's time-out, in place of the
  // settings' own (what is left of a limit the connect shared).
  void LimitTime(std::int32_t TimeoutMs) { FSettings.TimeoutMs = TimeoutMs; }
  // Closes the stream as the probe does: after a successful Run the stream
  // close, the server's own awaited within a time-out of its own, then the
  // connection; after a failed one the stream close only if the stream can
  // take it at once, then the connection. Never raises.
  void Close() noexcept;

 private:
  // The steps, in order; their names go into the reasons.
  enum class TStep { Opening, Login, Binding, Ping };

  void OpenStream();
  void StartTls();
  void StackTls();
  TLoginMechanism ChooseMechanism() const;
  void LoginPlain();
  void LoginScram(TLoginMechanism Mechanism);
  void LoginLegacy();
  void Bind();
  void EstablishSession();
  void Ping();

  // Sends Text, within what is left of the time.
  void Send(std::string_view Text);
  // The next whole top-level element, or raises what the step met instead:
  // silence, a stream error, the stream's close, the connection's close,
  // malformed XML.
  TXmlElement Await(TStep Step);
  // The answer to the iq with Id: stanzas and other iqs on the way settle
  // nothing, and requests to this session are answered.
  TXmlElement AwaitIq(TStep Step, const std::string& Id);
  // Answers an iq get or set addressed to this session; false for anything
  // else.
  bool AnswerRequest(const TXmlElement& Stanza);
  // Raises ELoginError with What, the step's name and Detail.
  [[noreturn]] void Fail(TStep Step, std::string_view What, std::string_view Detail);

  TLoginSettings FSettings;
  TTlsStep FTls;
  std::string FNonce;
  std::string FResource;
  TDeadline FDeadline{0};
  TByteStream* FStream = nullptr;
  TElementReader FReader;
  TXmlElement FFeatures;
  std::string FStreamId;
  std::uint32_t FNextId = 0;
  bool FStreamOpen = false;    // our stream header went out and no close yet
  bool FServerClosed = false;  // the server's stream or connection has ended
  bool FAlive = false;         // the ping has been answered
};
