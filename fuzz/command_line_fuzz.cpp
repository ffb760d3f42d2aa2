// Fuzz target for the command-line front end: the raw-line splitter, the
// number rule of -port: and -timeout: values (and the strict reader that the
// error classification uses for code values), ParseCommandLine on the split
// arguments, and the main sequence around them.
//
// What must hold for any line, rather than a second copy of the rules: the
// two number readers agree where both read, and what they give reads back
// the same written out; the splitter's arguments hold no quote and read back
// the same quoted; the settings parsed read back the same as arguments of
// their own; a run writes one result line, last, and exits with its verdict.
//
// Input: the raw command line; the same bytes are read as a number text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/front_end.h"
#include "app/main_sequence.h"
#include "app/raw_command_line.h"
#include "fuzz_check.h"
#include "text/number.h"

namespace {

void CheckNumbers(std::string_view text) {
  const std::int32_t lenient = ReadNumber(text);
  // Leading spaces change nothing.
  FUZZ_CHECK(ReadNumber(" " + std::string(text)) == lenient);
  // Any value read, written in decimal or as its 32-bit pattern in
  // hexadecimal, reads back as itself by both readers.
  char hex[16];
  std::snprintf(hex, sizeof hex, "$%X", static_cast<unsigned>(lenient));
  for (const std::string& written : {std::to_string(lenient), std::string(hex)}) {
    FUZZ_CHECK(ReadNumber(written) == lenient);
    std::int32_t back = 0;
    FUZZ_CHECK(TryReadNumber(written, back) && back == lenient);
  }
  // The strict reader leaves the value alone unless it reads the whole
  // text, and what it reads the lenient rule reads the same.
  std::int32_t strict = 12345;
  if (TryReadNumber(text, strict)) {
    FUZZ_CHECK(strict == lenient);
  } else {
    FUZZ_CHECK(strict == 12345);
  }
}

void CheckSplit(std::string_view line) {
  const std::vector<std::string> arguments = SplitCommandLine(line);
  std::size_t total = 0;
  for (const std::string& argument : arguments) {
    FUZZ_CHECK(!argument.empty());
    FUZZ_CHECK(argument.find('"') == std::string::npos);
    FUZZ_CHECK(argument.find('\0') == std::string::npos);
    total += argument.size();
  }
  FUZZ_CHECK(total <= line.size());
  // The line ends at its first zero byte.
  FUZZ_CHECK(SplitCommandLine(line.substr(0, line.find('\0'))) == arguments);
  // Quoting every argument whole and joining them gives the same list back.
  std::string joined = "tolvane";
  for (const std::string& argument : arguments) joined += " \"" + argument + "\"";
  FUZZ_CHECK(SplitCommandLine(joined) == arguments);
}

// Whether some argument that begins with "-" holds the key.
bool Keyed(const std::vector<std::string>& arguments, const std::string& key) {
  for (const std::string& argument : arguments)
    if (argument[0] == '-' && argument.find(key) != std::string::npos) return true;
  return false;
}

TFrontEnd Parse(const std::vector<std::string>& arguments) {
  TFrontEnd state;
  ParseCommandLine(state, ArgumentsFrom(arguments));
  return state;
}

void CheckParse(std::string_view line) {
  const std::vector<std::string> arguments = SplitCommandLine(line);
  const TFrontEnd state = Parse(arguments);
  FUZZ_CHECK(state.Verdict == verdictAlive && state.VerdictText.empty());
  const bool help = arguments.empty() || arguments[0] == "/h" || arguments[0] == "/?" ||
                    arguments[0] == "-h" || arguments[0] == "-?";
  FUZZ_CHECK(state.ShowUsage == help);
  if (help) FUZZ_CHECK(state.Host.empty() && state.Port == 0 && state.Timeout == 0 && state.Domain.empty());
  if (!state.Host.empty()) FUZZ_CHECK(Keyed(arguments, "-host:"));
  if (!state.Domain.empty()) FUZZ_CHECK(Keyed(arguments, "-domain:"));
  // The settings, given as arguments of their own, read back the same.
  const TFrontEnd again = Parse({"-host:" + state.Host, "-port:" + std::to_string(state.Port),
                                 "-timeout:" + std::to_string(state.Timeout)});
  FUZZ_CHECK(again.Host == state.Host && again.Port == state.Port && again.Timeout == state.Timeout);
}

// Keeps the lines a run writes.
class TLines : public TLineWriter {
 public:
  std::vector<std::string> Lines;
  void WriteLine(std::string_view bytes) override { Lines.emplace_back(bytes); }
};

void CheckRun(std::string_view line) {
  // The check stands in for the server: its outcome comes from the input,
  // the reason is the input itself, line breaks and all.
  const auto check = [line](TFrontEnd& state) {
    state.Verdict = static_cast<TVerdict>(line.size() % 3);
    state.VerdictText = std::string(line);
    state.ElapsedMs = static_cast<std::int64_t>(line.size());
  };
  TFrontEnd state;
  TLines out;
  const int exitCode = RunMainSequence(state, ArgumentsFrom(SplitCommandLine(line)), out, check);
  FUZZ_CHECK(exitCode >= 0 && exitCode <= 2 && exitCode == state.Verdict);
  FUZZ_CHECK(out.Lines.size() == 1 || state.ShowUsage);
  std::size_t results = 0;
  for (const std::string& written : out.Lines) {
    FUZZ_CHECK(written.find_first_of("\r\n") == std::string::npos);
    results += fuzz::StartsWith(written, "ScriptRes:");
  }
  FUZZ_CHECK(results == 1 && fuzz::StartsWith(out.Lines.back(), "ScriptRes:"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckNumbers(input);
  CheckSplit(input);
  CheckParse(input);
  CheckRun(input);
  return 0;
}
