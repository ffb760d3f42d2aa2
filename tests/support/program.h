#pragma once
// Runs the built program (or a tool, or a server) as a process of its own and
// keeps its output and error bytes, how it ended and how long it took. Past
// its limit the process and its process group are killed.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// How one run ended.
struct TProgramRun {
  std::string Output;       // standard output, byte for byte
  std::string Errors;       // standard error, byte for byte
  int ExitCode = -1;        // when it exited by itself
  bool Signalled = false;   // it died by a signal (a kill for time-out included)
  int Signal = 0;
  bool TimedOut = false;    // it was killed for outliving its limit
  std::chrono::milliseconds WallTime{0};
  bool ExitedWith(int code) const { return !Signalled && !TimedOut && ExitCode == code; }
};

// With Switch (which needs root), a child runs as this user and group.
struct TIdentity {
  bool Switch = false;
  uid_t Uid = 0;
  gid_t Gid = 0;
};

struct TProgramOptions {
  std::chrono::milliseconds KillAfter{30000};
  // Standard output to a pseudo-terminal (raw: no line-end translation)
  // instead of a pipe.
  bool OnTerminal = false;
  // Standard output is a pipe whose reader has gone before the program
  // writes anything.
  bool ReaderGone = false;
  // "NAME=value" entries set, or "NAME" entries removed, on top of this
  // process's environment.
  std::vector<std::string> Environment;
  TIdentity As;
};

// Runs `command` (program and its leading arguments, found on PATH) with
// `arguments` appended. Throws std::runtime_error when it cannot be started.
TProgramRun RunProgram(const std::vector<std::string>& command, const std::vector<std::string>& arguments,
                       const TProgramOptions& options = {});

// A command line and environment (changed as TProgramOptions::Environment
// says) prepared before fork: after it, only calls that are safe in the
// child of a threaded process may run.
struct TCommand {
  TCommand(std::vector<std::string> arguments, const std::vector<std::string>& environment);
  TCommand(const TCommand&) = delete;  // Argv and Envp point into the strings
  std::vector<std::string> Strings, EnvironmentStrings;
  std::vector<char*> Argv, Envp;
};

// In a fork's child: standard output and error to `out` and `errors`, no
// input, no other descriptor of this process, `folder` (unless null) as the
// working folder, the identity, death with this process when
// `dieWithParent`, then the command, found on PATH.
[[noreturn]] void ExecChild(const TCommand& command, int out, int errors, const TIdentity& identity,
                            const char* folder, bool dieWithParent);

// The command that starts the program under test, given to the test program
// as one parameter and split at spaces ("build/tolvane", "wine64
// build-windows/tolvane.exe").
void SetProgramCommand(std::string_view spaced);
const std::vector<std::string>& ProgramCommand();

TProgramRun RunTolvane(const std::vector<std::string>& arguments, const TProgramOptions& options = {});

bool ProgramIsWindowsBuild();  // its file ends in .exe

// Runs a Windows build with `line` as its whole raw command line, its own
// name at the start included, through tolvane_raw_launch.exe beside it.
// Throws std::runtime_error for a build that takes its arguments split.
TProgramRun RunTolvaneRawLine(const std::string& line, const TProgramOptions& options = {});

// The system's description of an error, as the program under test gets it:
// strerror of `posixNumber`, or for a Windows build the message-table text
// of `windowsNumber` on the system it runs on (through tolvane_system_text.exe
// beside it), without the line break at its end.
std::string ProgramSystemText(int posixNumber, int windowsNumber);
