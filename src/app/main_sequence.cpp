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

void SetUnknown(TFrontEnd& State, std::string_view ReasonText) {
  State.Verdict = verdictUnknown;
  State.VerdictText = ReasonText;
}

// Everything before the result line. Both settings are checked even when
// the first is missing, so with neither given the port is what is reported.
// With -srv: the port is the fallback's, which has a default.
void ParseValidateAndCheck(TFrontEnd& State, const TArguments& Arguments, TLineWriter& Out,
                           const TCheckRunner& CheckRunner) {
  ParseCommandLine(State, Arguments);
  if (State.ShowUsage) {
    WriteBanner(Out);
    WriteUsage(Out);
  }
  if (State.Host.empty()) SetUnknown(State, kHostRequired);
  if (State.Port == 0 && !State.Srv) SetUnknown(State, kPortRequired);
  if (State.Verdict != verdictAlive) return;
  CheckRunner(State);
}

// A reason is the server's text as much as ours (an error element, a chunk
// nothing was recognised in), and the monitoring host reads lines: a line
// break in it would end the result line early and let whatever follows pass
// for a line of its own, a forged "ScriptRes:Host is alive" included. Every
// run of CR and LF bytes becomes one space, so the reason stays on its line.
bool IsLineBreak(char Char) { return Char == '\r' || Char == '\n'; }

std::string OnOneLine(const std::string& ReasonText) {
  std::string line;
  line.reserve(ReasonText.size());
  for (size_t i = 0; i < ReasonText.size(); ++i) {
    if (!IsLineBreak(ReasonText[i])) {
      line += ReasonText[i];
    } else if (i == 0 || !IsLineBreak(ReasonText[i - 1])) {
      line += ' ';
    }
  }
  return line;
}

// A server may echo what it was sent, the password included, in an error
// element that becomes the reason; the password never reaches the output.
// Its line-broken forms are looked for too, after OnOneLine.
constexpr std::string_view kRedacted = "***";

std::string Redacted(std::string Text, const std::vector<std::string>& Secrets) {
  for (const std::string& secret : Secrets) {
    if (secret.empty()) continue;
    for (size_t at = Text.find(secret); at != std::string::npos; at = Text.find(secret, at + kRedacted.size()))
      Text.replace(at, secret.size(), kRedacted);
  }
  return Text;
}

std::string Reason(const TFrontEnd& State) {
  std::vector<std::string> secrets = State.Secrets;
  if (State.Password) secrets.push_back(*State.Password);
  for (size_t i = 0, given = secrets.size(); i < given; ++i) secrets.push_back(OnOneLine(secrets[i]));
  return Redacted(OnOneLine(Redacted(State.VerdictText, secrets)), secrets);
}

}  // namespace

std::string ResultLine(const TFrontEnd& State) {
  switch (State.Verdict) {
    case verdictAlive:
      return std::string(kAlivePrefix) + std::to_string(State.ElapsedMs) + std::string(kAliveSuffix);
    case verdictBad:
      return std::string(kBadPrefix) + Reason(State);
    default:
      return std::string(kUnknownPrefix) + Reason(State);
  }
}

int RunMainSequence(TFrontEnd& State, const TArguments& Arguments, TLineWriter& Out,
                    const TCheckRunner& CheckRunner) {
  try {
    ParseValidateAndCheck(State, Arguments, Out, CheckRunner);
  } catch (const std::exception& failure) {
    // The program's own failures and what the standard library throws
    // (exhausted memory, say) count the same.
    SetUnknown(State, MessageOf(failure));
  }
  Out.WriteLine(ResultLine(State));
  return State.Verdict;
}
