#include "app/console.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <langinfo.h>
#include <unistd.h>

std::vector<std::string> ProgramArguments(int Argc, char* Argv[]) {
  if (Argc < 1) return {};
  return std::vector<std::string>(Argv + 1, Argv + Argc);
}

void PrepareStdOut() { std::signal(SIGPIPE, SIG_IGN); }

bool StdOutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool TerminalUsesUtf8() {
  // Consult the user's locale for its character set only, then put the
  // program's own "C" locale back so nothing else changes behaviour.
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  const std::string saved = current ? current : "C";
  bool utf8 = false;
  if (std::setlocale(LC_CTYPE, "")) {
    const char* codeset = nl_langinfo(CODESET);
    utf8 = codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
  }
  std::setlocale(LC_CTYPE, saved.c_str());
  return utf8;
}

void WriteStdOut(std::string_view Bytes) {
  while (!Bytes.empty()) {
    const ssize_t written = write(STDOUT_FILENO, Bytes.data(), Bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    Bytes.remove_prefix(static_cast<size_t>(written));
  }
}
