#include "app/main_sequence.h"

#include <exception>
#include <string_view>
#include <vector>

#include "app/usage_text.h"
#include "base/base_error.h"

namespace {

constexpr std::string_view kAlivePrefix = "ScriptRes:Host is alive:";
constexpr std::string_view kAliveSuffix = " ms";
constexpr std::string_view kBadPrefix = "ScriptRes:Bad:";
constexpr std::string_view kUnknownPrefix = "ScriptRes:Unknown:";
constexpr std::string_view kHostRequired = "XMPP Server name is required";
constexpr std::string_view kPortRequired = "Port is required";

void SetUnknown(TFrontEnd& state, std::string_view reason) {
  state.Verdict = verdictUnknown;
  state.VerdictText = reason;
}

// Everything before the result line. Both settings are checked even when
// the first is missing, so with neither given the port is what is reported.
// With -srv: the port is the fallback's, which has a default.
void ParseValidateAndCheck(TFrontEnd& state, const TArguments& arguments, TLineWriter& out,
                           const TCheckRunner& run_check) {
  ParseCommandLine(state, arguments);
  if (state.ShowUsage) {
    WriteBanner(out);
    WriteUsage(out);
  }
  if (state.Host.empty()) SetUnknown(state, kHostRequired);
  if (state.Port == 0 && !state.Srv) SetUnknown(state, kPortRequired);
  if (state.Verdict != verdictAlive) return;
  run_check(state);
}

// A reason is the server's text as much as ours (an error element, a chunk
// nothing was recognised in), and the monitoring host reads lines: a line
// break in it would end the result line early and let whatever follows pass
// for a line of its own, a forged "ScriptRes:Host is alive" included. Every
// run of CR and LF bytes becomes one space, so the reason stays on its line.
bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

std::string OnOneLine(const std::string& reason) {
  std::string line;
  line.reserve(reason.size());
  for (size_t i = 0; i < reason.size(); ++i) {
    if (!IsLineBreak(reason[i])) {
      line += reason[i];
    } else if (i == 0 || !IsLineBreak(reason[i - 1])) {
      line += ' ';
    }
  }
  return line;
}

// A server may echo what it was sent, the password included, in an error
// element that becomes the reason; the password never reaches the output.
// Its line-broken forms are looked for too, after OnOneLine.
constexpr std::string_view kRedacted = "***";

std::string Redacted(std::string text, const std::vector<std::string>& secrets) {
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + kRedacted.size()))
      text.replace(at, secret.size(), kRedacted);
  }
  return text;
}

std::string Reason(const TFrontEnd& state) {
  std::vector<std::string> secrets = state.Secrets;
  if (state.Password) secrets.push_back(*state.Password);
  for (size_t i = 0, given = secrets.size(); i < given; ++i) secrets.push_back(OnOneLine(secrets[i]));
  return Redacted(OnOneLine(Redacted(state.VerdictText, secrets)), secrets);
}

}  // namespace

std::string ResultLine(const TFrontEnd& state) {
  switch (state.Verdict) {
    case verdictAlive:
      return std::string(kAlivePrefix) + std::to_string(state.ElapsedMs) + std::string(kAliveSuffix);
    case verdictBad:
      return std::string(kBadPrefix) + Reason(state);
    default:
      return std::string(kUnknownPrefix) + Reason(state);
  }
}

int RunMainSequence(TFrontEnd& state, const TArguments& arguments, TLineWriter& out,
                    const TCheckRunner& run_check) {
  try {
    ParseValidateAndCheck(state, arguments, out, run_check);
  } catch (const std::exception& failure) {
    // The program's own failures and what the standard library throws
    // (exhausted memory, say) count the same.
    SetUnknown(state, MessageOf(failure));
  }
  out.WriteLine(ResultLine(state));
  return state.Verdict;
}
