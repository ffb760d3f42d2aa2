// TLS over a byte stream: the handshake, and sending and receiving through
// the session once it runs.

#include "net/tls_stream.h"

#include <stdexcept>

#include "base/deadline.h"
#include "net/tls_error.h"

TTlsStream::TTlsStream(TByteStream& Lower, TTlsContext& Context, const std::string& ServerName)
    : FLower(Lower), FSession(Context, ServerName) {}

TTlsStream::~TTlsStream() = default;

void TTlsStream::Handshake(std::int32_t TimeoutMs) {
  // Once the time is used up, each wait polls once and reports its own
  // failure.
  const TDeadline budget(TimeoutMs);
  std::string output;
  for (;;) {
    const bool done = FSession.Handshake(FIn, output);
    if (!output.empty()) FLower.Send(output, budget.Next());
    output.clear();
    if (done) break;
    switch (FLower.Receive(budget.Next(), FIn)) {
      case TReceived::Data:
        break;
      case TReceived::TimedOut:
        throw ETlsError(tlsErrHandshake, {TlsReasonText(TTlsReason::NoAnswer)});
      case TReceived::Closed:
        throw ETlsError(tlsErrHandshake, {TlsReasonText(TTlsReason::ServerClosed)});
    }
  }
  // Bytes that came with the handshake's last flight belong to the
  // conversation. The session may have kept them in FIn or taken them in
  // already (OpenSSL reads all it is given), so the first Receive decrypts
  // even when FIn is empty: otherwise they would wait for the server's next
  // bytes, which may never come.
  FEstablished = true;
  FUnread = true;
}

TPeerCertificate TTlsStream::PeerCertificate() {
  if (!FEstablished) throw ETlsError(tlsErrHandshake, {TlsReasonText(TTlsReason::NoCertificate)});
  return FSession.PeerCertificate();
}

void TTlsStream::Send(std::string_view Data, std::int32_t TimeoutMs) {
  if (!FEstablished) throw std::logic_error("TTlsStream::Send before the handshake");
  if (Data.empty()) return;
  std::string records;
  FSession.Encrypt(Data, records);
  FLower.Send(records, TimeoutMs);
}

TByteStream::TReceived TTlsStream::Receive(std::int32_t TimeoutMs, std::string& Into) {
  if (!FEstablished) throw std::logic_error("TTlsStream::Receive before the handshake");
  const TDeadline budget(TimeoutMs);
  for (;;) {
    if (!FPlain.empty()) {
      Into += FPlain;
      FPlain.clear();
      return TReceived::Data;
    }
    if (FPeerClosed) return TReceived::Closed;
    if (FUnread) {
      FUnread = false;
      std::string answer;
      if (!FSession.Decrypt(FIn, FPlain, answer)) FPeerClosed = true;
      if (!answer.empty()) FLower.Send(answer, budget.Next());
      continue;
    }
    const TReceived read = FLower.Receive(budget.Next(), FIn);
    if (read != TReceived::Data) return read;
    FUnread = true;
  }
}

void TTlsStream::Close() noexcept {
  if (FEstablished && !FNotified) {
    FNotified = true;
    try {
      std::string alert;
      FSession.Close(alert);
      if (!alert.empty()) FLower.Send(alert, -1);
    } catch (...) {
      // Closing goes on regardless.
    }
  }
  FLower.Close();
}
