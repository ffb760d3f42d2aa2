#pragma once
// TLS stacked on another byte stream. The TLS session only transforms bytes
// (net/tls.h); this layer moves them through the stream below and does all
// the waiting, each operation bounded by its time-out in the stream's terms.

#include <cstdint>
#include <string>
#include <string_view>

#include "net/byte_stream.h"
#include "net/tls.h"

class TTlsStream : public TByteStream {
 public:
  // Lower carries the TLS records and must outlive this object. ServerName
  // goes to the server for its choice of certificate. Nothing is sent before
  // Handshake.
  TTlsStream(TByteStream& Lower, TTlsContext& Context, const std::string& ServerName);
  // Neither sends anything nor closes Lower: a stream that is not closed
  // is simply dropped.
  ~TTlsStream() override;
  TTlsStream(const TTlsStream&) = delete;
  TTlsStream& operator=(const TTlsStream&) = delete;

  // The whole handshake within TimeoutMs. Raises ETlsError (tlsErrHandshake)
  // with the library's reason, or with "No answer" when the server stops
  // answering and "Server closed" when it closes; EVHSyncSockError from the
  // socket below. Bytes that came with the handshake's end are kept for
  // Receive.
  void Handshake(std::int32_t TimeoutMs);
  // What the TLS library found out about the server's certificate; raises
  // ETlsError when there is none (before the handshake, or the server sent
  // none).
  TPeerCertificate PeerCertificate();

  // Only after a complete Handshake. Send encrypts Data and sends the
  // records whole. Receive appends all the plaintext that is there, at
  // least one byte, waiting at most TimeoutMs in all: records cut in two by
  // the network and records without plaintext (the library's own messages,
  // which it may answer) keep it waiting within that time. After the
  // server's close_notify it says Closed. Both raise ETlsError
  // (tlsErrConnection) for records the library refuses.
  void Send(std::string_view Data, std::int32_t TimeoutMs) override;
  TReceived Receive(std::int32_t TimeoutMs, std::string& Into) override;
  // Sends the close_notify if the handshake was complete and Lower takes it
  // at once (a single poll; nothing waits for the server's own), then closes
  // Lower. Later calls only close Lower again.
  void Close() noexcept override;

 private:
  TByteStream& FLower;
  TTlsSession FSession;
  bool FEstablished = false;  // the handshake is complete
  bool FPeerClosed = false;   // the server's close_notify has arrived
  bool FNotified = false;     // our close_notify went out, or was given up
  bool FUnread = false;       // the session may hold bytes not decrypted yet
  std::string FIn;            // received bytes not given to the session yet
  std::string FPlain;         // decrypted bytes not handed out yet
};
