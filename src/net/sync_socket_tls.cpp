// TSyncSocket's TLS side: the handshake, and sending and receiving through
// the TLS session once it runs. The session only transforms bytes; every
// wait for the socket happens here, bounded like the socket's own.

#include <algorithm>

#include "base/deadline.h"
#include "net/sync_socket.h"
#include "net/tls_error.h"

namespace np = netplatform;

void TSyncSocket::StartTls(TTlsContext& Context, const std::string& ServerName, std::int32_t TimeoutMs) {
  if (FSocket == np::kInvalidSocket) RaiseError(sockErrWinSock, 0);
  // The session only becomes the socket's once the handshake is complete:
  // a failed handshake has nothing to close politely.
  auto session = std::make_unique<TTlsSession>(Context, ServerName);
  // Once the time is used up, each wait polls once and reports its own
  // failure.
  const TDeadline budget(TimeoutMs);
  std::string input, output;
  for (;;) {
    const bool done = session->Handshake(input, output);
    SendRaw(output, budget.Next());
    output.clear();
    if (done) break;
    std::int32_t error = 0;
    switch (ReadRaw(budget.Next(), input, error)) {
      case TRawRead::Data:
        break;
      case TRawRead::TimedOut:
        throw ETlsError(tlsErrHandshake, {TlsReasonText(TTlsReason::NoAnswer)});
      case TRawRead::Closed:
        throw ETlsError(tlsErrHandshake, {TlsReasonText(TTlsReason::ServerClosed)});
      case TRawRead::Failed:
        RaiseError(sockErrRead, error);
    }
  }
  FTls = std::move(session);
  FTlsIn = std::move(input);
  FTlsPlain.clear();
  FTlsPeerClosed = false;
}

TPeerCertificate TSyncSocket::PeerCertificate() {
  if (!FTls) throw ETlsError(tlsErrHandshake, {TlsReasonText(TTlsReason::NoCertificate)});
  return FTls->PeerCertificate();
}

// Waits for the socket to become readable and appends what one receive
// delivers.
TSyncSocket::TRawRead TSyncSocket::ReadRaw(std::int32_t TimeoutMs, std::string& Into, std::int32_t& Error) {
  // A TLS server's session tickets would otherwise hold its next answer
  // until our delayed acknowledgement, some 40 ms and more.
  np::AcknowledgeAtOnce(FSocket);
  if (!WaitFor(np::WaitFor::Read, TimeoutMs)) {
    Error = FLastWinSockError;
    return Error != 0 ? TRawRead::Failed : TRawRead::TimedOut;
  }
  char buffer[kReceiveSize];
  const int n = np::Receive(FSocket, buffer, kReceiveSize);
  if (n == np::kSocketError) {
    Error = np::LastError();
    return TRawRead::Failed;
  }
  if (n == 0) return TRawRead::Closed;
  Into.append(buffer, static_cast<std::size_t>(n));
  return TRawRead::Data;
}

// A record must go out whole, so a short send is followed by the rest; each
// wait for writability is bounded by TimeoutMs as in SendBuffer.
void TSyncSocket::SendRaw(const std::string& Bytes, std::int32_t TimeoutMs) {
  std::size_t sent = 0;
  while (sent < Bytes.size()) {
    if (!WaitForWrite(TimeoutMs)) RaiseError(sockErrSend, FLastWinSockError);
    const int n = np::Send(FSocket, Bytes.data() + sent, static_cast<int>(Bytes.size() - sent));
    if (n == np::kSocketError) RaiseError(sockErrSend, np::LastError());
    sent += static_cast<std::size_t>(n);
  }
}

void TSyncSocket::SendTls(const void* Data, std::int32_t Length, std::int32_t TimeoutMs) {
  std::string records;
  FTls->Encrypt(std::string_view(static_cast<const char*>(Data), static_cast<std::size_t>(Length)), records);
  SendRaw(records, TimeoutMs);
}

// As a plain receive: the first plaintext there is, at most kReceiveSize
// bytes of it, waiting at most TimeoutMs in all. Records cut in two by the
// network and records without plaintext (the library's own messages) make
// it wait on within the same time.
void TSyncSocket::ReceiveTls(std::int32_t TimeoutMs, std::string& Text) {
  const TDeadline budget(TimeoutMs);
  while (FTlsPlain.empty()) {
    if (!FTlsIn.empty()) {
      std::string answer;
      if (!FTls->Decrypt(FTlsIn, FTlsPlain, answer)) FTlsPeerClosed = true;
      SendRaw(answer, budget.Next());
      if (!FTlsPlain.empty()) break;
    }
    if (FTlsPeerClosed) RaiseError(sockErrRead, 0);
    std::int32_t error = 0;
    const TRawRead read = ReadRaw(budget.Next(), FTlsIn, error);
    if (read == TRawRead::Failed) RaiseError(sockErrRead, error);
    if (read != TRawRead::Data) RaiseError(sockErrRead, 0);
  }
  const std::size_t count = std::min(FTlsPlain.size(), static_cast<std::size_t>(kReceiveSize));
  Text.assign(FTlsPlain, 0, count);
  FTlsPlain.erase(0, count);
}

// The close_notify goes out if the socket takes it at once; nothing waits
// for it, nor for the server's own.
void TSyncSocket::CloseTls() noexcept {
  try {
    std::string alert;
    FTls->Close(alert);
    if (!alert.empty() && FSocket != np::kInvalidSocket && np::Wait(FSocket, np::WaitFor::Write, -1) == 1)
      np::Send(FSocket, alert.data(), static_cast<int>(alert.size()));
  } catch (...) {
    // Closing goes on regardless.
  }
  FTls.reset();
  FTlsIn.clear();
  FTlsPlain.clear();
  FTlsPeerClosed = false;
}
