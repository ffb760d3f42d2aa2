// The console on Windows: one raw command line, split by the program's own
// rules, and standard output through its handle.

#include "app/console.h"

#include <windows.h>

#include <algorithm>

#include "app/raw_command_line.h"

std::vector<std::string> ProgramArguments(int, char*[]) {
  // The C runtime's argv follows other quoting rules (backslash escapes);
  // the program reads the line as it was typed.
  const char* line = GetCommandLineA();
  return SplitCommandLine(line != nullptr ? line : "");
}

// A reader that has gone away makes WriteFile fail; nothing ends the process.
void PrepareStdOut() {}

bool StdOutIsTerminal() { return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR; }

// The console shows the bytes in its own code page, which draws the banner's
// box as it is: the bytes go out unchanged.
bool TerminalUsesUtf8() { return false; }

void WriteStdOut(std::string_view Bytes) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  while (!Bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(Bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(out, Bytes.data(), chunk, &written, nullptr) || written == 0) return;
    Bytes.remove_prefix(written);
  }
}
