#include "app/raw_command_line.h"

#include "text/trim.h"

namespace {

// Blanks and control bytes separate arguments; bytes from 128 up belong to
// them. The zero byte, which ends the line, never gets this far.
bool IsSeparator(char Char) { return IsBlankOrControl(Char); }

// Skips separators, and empty quote pairs among them, from `At` on.
size_t SkipSeparators(std::string_view Line, size_t At) {
  for (;;) {
    while (At < Line.size() && IsSeparator(Line[At])) ++At;
    if (Line.substr(At, 2) != "\"\"") return At;
    At += 2;
  }
}

// Reads one argument from `At` on and leaves `At` behind it.
std::string ReadArgument(std::string_view Line, size_t& At) {
  std::string argument;
  while (At < Line.size() && !IsSeparator(Line[At])) {
    if (Line[At] != '"') {
      argument += Line[At++];
      continue;
    }
    const size_t close = Line.find('"', At + 1);
    const size_t end = close == std::string_view::npos ? Line.size() : close;
    argument.append(Line.substr(At + 1, end - At - 1));
    At = close == std::string_view::npos ? end : close + 1;
  }
  return argument;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view Line) {
  Line = Line.substr(0, Line.find('\0'));
  std::vector<std::string> arguments;
  size_t at = 0;
  bool program_path = true;
  for (;;) {
    at = SkipSeparators(Line, at);
    std::string argument = ReadArgument(Line, at);
    // Only the end of the line yields an empty argument.
    if (argument.empty()) return arguments;
    if (!program_path) arguments.push_back(std::move(argument));
    program_path = false;
  }
}
