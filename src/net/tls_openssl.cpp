// TLS with OpenSSL 3, through memory buffers on both sides of the library.
//
// libssl is loaded when the first TLS context is made, not when the program
// starts: loading and relocating libssl and libcrypto costs many times what
// a whole plain check costs, and most checks never use TLS. So the program
// is not linked against OpenSSL at all; its headers give the prototypes, and
// every call goes through the table below. Macros of the OpenSSL headers
// that would call into the library directly are spelled out as the calls
// they stand for.

#include "net/tls.h"

#include <sys/stat.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "base/loaded_library.h"
#include "net/tls_error.h"
#include "text/utc_time.h"

namespace {

// The soname of OpenSSL 3's libssl; it brings libcrypto along.
constexpr const char* kLibrary = "libssl.so.3";

#define TOLVANE_OPENSSL_CALLS(X)      \
  X(TLS_client_method)                \
  X(SSL_CTX_new)                      \
  X(SSL_CTX_free)                     \
  X(SSL_CTX_ctrl)                     \
  X(SSL_CTX_set_verify)               \
  X(SSL_CTX_set_default_verify_paths) \
  X(SSL_CTX_load_verify_dir)          \
  X(X509_get_default_cert_dir)        \
  X(X509_get_default_cert_dir_env)    \
  X(X509_get_default_cert_file_env)   \
  X(SSL_CTX_get_cert_store)           \
  X(SSL_new)                          \
  X(SSL_free)                         \
  X(SSL_ctrl)                         \
  X(SSL_set_bio)                      \
  X(SSL_set_connect_state)            \
  X(SSL_do_handshake)                 \
  X(SSL_read)                         \
  X(SSL_write)                        \
  X(SSL_shutdown)                     \
  X(SSL_get_error)                    \
  X(SSL_get_verify_result)            \
  X(SSL_get1_peer_certificate)        \
  X(BIO_s_mem)                        \
  X(BIO_new)                          \
  X(BIO_new_mem_buf)                  \
  X(BIO_free)                         \
  X(BIO_read)                         \
  X(BIO_write)                        \
  X(BIO_ctrl_pending)                 \
  X(ERR_get_error)                    \
  X(ERR_clear_error)                  \
  X(ERR_reason_error_string)          \
  X(PEM_read_bio_X509)                \
  X(X509_free)                        \
  X(X509_STORE_add_cert)              \
  X(X509_STORE_CTX_get_error)         \
  X(X509_STORE_CTX_get_error_depth)   \
  X(X509_STORE_CTX_set_error)         \
  X(X509_verify_cert_error_string)    \
  X(X509_get_ext_by_NID)              \
  X(X509_get_ext)                     \
  X(X509_EXTENSION_get_data)          \
  X(X509_get_subject_name)            \
  X(X509_NAME_get_index_by_NID)       \
  X(X509_NAME_get_entry)              \
  X(X509_NAME_ENTRY_get_data)         \
  X(X509_get0_notBefore)              \
  X(X509_get0_notAfter)               \
  X(ASN1_TIME_to_tm)                  \
  X(ASN1_STRING_get0_data)            \
  X(ASN1_STRING_length)               \
  X(GENERAL_NAMES_free)

// The OpenSSL calls the program makes.
struct TOpenSsl {
  TOLVANE_OPENSSL_CALLS(TOLVANE_CALL_POINTER)
  template <typename F>
  void Resolve(F&& Call) {
    TOLVANE_OPENSSL_CALLS(TOLVANE_RESOLVE_CALL)
  }
};

const TOpenSsl* g_openSsl = nullptr;  // once loaded, for the verify callback

const TOpenSsl& OpenSsl() {
  TLoadFailure failure;
  g_openSsl = LoadCalls<TOpenSsl>(kLibrary, failure);
  if (g_openSsl) return *g_openSsl;
  if (!failure.Missing.empty()) throw ETlsError(tlsErrLibrary, {std::string(kLibrary) + ": " + failure.Missing});
  throw ETlsError(tlsErrLibrary, {failure.Reason});
}

// OpenSSL's reasons are written in lower case; ours are sentences.
std::string Sentence(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

// The reason of the oldest error queued, which is usually the cause; the
// queue is emptied.
std::string ErrorReason(const TOpenSsl& ssl) {
  const unsigned long error = ssl.ERR_get_error();
  ssl.ERR_clear_error();
  if (error == 0) return TlsReasonText(TTlsReason::NoLibraryReason);
  const char* reason = ssl.ERR_reason_error_string(error);
  if (reason) return Sentence(reason);
  char code[32];
  std::snprintf(code, sizeof code, "error %08lX", error);
  return code;
}

// The chain is judged without the server certificate's own validity dates:
// the verdict on those comes later, with the date, from CheckCertificate.
// Any other problem stops the verification and stays its result.
int VerifyCallback(int ok, X509_STORE_CTX* store) {
  const TOpenSsl& ssl = *g_openSsl;
  if (ok) return ok;
  const int error = ssl.X509_STORE_CTX_get_error(store);
  if (ssl.X509_STORE_CTX_get_error_depth(store) == 0 &&
      (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID)) {
    ssl.X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  return ok;
}

std::string Text(const TOpenSsl& ssl, const ASN1_STRING* text) {
  const unsigned char* data = ssl.ASN1_STRING_get0_data(text);
  const int length = ssl.ASN1_STRING_length(text);
  if (!data || length <= 0) return {};
  return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
}

std::int64_t Seconds(const TOpenSsl& ssl, const ASN1_TIME* time) {
  std::tm t{};
  if (!time || ssl.ASN1_TIME_to_tm(time, &t) != 1) return 0;
  return UtcSeconds(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

void ReadNames(const TOpenSsl& ssl, X509* certificate, TPeerCertificate& facts) {
  const int at = ssl.X509_get_ext_by_NID(certificate, NID_subject_alt_name, -1);
  facts.HasSubjectAltName = at >= 0;
  if (at >= 0) ReadSubjectAltName(Text(ssl, ssl.X509_EXTENSION_get_data(ssl.X509_get_ext(certificate, at))), facts);
  X509_NAME* subject = ssl.X509_get_subject_name(certificate);
  const int first = subject ? ssl.X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
  if (first >= 0) facts.CommonName = Text(ssl, ssl.X509_NAME_ENTRY_get_data(ssl.X509_NAME_get_entry(subject, first)));
}

}  // namespace

struct TTlsContext::TImpl {
  const TOpenSsl& Ssl;
  SSL_CTX* Context = nullptr;

  // The system's trust store is OpenSSL's certificate directory, whose
  // certificates are read one by one as a chain needs them. OpenSSL's own
  // default would also read its whole CA file up front, which costs ten
  // times the rest of a TLS check; so the file is read only where there is
  // no such directory, or where SSL_CERT_FILE names one.
  void TrustSystem() {
    const char* dir = std::getenv(Ssl.X509_get_default_cert_dir_env());
    if (!dir || !*dir) dir = Ssl.X509_get_default_cert_dir();
    const char* file = std::getenv(Ssl.X509_get_default_cert_file_env());
    struct stat info {};
    const bool useDir = (!file || !*file) && dir && stat(dir, &info) == 0 && S_ISDIR(info.st_mode);
    const int loaded =
        useDir ? Ssl.SSL_CTX_load_verify_dir(Context, dir) : Ssl.SSL_CTX_set_default_verify_paths(Context);
    if (loaded != 1) throw ETlsError(tlsErrLibrary, {ErrorReason(Ssl)});
  }

  explicit TImpl(const TOpenSsl& ssl) : Ssl(ssl) {}
  ~TImpl() {
    if (Context) Ssl.SSL_CTX_free(Context);
  }

  void Trust(const std::string& CaFile) {
    if (CaFile.empty()) {
      TrustSystem();
      return;
    }
    X509_STORE* store = Ssl.SSL_CTX_get_cert_store(Context);
    for (const std::string& block : ReadCaCertificates(CaFile)) {
      BIO* text = Ssl.BIO_new_mem_buf(block.data(), static_cast<int>(block.size()));
      X509* certificate = text ? Ssl.PEM_read_bio_X509(text, nullptr, nullptr, nullptr) : nullptr;
      if (text) Ssl.BIO_free(text);
      const bool added = certificate && Ssl.X509_STORE_add_cert(store, certificate) == 1;
      if (certificate) Ssl.X509_free(certificate);
      Ssl.ERR_clear_error();
      if (!added) throw ETlsError(tlsErrCaFile, {CaFile, TlsReasonText(TTlsReason::DamagedCertificate)});
    }
  }
};

TTlsContext::TTlsContext(const std::string& CaFile) : F(std::make_shared<TImpl>(OpenSsl())) {
  const TOpenSsl& ssl = F->Ssl;
  F->Context = ssl.SSL_CTX_new(ssl.TLS_client_method());
  if (!F->Context) throw ETlsError(tlsErrLibrary, {ErrorReason(ssl)});
  ssl.SSL_CTX_ctrl(F->Context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  // The handshake goes on whatever the certificate is like; its verdict is
  // kept and judged afterwards, so that every reason can be told apart.
  ssl.SSL_CTX_set_verify(F->Context, SSL_VERIFY_NONE, VerifyCallback);
  F->Trust(CaFile);
}

TTlsContext::~TTlsContext() = default;

struct TTlsSession::TImpl {
  const TOpenSsl& Ssl;
  std::shared_ptr<TTlsContext::TImpl> Context;
  SSL* Session = nullptr;
  BIO* In = nullptr;   // received bytes for the library to read
  BIO* Out = nullptr;  // bytes the library has written for the server

  explicit TImpl(std::shared_ptr<TTlsContext::TImpl> context) : Ssl(context->Ssl), Context(std::move(context)) {}
  ~TImpl() {
    if (Session) Ssl.SSL_free(Session);  // frees both buffers with it
  }

  void Feed(std::string& Input) {
    if (!Input.empty()) Ssl.BIO_write(In, Input.data(), static_cast<int>(Input.size()));
    Input.clear();
  }

  void Drain(std::string& Output) {
    char buffer[16384];
    while (Ssl.BIO_ctrl_pending(Out) > 0) {
      const int n = Ssl.BIO_read(Out, buffer, sizeof buffer);
      if (n <= 0) break;
      Output.append(buffer, static_cast<std::size_t>(n));
    }
  }
};

TTlsSession::TTlsSession(TTlsContext& Context, const std::string& ServerName) : F(std::make_unique<TImpl>(Context.F)) {
  const TOpenSsl& ssl = F->Ssl;
  F->Session = ssl.SSL_new(F->Context->Context);
  if (F->Session) {
    F->In = ssl.BIO_new(ssl.BIO_s_mem());
    F->Out = ssl.BIO_new(ssl.BIO_s_mem());
  }
  if (!F->Session || !F->In || !F->Out) {
    const std::string reason = ErrorReason(ssl);
    if (F->In) ssl.BIO_free(F->In);
    if (F->Out) ssl.BIO_free(F->Out);
    throw ETlsError(tlsErrHandshake, {reason});
  }
  ssl.SSL_set_bio(F->Session, F->In, F->Out);
  ssl.SSL_set_connect_state(F->Session);
  std::string name = SniName(ServerName);
  if (!name.empty())
    ssl.SSL_ctrl(F->Session, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, name.data());
}

TTlsSession::~TTlsSession() = default;

bool TTlsSession::Handshake(std::string& Input, std::string& Output) {
  const TOpenSsl& ssl = F->Ssl;
  F->Feed(Input);
  const int result = ssl.SSL_do_handshake(F->Session);
  F->Drain(Output);
  if (result == 1) return true;
  const int error = ssl.SSL_get_error(F->Session, result);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return false;
  throw ETlsError(tlsErrHandshake, {ErrorReason(ssl)});
}

void TTlsSession::Encrypt(std::string_view Plain, std::string& Output) {
  const TOpenSsl& ssl = F->Ssl;
  if (!Plain.empty() && ssl.SSL_write(F->Session, Plain.data(), static_cast<int>(Plain.size())) <= 0)
    throw ETlsError(tlsErrConnection, {ErrorReason(ssl)});
  F->Drain(Output);
}

bool TTlsSession::Decrypt(std::string& Input, std::string& Plain, std::string& Output) {
  const TOpenSsl& ssl = F->Ssl;
  F->Feed(Input);
  char buffer[16384];
  for (;;) {
    const int n = ssl.SSL_read(F->Session, buffer, sizeof buffer);
    if (n > 0) {
      Plain.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    const int error = ssl.SSL_get_error(F->Session, n);
    F->Drain(Output);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return true;
    if (error == SSL_ERROR_ZERO_RETURN) return false;
    throw ETlsError(tlsErrConnection, {ErrorReason(ssl)});
  }
}

void TTlsSession::Close(std::string& Output) noexcept {
  try {
    F->Ssl.SSL_shutdown(F->Session);
    F->Ssl.ERR_clear_error();
    F->Drain(Output);
  } catch (...) {
    // Output may be incomplete; the connection is closed all the same.
  }
}

TPeerCertificate TTlsSession::PeerCertificate() {
  const TOpenSsl& ssl = F->Ssl;
  X509* certificate = ssl.SSL_get1_peer_certificate(F->Session);
  if (!certificate) throw ETlsError(tlsErrHandshake, {TlsReasonText(TTlsReason::NoCertificate)});
  TPeerCertificate facts;
  const long verdict = ssl.SSL_get_verify_result(F->Session);
  facts.Trusted = verdict == X509_V_OK;
  if (!facts.Trusted) facts.TrustProblem = Sentence(ssl.X509_verify_cert_error_string(verdict));
  ReadNames(ssl, certificate, facts);
  facts.NotBefore = Seconds(ssl, ssl.X509_get0_notBefore(certificate));
  facts.NotAfter = Seconds(ssl, ssl.X509_get0_notAfter(certificate));
  ssl.X509_free(certificate);
  return facts;
}
