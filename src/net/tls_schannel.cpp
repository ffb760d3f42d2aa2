// TLS with SChannel, the system's own TLS, and the system's certificate
// store: nothing to ship beside the program. SChannel is told to leave the
// certificate alone (manual validation); the chain is built and checked here
// with the system's chain engine, which gives one verdict per problem.

#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>  // the SECURITY_FLAG_IGNORE_... checks of the SSL chain policy
#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <cstdio>

#include "net/platform.h"
#include "net/tls.h"
#include "net/tls_error.h"
#include "text/trim.h"

namespace {

constexpr DWORD kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                           ISC_REQ_MANUAL_CRED_VALIDATION;

constexpr int kMaxRounds = 32;

constexpr DWORD kOldProtocols =
    SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;

// The system's text for a status or HRESULT, or its number in hexadecimal,
// the way such codes are looked up.
std::string StatusText(long Status) {
  std::string text;
  if (netplatform::RawErrorText(static_cast<int>(Status), text)) {
    text = TrimControlChars(text);
    if (!text.empty()) return text;
  }
  char number[32];
  std::snprintf(number, sizeof number, "Error 0x%08lX", static_cast<unsigned long>(Status));
  return number;
}

std::int64_t Seconds(const FILETIME& Time) {
  const std::int64_t ticks = (static_cast<std::int64_t>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime;
  // FILETIME counts 100 ns from 1601-01-01; 11644473600 s lie between that and 1970.
  return ticks / 10000000 - 11644473600LL;
}

void ReadNames(PCCERT_CONTEXT Certificate, TPeerCertificate& Facts) {
  const CERT_INFO* info = Certificate->pCertInfo;
  const CERT_EXTENSION* extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  Facts.HasSubjectAltName = extension != nullptr;
  if (extension)
    ReadSubjectAltName(
        std::string_view(reinterpret_cast<const char*>(extension->Value.pbData), extension->Value.cbData), Facts);
  char name[256];
  const DWORD length =
      CertGetNameStringA(Certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name, sizeof name);
  if (length > 1) Facts.CommonName.assign(name, length - 1);
}

// The program's own words for the first problem of a chain's status bits:
// not every system has texts for the codes the policy would give.
TTlsReason ChainProblem(DWORD Status) {
  if (Status & CERT_TRUST_IS_PARTIAL_CHAIN) return TTlsReason::UnknownIssuer;
  if (Status & CERT_TRUST_IS_UNTRUSTED_ROOT) return TTlsReason::UntrustedRoot;
  if (Status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return TTlsReason::BadSignature;
  if (Status & CERT_TRUST_IS_REVOKED) return TTlsReason::Revoked;
  if (Status & CERT_TRUST_IS_NOT_TIME_VALID) return TTlsReason::IssuerNotValidNow;
  if (Status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return TTlsReason::WrongUsage;
  return TTlsReason::BadChain;
}

// Frees a buffer SChannel allocated.
struct TContextBuffers {
  SecBuffer Buffers[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
  SecBufferDesc Description{SECBUFFER_VERSION, 2, Buffers};
  ~TContextBuffers() {
    for (SecBuffer& buffer : Buffers)
      if (buffer.pvBuffer) FreeContextBuffer(buffer.pvBuffer);
  }
  void AppendToken(std::string& Output) const {
    if (Buffers[0].pvBuffer && Buffers[0].cbBuffer > 0)
      Output.append(static_cast<const char*>(Buffers[0].pvBuffer), Buffers[0].cbBuffer);
  }
};

}  // namespace

struct TTlsContext::TImpl {
  CredHandle Credentials{};
  bool HaveCredentials = false;
  HCERTSTORE Anchors = nullptr;  // the CA file's certificates; none: the system's trust store

  ~TImpl() {
    if (HaveCredentials) FreeCredentialsHandle(&Credentials);
    if (Anchors) CertCloseStore(Anchors, 0);
  }

  // The current form of the credentials first, which also allows TLS 1.3;
  // systems that predate it take the older form, with TLS 1.2.
  void Acquire() {
    TimeStamp expiry;
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = kOldProtocols;
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    SECURITY_STATUS status = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                                       nullptr, &current, nullptr, nullptr, &Credentials, &expiry);
    if (status != SEC_E_OK) {
      SCHANNEL_CRED old{};
      old.dwVersion = SCHANNEL_CRED_VERSION;
      old.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
      old.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
      status = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &old,
                                         nullptr, nullptr, &Credentials, &expiry);
    }
    if (status != SEC_E_OK) throw ETlsError(tlsErrLibrary, {StatusText(status)});
    HaveCredentials = true;
  }

  void Trust(const std::string& CaFile) {
    if (CaFile.empty()) return;
    const std::vector<std::string> blocks = ReadCaCertificates(CaFile);
    Anchors = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (!Anchors) throw ETlsError(tlsErrLibrary, {StatusText(HRESULT_FROM_WIN32(GetLastError()))});
    for (const std::string& block : blocks) {
      DWORD size = 0;
      std::string der;
      bool added = CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                        nullptr, &size, nullptr, nullptr);
      if (added) {
        der.resize(size);
        added = CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                     reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr) &&
                CertAddEncodedCertificateToStore(Anchors, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                 size, CERT_STORE_ADD_USE_EXISTING, nullptr);
      }
      if (!added) throw ETlsError(tlsErrCaFile, {CaFile, TlsReasonText(TTlsReason::DamagedCertificate)});
    }
  }

  // The verdict on the chain of Certificate, without its own validity dates.
  // With a CA file the chain must end in one of its certificates, and in no
  // other root; without one, in a root the system trusts.
  void Judge(PCCERT_CONTEXT Certificate, TPeerCertificate& Facts) const {
    HCERTSTORE extra = Certificate->hCertStore;
    HCERTSTORE both = nullptr;
    if (Anchors) {
      both = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
      if (both) {
        CertAddStoreToCollection(both, Certificate->hCertStore, 0, 0);
        CertAddStoreToCollection(both, Anchors, 0, 0);
        extra = both;
      }
    }
    LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    const bool built = CertGetCertificateChain(nullptr, Certificate, nullptr, extra, &parameters, 0, nullptr, &chain);
    if (both) CertCloseStore(both, 0);
    if (!built || !chain || chain->cChain == 0) {
      Facts.TrustProblem = StatusText(HRESULT_FROM_WIN32(GetLastError()));
      if (chain) CertFreeCertificateChain(chain);
      return;
    }
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    // The chain engine's own bits, checked here and not left to the policy:
    // some systems let an incomplete chain pass the policy. The server
    // certificate's validity dates and the revocation state (not asked for)
    // are taken out; an issuer's dates stay in.
    DWORD status = simple->TrustStatus.dwErrorStatus;
    DWORD issuerBits = 0;
    for (DWORD i = 1; i < simple->cElement; ++i) issuerBits |= simple->rgpElement[i]->TrustStatus.dwErrorStatus;
    if (!(issuerBits & CERT_TRUST_IS_NOT_TIME_VALID)) status &= ~CERT_TRUST_IS_NOT_TIME_VALID;
    status &=
        ~(CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    bool rootIsAnchor = false;
    if (Anchors && simple->cElement > 0) {
      PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
      PCCERT_CONTEXT found =
          CertFindCertificateInStore(Anchors, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
      rootIsAnchor = found != nullptr;
      if (found) CertFreeCertificateContext(found);
      if (rootIsAnchor)
        status &= ~CERT_TRUST_IS_UNTRUSTED_ROOT;
      else if (!(status & CERT_TRUST_IS_PARTIAL_CHAIN))
        status |= CERT_TRUST_IS_UNTRUSTED_ROOT;
    }
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                    (rootIsAnchor ? SECURITY_FLAG_IGNORE_UNKNOWN_CA : 0);
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = rootIsAnchor ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS verdict{};
    verdict.cbSize = sizeof verdict;
    const bool judged = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict);
    CertFreeCertificateChain(chain);
    if (status != 0) {
      Facts.TrustProblem = TlsReasonText(ChainProblem(status));
    } else if (!judged) {
      Facts.TrustProblem = StatusText(HRESULT_FROM_WIN32(GetLastError()));
    } else if (verdict.dwError != 0) {
      Facts.TrustProblem = StatusText(static_cast<long>(verdict.dwError));
    } else {
      Facts.Trusted = true;
    }
  }
};

TTlsContext::TTlsContext(const std::string& CaFile) : F(std::make_shared<TImpl>()) {
  F->Acquire();
  F->Trust(CaFile);
}

TTlsContext::~TTlsContext() = default;

struct TTlsSession::TImpl {
  std::shared_ptr<TTlsContext::TImpl> Context;
  std::string ServerName;  // empty: no server name is sent
  CtxtHandle Handle{};
  bool HaveHandle = false;
  bool Renegotiating = false;  // the server sent handshake messages after the handshake
  SecPkgContext_StreamSizes Sizes{};

  ~TImpl() {
    if (HaveHandle) DeleteSecurityContext(&Handle);
  }

  SEC_CHAR* Target() { return ServerName.empty() ? nullptr : ServerName.data(); }

  enum class TStep { Done, NeedInput, Again };

  // One round of the handshake: the first produces the client's hello, the
  // others take what has arrived. Input keeps what SChannel has not used.
  TStep Step(std::string& Input, std::string& Output) {
    TContextBuffers out;
    ULONG attributes = 0;
    SECURITY_STATUS status;
    if (!HaveHandle) {
      status = InitializeSecurityContextA(&Context->Credentials, nullptr, Target(), kRequest, 0, 0, nullptr, 0, &Handle,
                                          &out.Description, &attributes, nullptr);
      if (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK) HaveHandle = true;
    } else {
      if (Input.empty()) return TStep::NeedInput;
      SecBuffer in[2] = {{static_cast<ULONG>(Input.size()), SECBUFFER_TOKEN, Input.data()},
                         {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
      status = InitializeSecurityContextA(&Context->Credentials, &Handle, Target(), kRequest, 0, 0, &inDescription, 0,
                                          nullptr, &out.Description, &attributes, nullptr);
      if (status == SEC_E_INCOMPLETE_MESSAGE) return TStep::NeedInput;
      // A server that asks for a client certificate gets none: the same
      // input once more tells it so.
      if (status == SEC_I_INCOMPLETE_CREDENTIALS) return TStep::Again;
      if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= Input.size())
        Input.erase(0, Input.size() - in[1].cbBuffer);
      else
        Input.clear();
    }
    out.AppendToken(Output);
    if (status == SEC_E_OK) {
      if (QueryContextAttributesA(&Handle, SECPKG_ATTR_STREAM_SIZES, &Sizes) != SEC_E_OK)
        throw ETlsError(tlsErrHandshake, {TlsReasonText(TTlsReason::NoLibraryReason)});
      return TStep::Done;
    }
    if (status == SEC_I_CONTINUE_NEEDED) return Input.empty() ? TStep::NeedInput : TStep::Again;
    throw ETlsError(tlsErrHandshake, {StatusText(status)});
  }

  // Rounds while there is input to take; true once complete. A handshake
  // has a handful of rounds: one that goes on and on is a failure.
  bool Run(std::string& Input, std::string& Output) {
    for (int round = 0; round < kMaxRounds; ++round) {
      switch (Step(Input, Output)) {
        case TStep::Done:
          return true;
        case TStep::NeedInput:
          return false;
        case TStep::Again:
          break;
      }
    }
    throw ETlsError(tlsErrHandshake, {TlsReasonText(TTlsReason::NoLibraryReason)});
  }
};

TTlsSession::TTlsSession(TTlsContext& Context, const std::string& ServerName) : F(std::make_unique<TImpl>()) {
  F->Context = Context.F;
  F->ServerName = SniName(ServerName);
}

TTlsSession::~TTlsSession() = default;

bool TTlsSession::Handshake(std::string& Input, std::string& Output) { return F->Run(Input, Output); }

void TTlsSession::Encrypt(std::string_view Plain, std::string& Output) {
  const SecPkgContext_StreamSizes& sizes = F->Sizes;
  while (!Plain.empty()) {
    const std::size_t count = Plain.size() < sizes.cbMaximumMessage ? Plain.size() : sizes.cbMaximumMessage;
    std::string record(sizes.cbHeader + count + sizes.cbTrailer, '\0');
    record.replace(sizes.cbHeader, count, Plain.substr(0, count));
    SecBuffer buffers[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                            {static_cast<ULONG>(count), SECBUFFER_DATA, record.data() + sizes.cbHeader},
                            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes.cbHeader + count},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = EncryptMessage(&F->Handle, 0, &description, 0);
    if (status != SEC_E_OK) throw ETlsError(tlsErrConnection, {StatusText(status)});
    Output.append(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    Plain.remove_prefix(count);
  }
}

bool TTlsSession::Decrypt(std::string& Input, std::string& Plain, std::string& Output) {
  while (!Input.empty()) {
    if (F->Renegotiating) {
      if (!F->Run(Input, Output)) return true;
      F->Renegotiating = false;
      continue;
    }
    SecBuffer buffers[4] = {{static_cast<ULONG>(Input.size()), SECBUFFER_DATA, Input.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&F->Handle, &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return true;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
      throw ETlsError(tlsErrConnection, {StatusText(status)});
    // The buffers point into Input, which is decrypted in place.
    std::string rest;
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA && buffer.pvBuffer && buffer.cbBuffer > 0)
        Plain.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
      if (buffer.BufferType == SECBUFFER_EXTRA && buffer.pvBuffer && buffer.cbBuffer > 0)
        rest.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
    }
    Input = std::move(rest);
    if (status == SEC_I_CONTEXT_EXPIRED) return false;
    // Handshake messages after the handshake (a TLS 1.3 session ticket, a
    // renegotiation) are SChannel's to answer.
    if (status == SEC_I_RENEGOTIATE) F->Renegotiating = true;
  }
  return true;
}

void TTlsSession::Close(std::string& Output) noexcept {
  if (!F->HaveHandle) return;
  try {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc description{SECBUFFER_VERSION, 1, &token};
    if (ApplyControlToken(&F->Handle, &description) != SEC_E_OK) return;
    TContextBuffers out;
    ULONG attributes = 0;
    InitializeSecurityContextA(&F->Context->Credentials, &F->Handle, F->Target(), kRequest, 0, 0, nullptr, 0, nullptr,
                               &out.Description, &attributes, nullptr);
    out.AppendToken(Output);
  } catch (...) {
    // Output may be incomplete; the connection is closed all the same.
  }
}

TPeerCertificate TTlsSession::PeerCertificate() {
  PCCERT_CONTEXT certificate = nullptr;
  if (QueryContextAttributesA(&F->Handle, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK || !certificate)
    throw ETlsError(tlsErrHandshake, {TlsReasonText(TTlsReason::NoCertificate)});
  TPeerCertificate facts;
  F->Context->Judge(certificate, facts);
  ReadNames(certificate, facts);
  facts.NotBefore = Seconds(certificate->pCertInfo->NotBefore);
  facts.NotAfter = Seconds(certificate->pCertInfo->NotAfter);
  CertFreeCertificateContext(certificate);
  return facts;
}
