#include "app/check_run.h"

#include <chrono>
#include <memory>
#include <random>
#include <string_view>

#include "base/base_error.h"
#include "net/platform.h"
#include "net/srv.h"
#include "text/number.h"
#include "xmpp/jabber_send.h"

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

TPlace ReadPlace(const TFrontEnd& state) {
  TPlace place;
  place.Srv = ReadYes(state.Srv, kBadSrv);
  place.S2s = ReadYes(state.S2s, kBadS2s);
  if (state.Ip) {
    if (*state.Ip == "4") {
      place.Families = TFamilies::V4Only;
    } else if (*state.Ip == "6") {
      place.Families = TFamilies::V6Only;
    } else {
      throw EBaseError(kBadIp + *state.Ip + kBadValueEnd);
    }
  }
  if (state.Deadline && !ReadMilliseconds(*state.Deadline, place.DeadlineMs))
    throw EBaseError(kBadDeadline + *state.Deadline + kBadValueEnd);
  if (state.From && !place.S2s) throw EBaseError(kFromAlone);
  CheckLiteralFamily(state.Host, place.Families);
  return place;
}

// Where to connect: Host:Port as given, or with -srv: the targets of the
// domain's SRV records, or the domain itself on the fallback port. Sets the
// verdict and returns nothing when the records end the check.
std::vector<TEndpoint> FindEndpoints(TFrontEnd& state, const TPlace& place, const TJabberSend& probe) {
  if (!place.Srv) return {{state.Host, state.Port}};
  const bool direct = probe.TlsMode == TTlsMode::Direct;
  const TService& service = place.S2s ? (direct ? kDirectServerService : kServerService)
                                      : (direct ? kDirectClientService : kClientService);
  const std::string domain = probe.XmppDomain();
  std::random_device seed;
  std::mt19937 random(seed());
  const TSrvPlan plan = PlanSrv(LookUpSrv(service.Name + domain), random);
  switch (plan.Kind) {
    case TSrvPlan::TKind::Targets: {
      std::vector<TEndpoint> endpoints;
      for (const TSrvRecord& record : plan.Targets) endpoints.push_back({record.Target, record.Port});
      return endpoints;
    }
    case TSrvPlan::TKind::Fallback:
      return {{domain, state.Port != 0 ? state.Port : service.Port}};
    case TSrvPlan::TKind::NotOffered:
      state.VerdictText = kNotOffered;
      break;
    case TSrvPlan::TKind::Failed:
      state.VerdictText = kSrvFailed + plan.Reason;
      break;
  }
  state.Verdict = verdictBad;
  return {};
}

}  // namespace

// The time is taken on a monotonic clock: a wall clock can jump (daylight
// saving, a clock correction) in the middle of a check and would report a
// time that is off by an hour or negative. It covers Check alone; closing
// the stream afterwards may wait for the server but is not part of it, and
// neither is loading the TLS library before it.
void RunCheck(TFrontEnd& state) {
  // The probe is released on every way out, a failure included, before the
  // failure reaches the main sequence's guard.
  auto probe = std::make_unique<TJabberSend>("", "");
  const TPlace place = ReadPlace(state);
  if (state.Timeout > 0) probe->ResponseTimeout = state.Timeout;
  probe->Domain = state.Domain;
  probe->Server = state.Host;
  probe->Families = place.Families;
  probe->ServerToServer = place.S2s;
  probe->From = state.From.value_or("");
  // The one limit starts before the TLS library is loaded and the SRV
  // look-up is made: the monitoring host waits for those too.
  probe->Deadline = TDeadline(place.DeadlineMs);
  ApplyTls(state, *probe);
  const std::vector<TEndpoint> endpoints = FindEndpoints(state, place, *probe);
  if (endpoints.empty()) return;
  const auto started = std::chrono::steady_clock::now();
  probe->Check(state.Host, endpoints);
  if (probe->Connected) {
    const auto elapsed = std::chrono::steady_clock::now() - started;
    probe->CloseSession();
    state.ElapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  } else {
    state.Verdict = verdictBad;
    state.VerdictText = probe->LastError;
  }
}
