// Starts a Windows program with exactly the command line it is given, and
// ends with the program's exit code. Wine builds a program's command line
// from Unix arguments with quoting of its own, so a test that needs a
// particular raw line (quotes, tabs) starts the program through this.
//
// Usage: tolvane_raw_launch PROGRAM-FILE "COMMAND LINE"
// PROGRAM-FILE may be a Unix path; the command line is passed unchanged,
// the program's own name at its start included.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Wine shows the Unix file system as drive Z:.
std::string WindowsPath(std::string path) {
  if (path.empty() || path[0] != '/') return path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PROGRAM-FILE \"COMMAND LINE\"\n", argc > 0 ? argv[0] : "tolvane_raw_launch");
    return 125;
  }
  const std::string file = WindowsPath(argv[1]);
  std::string line = argv[2];

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(file.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot start %s: error %lu\n", file.c_str(), GetLastError());
    return 126;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 126;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}
