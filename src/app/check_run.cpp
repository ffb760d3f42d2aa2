#include "app/check_run.h"

#include <chrono>
#include <memory>

#include "base/base_error.h"
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
