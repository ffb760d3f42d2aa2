// Fuzz target for the command-line front end: the raw-line splitter, the
// number rule of -port: and -timeout: values (and the strict reader that the
// error classification uses for code values), and ParseCommandLine on the
// split arguments.
//
// The number readers are compared with small models written straight from
// the rule, character by character; the splitter with a model of its own and
// with a round trip (quote every argument, join, split again).
//
// Input: the raw command line; the same bytes are read as a number text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/front_end.h"
#include "app/raw_command_line.h"
#include "fuzz_check.h"
#include "text/number.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int DecDigit(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

// Where a number's digits begin, after leading spaces and a hexadecimal
// prefix or a sign, and which of them was there.
struct TStart {
  std::size_t At;
  bool Hex;
  bool Minus;
};
TStart ReadStart(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size() && t[i] == ' ') ++i;
  if (t.substr(i, 2) == "0x" || t.substr(i, 2) == "0X") return {i + 2, true, false};
  if (i < t.size() && (t[i] == '$' || t[i] == 'x' || t[i] == 'X')) return {i + 1, true, false};
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) return {i + 1, false, t[i] == '-'};
  return {i, false, false};
}

// The number rule as the command line reads it, as a 32-bit pattern.
std::uint32_t ModelReadNumber(std::string_view t) {
  auto [i, hex, minus] = ReadStart(t);
  std::uint32_t value = 0;
  for (; i < t.size(); ++i) {
    const int d = hex ? HexDigit(t[i]) : DecDigit(t[i]);
    if (d < 0) return value;                                  // stopped early: no sign
    if (value > (hex ? 0x0FFFFFFFu : 214748364u)) return value;  // one more digit could overflow
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
  }
  return minus ? 0u - value : value;
}

// The strict reader: the whole text one number, or nothing.
bool ModelTryReadNumber(std::string_view t, std::int32_t& value) {
  auto [i, hex, minus] = ReadStart(t);
  if (i == t.size()) return false;
  unsigned __int128 magnitude = 0;
  for (; i < t.size(); ++i) {
    const int d = hex ? HexDigit(t[i]) : DecDigit(t[i]);
    if (d < 0) return false;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<unsigned>(d);
    if (magnitude > 0xFFFFFFFFu) return false;
  }
  if (hex) {
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    return true;
  }
  const std::int64_t v = minus ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  if (v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool IsSeparator(char c) { return c >= 1 && c <= 32; }

// The splitting rule: separators and empty quote pairs between arguments
// are skipped; quoted stretches keep everything up to the next quote; the
// first argument is the program's path; an empty argument ends the list.
std::vector<std::string> ModelSplit(std::string_view line) {
  const auto zero = line.find('\0');
  if (zero != std::string_view::npos) line = line.substr(0, zero);
  std::vector<std::string> all;
  std::size_t i = 0;
  for (;;) {
    for (;;) {
      if (i < line.size() && IsSeparator(line[i])) {
        ++i;
      } else if (i + 1 < line.size() && line[i] == '"' && line[i + 1] == '"') {
        i += 2;
      } else {
        break;
      }
    }
    std::string argument;
    bool quoted = false;
    while (i < line.size() && (quoted || static_cast<unsigned char>(line[i]) > 32)) {
      if (line[i] == '"') {
        quoted = !quoted;
      } else {
        argument += line[i];
      }
      ++i;
    }
    if (argument.empty()) break;
    all.push_back(argument);
  }
  if (!all.empty()) all.erase(all.begin());
  return all;
}

void CheckNumbers(std::string_view text) {
  FUZZ_CHECK(static_cast<std::uint32_t>(ReadNumber(text)) == ModelReadNumber(text));
  std::int32_t got = 12345;
  std::int32_t want = 12345;
  const bool read = TryReadNumber(text, got);
  FUZZ_CHECK(read == ModelTryReadNumber(text, want));
  FUZZ_CHECK(got == want);  // untouched on failure, equal on success
  // A text the strict reader accepts reads the same by the lenient rule.
  if (read) FUZZ_CHECK(ReadNumber(text) == got);
}

void CheckSplit(std::string_view line) {
  const std::vector<std::string> arguments = SplitCommandLine(line);
  FUZZ_CHECK(arguments == ModelSplit(line));
  std::size_t total = 0;
  for (const std::string& argument : arguments) {
    FUZZ_CHECK(!argument.empty());
    FUZZ_CHECK(argument.find('"') == std::string::npos);
    FUZZ_CHECK(argument.find('\0') == std::string::npos);
    total += argument.size();
  }
  FUZZ_CHECK(total <= line.size());
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

void CheckParse(std::string_view line) {
  const std::vector<std::string> arguments = SplitCommandLine(line);
  TFrontEnd state;
  ParseCommandLine(state, ArgumentsFrom(arguments));
  FUZZ_CHECK(state.Verdict == 0 && state.VerdictText.empty());
  const bool help = arguments.empty() || arguments[0] == "/h" || arguments[0] == "/?" ||
                    arguments[0] == "-h" || arguments[0] == "-?";
  FUZZ_CHECK(state.ShowUsage == help);
  if (help) FUZZ_CHECK(state.Host.empty() && state.Port == 0 && state.Timeout == 0 && state.Domain.empty());
  if (!state.Host.empty()) FUZZ_CHECK(Keyed(arguments, "-host:"));
  if (!state.Domain.empty()) FUZZ_CHECK(Keyed(arguments, "-domain:"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckNumbers(input);
  CheckSplit(input);
  CheckParse(input);
  return 0;
}
