#include "app/check_run.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <random>
#include <string_view>

#include "base/base_error.h"
#include "base/fill_text.h"
#include "crypto/crypto.h"
#include "net/certificate_check.h"
#include "net/platform.h"
#include "net/srv.h"
#include "net/sync_socket.h"
#include "net/system_error.h"
#include "net/tls_error.h"
#include "net/tls_stream.h"
#include "net/whole_file.h"
#include "text/codepage.h"
#include "text/number.h"
#include "text/utc_time.h"
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
std::int32_t CertDaysOf(const std::string& Value) {
  const std::size_t digits = !Value.empty() && (Value[0] == '-' || Value[0] == '+') ? 1 : 0;
  std::int32_t days = 0;
  if (Value.size() == digits || Value.find_first_not_of("0123456789", digits) != std::string::npos ||
      !TryReadNumber(Value, days))
    throw EBaseError(kBadCertDays + Value + kBadCertDaysEnd);
  return days;
}

// Hands the TLS keys to the probe and has it load the TLS library and the
// trust anchors. Raises when a key cannot be honoured, which the main
// sequence reports as a check that could not be made.
void ApplyTls(const TFrontEnd& State, TJabberSend& Probe) {
  if (!State.Tls) {
    if (State.CaFile || State.CertDays) throw EBaseError(kTlsKeysAlone);
    return;
  }
  for (const TTlsValue& value : kTlsValues)
    if (*State.Tls == value.Text) Probe.TlsMode = value.Mode;
  if (Probe.TlsMode == TTlsMode::None) throw EBaseError(kUnknownTlsMode + *State.Tls + kUnknownTlsModeEnd);
  // The probe reads an empty name as "the system's trust store".
  if (State.CaFile && State.CaFile->empty()) throw EBaseError(kNoCaFile);
  Probe.CaFile = State.CaFile.value_or("");
  Probe.CertDays = State.CertDays ? CertDaysOf(*State.CertDays) : 0;
  Probe.PrepareTls();
}

// The keys of where the server is, each read strictly; a value a key does
// not take names itself in the reason.
constexpr const char* kBadSrv = "-srv: takes yes only, not \"";
constexpr const char* kBadS2s = "-s2s: takes yes only, not \"";
constexpr const char* kBadIp = "-ip: takes 4 or 6 only, not \"";
constexpr const char* kBadDeadline = "-deadline: takes a whole number of milliseconds above 0, not \"";
constexpr const char* kBadValueEnd = "\"";
constexpr const char* kFromAlone = "-from: applies only with -s2s:yes";
constexpr const char* kNotV4 = "-ip:4 excludes the IPv6 address ";
constexpr const char* kNotV6 = "-ip:6 excludes the IPv4 address ";
constexpr const char* kYes = "yes";

// The SRV outcomes that end the check before any connect.
constexpr const char* kNotOffered = "Service not offered (SRV record \".\")";
constexpr const char* kSrvFailed = "SRV look-up failed. ";

// The SRV names and fallback ports, by TLS mode and stream kind.
struct TService {
  const char* Name;
  std::uint16_t Port;
};
constexpr TService kClientService = {"_xmpp-client._tcp.", 5222};
constexpr TService kDirectClientService = {"_xmpps-client._tcp.", 5223};
constexpr TService kServerService = {"_xmpp-server._tcp.", 5269};
constexpr TService kDirectServerService = {"_xmpps-server._tcp.", 5270};

// What the keys of where the server is came to.
struct TPlace {
  bool Srv = false;
  bool S2s = false;
  TFamilies Families = TFamilies::Any;
  std::int32_t DeadlineMs = 0;  // 0: none
};

// yes, given; absent, not; anything else raises naming the key's value.
bool ReadYes(const std::optional<std::string>& Value, const char* Bad) {
  if (!Value) return false;
  if (*Value != kYes) throw EBaseError(Bad + *Value + kBadValueEnd);
  return true;
}

// A whole decimal number above 0 that fits; nothing else, not even a sign.
bool ReadMilliseconds(const std::string& Text, std::int32_t& Value) {
  if (Text.empty() || Text.size() > 10) return false;
  long long value = 0;
  for (char c : Text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value <= 0 || value > 2147483647) return false;
  Value = static_cast<std::int32_t>(value);
  return true;
}

// The host as an address literal of the family -ip: leaves out raises: it
// could never be reached. A name may still have an address of both.
void CheckLiteralFamily(const std::string& Host, TFamilies Families) {
  if (Families == TFamilies::V6Only && netplatform::DottedAddress(Host) != netplatform::kAddressNone)
    throw EBaseError(kNotV6 + Host);
  if (Families == TFamilies::V4Only && Host.find(':') != std::string::npos) throw EBaseError(kNotV4 + Host);
}

TPlace ReadPlace(const TFrontEnd& State) {
  TPlace place;
  place.Srv = ReadYes(State.Srv, kBadSrv);
  place.S2s = ReadYes(State.S2s, kBadS2s);
  if (State.Ip) {
    if (*State.Ip == "4") {
      place.Families = TFamilies::V4Only;
    } else if (*State.Ip == "6") {
      place.Families = TFamilies::V6Only;
    } else {
      throw EBaseError(kBadIp + *State.Ip + kBadValueEnd);
    }
  }
  if (State.Deadline && !ReadMilliseconds(*State.Deadline, place.DeadlineMs))
    throw EBaseError(kBadDeadline + *State.Deadline + kBadValueEnd);
  if (State.From && !place.S2s) throw EBaseError(kFromAlone);
  CheckLiteralFamily(State.Host, place.Families);
  return place;
}

// Where to connect: Host:Port as given, or with -srv: the targets of the
// domain's SRV records, or the domain itself on the fallback port. Sets the
// verdict and returns nothing when the records end the check.
std::vector<TEndpoint> FindEndpoints(TFrontEnd& State, const TPlace& Place, bool DirectTls, const std::string& Domain) {
  if (!Place.Srv) return {{State.Host, State.Port}};
  const TService& service = Place.S2s ? (DirectTls ? kDirectServerService : kServerService)
                                      : (DirectTls ? kDirectClientService : kClientService);
  std::random_device seed;
  std::mt19937 random(seed());
  const TSrvPlan plan = PlanSrv(LookUpSrv(service.Name + Domain), random);
  switch (plan.Kind) {
    case TSrvPlan::TKind::Targets: {
      std::vector<TEndpoint> endpoints;
      for (const TSrvRecord& record : plan.Targets) endpoints.push_back({record.Target, record.Port});
      return endpoints;
    }
    case TSrvPlan::TKind::Fallback:
      return {{Domain, State.Port != 0 ? State.Port : service.Port}};
    case TSrvPlan::TKind::NotOffered:
      State.VerdictText = kNotOffered;
      break;
    case TSrvPlan::TKind::Failed:
      State.VerdictText = kSrvFailed + plan.Reason;
      break;
  }
  State.Verdict = verdictBad;
  return {};
}

// The login keys' texts.
constexpr const char* kLoginKeysAlone = "-password:, -passfile: and -auth: apply only with -user:";
constexpr const char* kNoPassword = "-user: needs -password: or -passfile:";
constexpr const char* kTwoPasswords = "Give -password: or -passfile:, not both";
constexpr const char* kUnknownAuth =
    "Unknown login mechanism \"{}\": use -auth:scram-sha-256, -auth:scram-sha-1, -auth:plain or -auth:legacy";
constexpr const char* kEmptyLocalPart = "Invalid -user: \"{}\": the local part is empty";
constexpr const char* kSlashInUser = "Invalid -user: \"{}\": \"/\" is not allowed";
constexpr const char* kEmptyUserDomain = "Invalid -user: \"{}\": the domain is empty";
constexpr const char* kDomainsDiffer = "-user: names the domain \"{}\" but -domain: names \"{}\"";
constexpr const char* kPassFileUnreadable = "Cannot read the password file \"{}\". {}";
constexpr const char* kPassFileNotRegular = "The password file \"{}\" is not a regular file";
constexpr const char* kPassFileEmpty = "The password file \"{}\" is empty";
constexpr const char* kPassFileTooLarge = "The password file \"{}\" is larger than 4 KiB";

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
      throw EBaseError(FillText(kPassFileUnreadable, {Path, SystemErrorText(error)}));
    case TFileRead::NotRegular:
      throw EBaseError(FillText(kPassFileNotRegular, {Path}));
    case TFileRead::TooLarge:
      throw EBaseError(FillText(kPassFileTooLarge, {Path}));
  }
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
  std::string line = content.substr(0, content.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) throw EBaseError(FillText(kPassFileEmpty, {Path}));
  return line;
}

// The login keys read into the settings of a login check, or the reason
// the check cannot be made.
TLoginSettings LoginSettingsFrom(const TFrontEnd& State) {
  if (!State.User) throw EBaseError(kLoginKeysAlone);
  const std::string& user = *State.User;
  const std::size_t at = user.find('@');
  const std::string local = user.substr(0, at);
  if (local.empty()) throw EBaseError(FillText(kEmptyLocalPart, {user}));
  if (user.find('/') != std::string::npos) throw EBaseError(FillText(kSlashInUser, {user}));
  TLoginSettings settings;
  settings.Domain = State.Domain.empty() ? State.Host : State.Domain;
  if (at != std::string::npos) {
    const std::string domain = user.substr(at + 1);
    if (domain.empty()) throw EBaseError(FillText(kEmptyUserDomain, {user}));
    if (!State.Domain.empty() && !SameDomain(domain, State.Domain))
      throw EBaseError(FillText(kDomainsDiffer, {domain, State.Domain}));
    settings.Domain = State.Domain.empty() ? domain : State.Domain;
  }
  if (!State.Password && !State.PassFile) throw EBaseError(kNoPassword);
  if (State.Password && State.PassFile) throw EBaseError(kTwoPasswords);
  if (State.Auth) {
    settings.Mechanism = TLoginMechanism::Any;
    for (const TAuthValue& value : kAuthValues)
      if (*State.Auth == value.Text) settings.Mechanism = value.Mechanism;
    if (settings.Mechanism == TLoginMechanism::Any) throw EBaseError(FillText(kUnknownAuth, {*State.Auth}));
  }
  settings.UserName = ArgumentToUtf8(local);
  settings.TimeoutMs = State.Timeout > 0 ? State.Timeout : kDefaultLoginTimeout;
  return settings;
}

// The TLS mode a login check uses: STARTTLS unless -tls: says otherwise.
TLoginTls LoginTlsFrom(const TFrontEnd& State) {
  if (!State.Tls) return TLoginTls::StartTls;
  for (const TTlsValue& value : kTlsValues)
    if (*State.Tls == value.Text) return value.Mode == TTlsMode::Direct ? TLoginTls::Direct : TLoginTls::StartTls;
  throw EBaseError(kUnknownTlsMode + *State.Tls + kUnknownTlsModeEnd);
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point Started) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Started).count();
}

// A login on the server-to-server port makes no sense: servers do not log in.
constexpr const char* kLoginOnS2s = "-user: logs in on the client port, not with -s2s:yes";
constexpr const char* kNoAnswerDuring = "No answer in time during ";
constexpr const char* kHandshakeWith = "TLS handshake with ";
constexpr const char* kWith = " with ";

// What the login check waited for when the check's one limit passed, for
// "No answer within <ms> ms (<what>)"; empty when the failure is no wait
// that the limit ended.
std::string WaitEndedByDeadline(const std::exception& Failure, const std::string& Address) {
  const std::string message = MessageOf(Failure);
  if (dynamic_cast<const ELoginError*>(&Failure) && message.rfind(kNoAnswerDuring, 0) == 0)
    return message.substr(std::string_view(kNoAnswerDuring).size()) + kWith + Address;
  const auto* tls = dynamic_cast<const ETlsError*>(&Failure);
  if (tls && tls->Code == tlsErrHandshake) return kHandshakeWith + Address;
  return "";
}

// The login check: the keys are read and the libraries loaded before the
// clock starts, so that the time covers the server alone, from the connect
// to the ping's answer. What cannot be honoured on this side (a key, a
// file, a library) leaves to the main sequence's guard as a check that
// could not be made; what the server does is the result. Where the server
// is and the one limit of the whole check work as for the probe.
void RunLoginCheck(TFrontEnd& State) {
  const TPlace place = ReadPlace(State);
  if (place.S2s) throw EBaseError(kLoginOnS2s);
  const TDeadline deadline(place.DeadlineMs);
  TLoginSettings settings = LoginSettingsFrom(State);
  settings.Tls = LoginTlsFrom(State);
  if (State.CaFile && State.CaFile->empty()) throw EBaseError(kNoCaFile);
  settings.Password = State.Password ? ArgumentToUtf8(*State.Password) : ReadPassFile(*State.PassFile);
  State.Secrets.push_back(settings.Password);
  TTlsContext context(State.CaFile.value_or(""));
  const std::string domain = settings.Domain;
  const std::int32_t certDays = State.CertDays ? CertDaysOf(*State.CertDays) : 0;
  const std::vector<TEndpoint> endpoints = FindEndpoints(State, place, settings.Tls == TLoginTls::Direct, domain);
  if (endpoints.empty()) return;
  const std::int32_t timeout = settings.TimeoutMs;
  // Declared before the check, which talks over it until its Close.
  std::unique_ptr<TTlsStream> tls;
  TLoginCheck check(std::move(settings), [&](TByteStream& plain, std::int32_t wait) -> TByteStream& {
    tls = std::make_unique<TTlsStream>(plain, context, domain);
    tls->Handshake(wait);
    CheckCertificate(tls->PeerCertificate(), domain, NowUtcSeconds(), certDays);
    return *tls;
  });
  TSyncSocket socket(1, true);
  TConnectTrail trail;
  const auto started = std::chrono::steady_clock::now();
  try {
    socket.ConnectToFirst(endpoints, place.Families, deadline, trail);
  } catch (const std::exception& failure) {
    State.Verdict = verdictBad;
    State.VerdictText = MessageOf(failure);
    return;
  }
  // The conversation, and after it the stream's close, get what is left of
  // the one limit when that is less than their own time-out.
  auto limitTime = [&] {
    check.LimitTime(ShorterTimeout(timeout, deadline.Limited() ? std::max(deadline.Next(), 1) : 0));
  };
  limitTime();
  try {
    check.Run(socket);
    State.ElapsedMs = MillisecondsSince(started);
  } catch (const ECryptoError&) {
    check.Close();
    throw;
  } catch (const std::exception& failure) {
    check.Close();
    State.Verdict = verdictBad;
    const std::string what = deadline.Over() ? WaitEndedByDeadline(failure, trail.Address) : "";
    State.VerdictText = what.empty() ? MessageOf(failure) : EDeadlinePassed(deadline.TimeoutMs(), what).Message();
    return;
  }
  limitTime();
  check.Close();
}

}  // namespace

// The time is taken on a monotonic clock: a wall clock can jump (daylight
// saving, a clock correction) in the middle of a check and would report a
// time that is off by an hour or negative. It covers Check alone; closing
// the stream afterwards may wait for the server but is not part of it, and
// neither is loading the TLS library before it.
void RunCheck(TFrontEnd& State) {
  if (State.User || State.Password || State.PassFile || State.Auth) return RunLoginCheck(State);
  // The probe is released on every way out, a failure included, before the
  // failure reaches the main sequence's guard.
  auto probe = std::make_unique<TJabberSend>("", "");
  const TPlace place = ReadPlace(State);
  if (State.Timeout > 0) probe->ResponseTimeout = State.Timeout;
  probe->Domain = State.Domain;
  probe->Server = State.Host;
  probe->Families = place.Families;
  probe->ServerToServer = place.S2s;
  probe->From = State.From.value_or("");
  // The one limit starts before the TLS library is loaded and the SRV
  // look-up is made: the monitoring host waits for those too.
  probe->Deadline = TDeadline(place.DeadlineMs);
  ApplyTls(State, *probe);
  const std::vector<TEndpoint> endpoints =
      FindEndpoints(State, place, probe->TlsMode == TTlsMode::Direct, probe->XmppDomain());
  if (endpoints.empty()) return;
  const auto started = std::chrono::steady_clock::now();
  probe->Check(State.Host, endpoints);
  if (probe->Connected) {
    const std::int64_t elapsed = MillisecondsSince(started);
    probe->CloseSession();
    State.ElapsedMs = elapsed;
  } else {
    State.Verdict = verdictBad;
    State.VerdictText = probe->LastError;
  }
}
