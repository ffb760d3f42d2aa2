// Writes the system's message-table text for an error number, as
// FormatMessageA gives it, so that the whole-program tests, which run
// natively, know what the Windows program should print on the system it
// runs on. Exit code 1 when the system has no text for the number.
//
// Usage: tolvane_system_text NUMBER

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s NUMBER\n", argc > 0 ? argv[0] : "tolvane_system_text");
    return 125;
  }
  const DWORD number = static_cast<DWORD>(std::strtol(argv[1], nullptr, 10));
  char text[512];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, number, 0, text, sizeof text, nullptr);
  if (length == 0) return 1;
  std::fwrite(text, 1, length, stdout);
  return 0;
}
