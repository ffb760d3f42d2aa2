#include "app/raw_command_line.h"

#include "text/trim.h"

namespace {

// Blanks and control bytes separate arguments; bytes from 128 up belong to
// them. The zero byte, which ends the line, never gets this far.
bool IsSeparator(char c) { return IsBlankOrControl(c); }

// Skips separators, and empty quote pairs among them, from `at` on.
size_t SkipSeparators(std::string_view line, size_t at) {
  for (;;) {
    while (at < line.size() && IsSeparator(line[at])) ++at;
    if (line.substr(at, 2) != "\"\"") return at;
    at += 2;
  }
}

// Reads one argument from `at` on and leaves `at` behind it.
std::string ReadArgument(std::string_view line, size_t& at) {
  std::string argument;
  while (at < line.size() && !IsSeparator(line[at])) {
    if (line[at] != '"') {
      argument += line[at++];
      continue;
    }
    const size_t close = line.find('"', at + 1);
    const size_t end = close == std::string_view::npos ? line.size() : close;
    argument.append(line.substr(at + 1, end - at - 1));
    at = close == std::string_view::npos ? end : close + 1;
  }
  return argument;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  line = line.substr(0, line.find('\0'));
  std::vector<std::string> arguments;
  size_t at = 0;
  bool program_path = true;
  for (;;) {
    at = SkipSeparators(line, at);
    std::string argument = ReadArgument(line, at);
    // Only the end of the line yields an empty argument.
    if (argument.empty()) return arguments;
    if (!program_path) arguments.push_back(std::move(argument));
    program_path = false;
  }
}
