#include "app/check_run.h"

#include <chrono>
#include <memory>

#include "xmpp/jabber_send.h"

namespace {

constexpr int32_t kVerdictBad = 1;

}  // namespace

// The time is taken on a monotonic clock: a wall clock can jump (daylight
// saving, a clock correction) in the middle of a check and would report a
// time that is off by an hour or negative. It covers Check alone; closing
// the stream afterwards may wait for the server but is not part of it.
void RunCheck(TFrontEnd& state) {
  // The probe is released on every way out, a failure included, before the
  // failure reaches the main sequence's guard.
  auto probe = std::make_unique<TJabberSend>("", "");
  if (state.Timeout > 0) probe->ResponseTimeout = state.Timeout;
  probe->Domain = state.Domain;
  const auto started = std::chrono::steady_clock::now();
  probe->Check(state.Host, state.Port);
  if (probe->Connected) {
    const auto elapsed = std::chrono::steady_clock::now() - started;
    probe->CloseSession();
    state.ElapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  } else {
    state.Verdict = kVerdictBad;
    state.VerdictText = probe->LastError;
  }
}
