#include "app/check_run.h"

#include <string_view>

namespace {

constexpr std::string_view kCheckNotAvailable = "Check not available";

}  // namespace

// Temporary: the probe does not exist yet. Until the sender work replaces
// this body with the real check, a run that gets this far says so honestly
// rather than claiming an outcome.
void RunCheck(TFrontEnd& state) {
  state.Verdict = 2;
  state.VerdictText = kCheckNotAvailable;
}
