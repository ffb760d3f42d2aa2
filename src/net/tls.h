#pragma once
// TLS over a connected socket. The platform's TLS library (OpenSSL 3 on
// POSIX, SChannel on Windows; one file each beside this header) is used as a
// pure transform between the plaintext of the conversation and the bytes on
// the wire: it never touches the socket. TTlsStream (net/tls_stream.h) moves
// the bytes, so all waiting stays in one place, bounded by its time-outs.
//
// The library only reports facts about the server's certificate; judging
// them, in one order on every platform, is CheckCertificate's business.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What the library found out about the certificate the server presented.
struct TPeerCertificate {
  // The chain leads to a trusted root with valid signatures and usage. The
  // server certificate's own validity dates are left out of this verdict.
  bool Trusted = false;
  std::string TrustProblem;  // the library's reason when not trusted
  bool HasSubjectAltName = false;
  std::vector<std::string> DnsNames;   // subjectAltName dNSName entries
  std::vector<std::string> XmppAddrs;  // subjectAltName id-on-xmppAddr entries
  std::string CommonName;              // the subject's last common name
  std::int64_t NotBefore = 0;          // seconds since 1970-01-01 00:00:00 UTC
  std::int64_t NotAfter = 0;
};

// The TLS library with the trust anchors of one check. Making it loads the
// library where it is loaded on demand, so a check without TLS never pays
// for it.
class TTlsContext {
 public:
  // CaFile: a PEM file of the certificates to trust instead of the system's
  // trust store; empty for the system's store. Raises ETlsError (tlsErrLibrary,
  // tlsErrCaFile, tlsErrCaEmpty).
  explicit TTlsContext(const std::string& CaFile);
  ~TTlsContext();
  TTlsContext(const TTlsContext&) = delete;
  TTlsContext& operator=(const TTlsContext&) = delete;

  struct TImpl;

 private:
  friend class TTlsSession;
  std::shared_ptr<TImpl> F;  // shared with every session made from it
};

// One client connection's TLS state. ServerName is sent for the server to
// choose its certificate by (not when it is an IP address literal). It keeps
// what it needs of the context, which may go first.
class TTlsSession {
 public:
  TTlsSession(TTlsContext& Context, const std::string& ServerName);
  ~TTlsSession();
  TTlsSession(const TTlsSession&) = delete;
  TTlsSession& operator=(const TTlsSession&) = delete;

  // Takes the handshake as far as the received bytes in Input allow: what it
  // uses is removed from Input, what must be sent is appended to Output.
  // True once the handshake is complete. Bytes received after it may stay
  // in Input or inside the session: Decrypt hands them out, even when it is
  // called with an empty Input. Raises ETlsError (tlsErrHandshake) with the library's reason.
  bool Handshake(std::string& Input, std::string& Output);
  // Appends the records that carry Plain to Output.
  void Encrypt(std::string_view Plain, std::string& Output);
  // Decrypts the complete records in Input (removing them) and appends their
  // plaintext to Plain; an incomplete record stays in Input or inside the
  // session. Anything the library must answer is appended to Output. False
  // once the server has closed the TLS stream. Raises ETlsError (tlsErrConnection).
  bool Decrypt(std::string& Input, std::string& Plain, std::string& Output);
  // Appends the close_notify alert to Output; never raises.
  void Close(std::string& Output) noexcept;
  // The facts about the server's certificate, once the handshake is complete.
  // Raises ETlsError (tlsErrHandshake) when the server sent none.
  TPeerCertificate PeerCertificate();

  struct TImpl;

 private:
  std::unique_ptr<TImpl> F;
};

// True for an IPv4 or IPv6 address literal, with or without brackets: such a
// name is never sent as the server name.
bool IsAddressLiteral(std::string_view Name);

// The name a session sends for the server to choose its certificate by (SNI):
// ServerName in lower case and without a trailing dot, as DNS names compare
// and as servers match them; empty for an address literal, which is never
// sent.
std::string SniName(std::string_view ServerName);

// For the platform halves: reads the DNS names and XMPP addresses of a
// subjectAltName extension's value (DER) into Certificate; false when it is
// malformed, with what was read before the fault kept.
bool ReadSubjectAltName(std::string_view Der, TPeerCertificate& Certificate);

// For the platform halves: the PEM certificate blocks of a CA file, each
// from its BEGIN line through its END line. Raises ETlsError (tlsErrCaFile,
// tlsErrCaEmpty).
std::vector<std::string> ReadCaCertificates(const std::string& CaFile);
