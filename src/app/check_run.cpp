#include "app/check_run.h"

#include <cctype>
#include <chrono>
#include <memory>

#include "base/base_error.h"
#include "crypto/crypto.h"
#include "net/certificate_check.h"
#include "net/sync_socket.h"
#include "net/system_error.h"
#include "net/tls_stream.h"
#include "net/whole_file.h"
#include "text/codepage.h"
#include "text/number.h"
#include "xmpp/jabber_send.h"
#include "xmpp/login_check.h"

namespace {

// The -tls: values and what they ask for.
struct TTlsValue {
  const char* Text;
  TTlsMode Mode;
};
constexpr TTlsValue kTlsValues[] = {{"starttls", TTlsMode::StartTls}, {"direct", TTlsMode::Direct}};

// Settings that make a TLS check impossible.
constexpr const char* kUnknownTlsMode = "Unknown TLS mode \"";
constexpr const char* kUnknownTlsModeEnd = "\": use -tls:starttls or -tls:direct";
constexpr const char* kTlsKeysAlone = "-cafile: and -certdays: apply only with -tls:starttls or -tls:direct";
constexpr const char* kNoCaFile = "-cafile: names no file";
constexpr const char* kBadCertDays = "-certdays: takes a whole number of days, not \"";
constexpr const char* kBadCertDaysEnd = "\"";

// A -certdays: value is an optionally signed whole decimal number within 32
// bits, and nothing else: a value read as 0 would switch the expiry check
// off while it seemed to be made.
std::int32_t CertDaysOf(const std::string& value) {
  const std::size_t digits = !value.empty() && (value[0] == '-' || value[0] == '+') ? 1 : 0;
  std::int32_t days = 0;
  if (value.size() == digits || value.find_first_not_of("0123456789", digits) != std::string::npos ||
      !TryReadNumber(value, days))
    throw EBaseError(kBadCertDays + value + kBadCertDaysEnd);
  return days;
}

// Hands the TLS keys to the probe and has it load the TLS library and the
// trust anchors. Raises when a key cannot be honoured, which the main
// sequence reports as a check that could not be made.
void ApplyTls(const TFrontEnd& state, TJabberSend& probe) {
  if (!state.Tls) {
    if (state.CaFile || state.CertDays) throw EBaseError(kTlsKeysAlone);
    return;
  }
  for (const TTlsValue& value : kTlsValues)
    if (*state.Tls == value.Text) probe.TlsMode = value.Mode;
  if (probe.TlsMode == TTlsMode::None) throw EBaseError(kUnknownTlsMode + *state.Tls + kUnknownTlsModeEnd);
  // The probe reads an empty name as "the system's trust store".
  if (state.CaFile && state.CaFile->empty()) throw EBaseError(kNoCaFile);
  probe.CaFile = state.CaFile.value_or("");
  probe.CertDays = state.CertDays ? CertDaysOf(*state.CertDays) : 0;
  probe.PrepareTls();
}

// The login keys' texts.
constexpr const char* kLoginKeysAlone = "-password:, -passfile: and -auth: apply only with -user:";
constexpr const char* kNoPassword = "-user: needs -password: or -passfile:";
constexpr const char* kTwoPasswords = "Give -password: or -passfile:, not both";
constexpr const char* kUnknownAuth = "Unknown login mechanism \"";
constexpr const char* kUnknownAuthEnd =
    "\": use -auth:scram-sha-256, -auth:scram-sha-1, -auth:plain or -auth:legacy";
constexpr const char* kInvalidUser = "Invalid -user: \"";
constexpr const char* kEmptyLocalPart = "\": the local part is empty";
constexpr const char* kSlashInUser = "\": \"/\" is not allowed";
constexpr const char* kEmptyUserDomain = "\": the domain is empty";
constexpr const char* kDomainsDiffer = "-user: names the domain \"";
constexpr const char* kDomainsDifferMiddle = "\" but -domain: names \"";
constexpr const char* kPassFile = "The password file \"";
constexpr const char* kPassFileUnreadable = "Cannot read the password file \"";
constexpr const char* kPassFileUnreadableEnd = "\". ";
constexpr const char* kPassFileNotRegular = "\" is not a regular file";
constexpr const char* kPassFileEmpty = "\" is empty";
constexpr const char* kPassFileTooLarge = "\" is larger than 4 KiB";

constexpr std::size_t kMaxPassFileBytes = 4096;
constexpr std::int32_t kDefaultLoginTimeout = 60000;

// The -auth: values and what they ask for; case-sensitive.
struct TAuthValue {
  const char* Text;
  TLoginMechanism Mechanism;
};
constexpr TAuthValue kAuthValues[] = {
    {"scram-sha-256", TLoginMechanism::ScramSha256},
    {"scram-sha-1", TLoginMechanism::ScramSha1},
    {"plain", TLoginMechanism::Plain},
    {"legacy", TLoginMechanism::Legacy},
};

bool SameDomain(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(A[i])) != std::tolower(static_cast<unsigned char>(B[i]))) return false;
  return true;
}

// The password file's first line without its line end. A UTF-8 byte order
// mark, which some editors put at the start of a file, is no part of it.
std::string ReadPassFile(const std::string& Path) {
  std::string content;
  std::int32_t error = 0;
  switch (ReadWholeFile(Path, kMaxPassFileBytes, content, error)) {
    case TFileRead::Done:
      break;
    case TFileRead::SystemError:
      throw EBaseError(kPassFileUnreadable + Path + kPassFileUnreadableEnd + SystemErrorText(error));
    case TFileRead::NotRegular:
      throw EBaseError(kPassFile + Path + kPassFileNotRegular);
    case TFileRead::TooLarge:
      throw EBaseError(kPassFile + Path + kPassFileTooLarge);
  }
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
  std::string line = content.substr(0, content.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) throw EBaseError(kPassFile + Path + kPassFileEmpty);
  return line;
}

// The login keys read into the settings of a login check, or the reason
// the check cannot be made.
TLoginSettings LoginSettingsFrom(const TFrontEnd& state) {
  if (!state.User) throw EBaseError(kLoginKeysAlone);
  const std::string& user = *state.User;
  const std::size_t at = user.find('@');
  const std::string local = user.substr(0, at);
  if (local.empty()) throw EBaseError(kInvalidUser + user + kEmptyLocalPart);
  if (user.find('/') != std::string::npos) throw EBaseError(kInvalidUser + user + kSlashInUser);
  TLoginSettings settings;
  settings.Domain = state.Domain.empty() ? state.Host : state.Domain;
  if (at != std::string::npos) {
    const std::string domain = user.substr(at + 1);
    if (domain.empty()) throw EBaseError(kInvalidUser + user + kEmptyUserDomain);
    if (!state.Domain.empty() && !SameDomain(domain, state.Domain))
      throw EBaseError(kDomainsDiffer + domain + kDomainsDifferMiddle + state.Domain + "\"");
    settings.Domain = state.Domain.empty() ? domain : state.Domain;
  }
  if (!state.Password && !state.PassFile) throw EBaseError(kNoPassword);
  if (state.Password && state.PassFile) throw EBaseError(kTwoPasswords);
  if (state.Auth) {
    settings.Mechanism = TLoginMechanism::Any;
    for (const TAuthValue& value : kAuthValues)
      if (*state.Auth == value.Text) settings.Mechanism = value.Mechanism;
    if (settings.Mechanism == TLoginMechanism::Any) throw EBaseError(kUnknownAuth + *state.Auth + kUnknownAuthEnd);
  }
  settings.UserName = ArgumentToUtf8(local);
  settings.TimeoutMs = state.Timeout > 0 ? state.Timeout : kDefaultLoginTimeout;
  return settings;
}

// The TLS mode a login check uses: STARTTLS unless -tls: says otherwise.
TLoginTls LoginTlsFrom(const TFrontEnd& state) {
  if (!state.Tls) return TLoginTls::StartTls;
  for (const TTlsValue& value : kTlsValues)
    if (*state.Tls == value.Text) return value.Mode == TTlsMode::Direct ? TLoginTls::Direct : TLoginTls::StartTls;
  throw EBaseError(kUnknownTlsMode + *state.Tls + kUnknownTlsModeEnd);
}

std::int64_t NowUtc() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point started) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
}

// The login check: the keys are read and the libraries loaded before the
// clock starts, so that the time covers the server alone, from the connect
// to the ping's answer. What cannot be honoured on this side (a key, a
// file, a library) leaves to the main sequence's guard as a check that
// could not be made; what the server does is the result.
void RunLoginCheck(TFrontEnd& state) {
  TLoginSettings settings = LoginSettingsFrom(state);
  settings.Tls = LoginTlsFrom(state);
  if (state.CaFile && state.CaFile->empty()) throw EBaseError(kNoCaFile);
  settings.Password = state.Password ? ArgumentToUtf8(*state.Password) : ReadPassFile(*state.PassFile);
  state.Secrets.push_back(settings.Password);
  TTlsContext context(state.CaFile.value_or(""));
  const std::string domain = settings.Domain;
  const std::int32_t certDays = state.CertDays ? CertDaysOf(*state.CertDays) : 0;
  // Declared before the check, which talks over it until its Close.
  std::unique_ptr<TTlsStream> tls;
  TLoginCheck check(std::move(settings), [&](TByteStream& plain, std::int32_t timeout) -> TByteStream& {
    tls = std::make_unique<TTlsStream>(plain, context, domain);
    tls->Handshake(timeout);
    CheckCertificate(tls->PeerCertificate(), domain, NowUtc(), certDays);
    return *tls;
  });
  TSyncSocket socket(1, true);
  const auto started = std::chrono::steady_clock::now();
  try {
    socket.Connect(state.Host, state.Port, 0);
    check.Run(socket);
    state.ElapsedMs = MillisecondsSince(started);
  } catch (const ECryptoError&) {
    check.Close();
    throw;
  } catch (const std::exception& failure) {
    check.Close();
    state.Verdict = verdictBad;
    state.VerdictText = MessageOf(failure);
    return;
  }
  check.Close();
}

}  // namespace

// The time is taken on a monotonic clock: a wall clock can jump (daylight
// saving, a clock correction) in the middle of a check and would report a
// time that is off by an hour or negative. It covers Check alone; closing
// the stream afterwards may wait for the server but is not part of it, and
// neither is loading the TLS library before it.
void RunCheck(TFrontEnd& state) {
  if (state.User || state.Password || state.PassFile || state.Auth) return RunLoginCheck(state);
  // The probe is released on every way out, a failure included, before the
  // failure reaches the main sequence's guard.
  auto probe = std::make_unique<TJabberSend>("", "");
  if (state.Timeout > 0) probe->ResponseTimeout = state.Timeout;
  probe->Domain = state.Domain;
  ApplyTls(state, *probe);
  const auto started = std::chrono::steady_clock::now();
  probe->Check(state.Host, state.Port);
  if (probe->Connected) {
    const auto elapsed = std::chrono::steady_clock::now() - started;
    probe->CloseSession();
    state.ElapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  } else {
    state.Verdict = verdictBad;
    state.VerdictText = probe->LastError;
  }
}
