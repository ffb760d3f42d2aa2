#include "support/program.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

std::vector<std::string> g_program_command;

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

// The reading and the writing end of the channel standard output goes
// through: a pipe, or a pseudo-terminal set to raw so that the program's
// bytes arrive unchanged.
void OpenOutputChannel(bool terminal, int ends[2]) {
  if (!terminal) {
    if (pipe2(ends, O_CLOEXEC) != 0) Fail("pipe");
    return;
  }
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) Fail("pseudo-terminal");
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings{};
  if (slave < 0 || tcgetattr(slave, &settings) != 0) Fail("pseudo-terminal slave");
  cfmakeraw(&settings);
  if (tcsetattr(slave, TCSANOW, &settings) != 0) Fail("tcsetattr");
  ends[0] = master;
  ends[1] = slave;
}

// Reads what is there into `into`; closes `fd` once the other end is closed.
void ReadSome(int& fd, std::string& into) {
  char buffer[65536];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got > 0) {
    into.append(buffer, static_cast<size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {  // a pseudo-terminal ends with EIO
    close(fd);
    fd = -1;
  }
}

}  // namespace

TCommand::TCommand(std::vector<std::string> arguments, const std::vector<std::string>& environment)
    : Strings(std::move(arguments)) {
  std::map<std::string, std::string> entries;
  for (char** entry = environ; *entry; ++entry) entries[std::string(*entry, std::strcspn(*entry, "="))] = *entry;
  for (const std::string& change : environment) {
    if (change.find('=') == std::string::npos)
      entries.erase(change);
    else
      entries[change.substr(0, change.find('='))] = change;
  }
  for (const auto& [name, entry] : entries) EnvironmentStrings.push_back(entry);
  for (std::string& s : Strings) Argv.push_back(s.data());
  Argv.push_back(nullptr);
  for (std::string& s : EnvironmentStrings) Envp.push_back(s.data());
  Envp.push_back(nullptr);
}

void ExecChild(const TCommand& command, int out, int errors, const TIdentity& identity, const char* folder,
               bool dieWithParent) {
  dup2(out, STDOUT_FILENO);
  dup2(errors, STDERR_FILENO);
  const int in = open("/dev/null", O_RDONLY);
  if (in >= 0) dup2(in, STDIN_FILENO);
  close_range(3, ~0U, 0);
  if (folder != nullptr && chdir(folder) != 0) _exit(126);
  if (identity.Switch &&
      (setgroups(1, &identity.Gid) != 0 || setgid(identity.Gid) != 0 || setuid(identity.Uid) != 0))
    _exit(126);
  // Set after the change of identity, which clears it.
  if (dieWithParent) prctl(PR_SET_PDEATHSIG, SIGKILL);
  execvpe(command.Argv[0], command.Argv.data(), command.Envp.data());
  _exit(127);
}

TProgramRun RunProgram(const std::vector<std::string>& command, const std::vector<std::string>& arguments,
                       const TProgramOptions& options) {
  if (command.empty()) throw std::runtime_error("no program command given");
  std::vector<std::string> all = command;
  all.insert(all.end(), arguments.begin(), arguments.end());
  const TCommand prepared(std::move(all), options.Environment);
  int output[2], errors[2];
  OpenOutputChannel(options.OnTerminal, output);
  if (pipe2(errors, O_CLOEXEC) != 0) Fail("pipe");

  const TClock::time_point start = TClock::now();
  const pid_t child = fork();
  if (child < 0) Fail("fork");
  if (child == 0) {
    setpgid(0, 0);  // its own process group, so that a kill reaches whatever it started
    ExecChild(prepared, output[1], errors[1], options.As, nullptr, false);
  }
  setpgid(child, child);
  close(output[1]);
  close(errors[1]);
  if (options.ReaderGone) close(std::exchange(output[0], -1));

  TProgramRun run;
  int fds[2] = {output[0], errors[0]};  // poll passes over a closed one's -1
  std::string* sinks[2] = {&run.Output, &run.Errors};
  int status = 0;
  for (bool ended = false; !ended;) {
    // The child's end is noticed within one short poll; the channels' own
    // end may come much later when a grandchild holds them.
    pollfd watched[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    if (poll(watched, 2, 20) > 0)
      for (int i = 0; i < 2; ++i)
        if (watched[i].revents) ReadSome(fds[i], *sinks[i]);
    ended = waitpid(child, &status, WNOHANG) == child;
    if (!ended && TClock::now() >= start + options.KillAfter) {
      run.TimedOut = true;
      kill(-child, SIGKILL);
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      ended = true;
    }
  }
  run.WallTime = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start);
  // Whatever the child wrote before it ended is waiting in the channels.
  for (int i = 0; i < 2; ++i) {
    pollfd ready{fds[i], POLLIN, 0};
    while (fds[i] >= 0 && poll(&ready, 1, 0) > 0) ReadSome(fds[i], *sinks[i]);
    if (fds[i] >= 0) close(fds[i]);
  }
  if (WIFEXITED(status)) run.ExitCode = WEXITSTATUS(status);
  run.Signalled = WIFSIGNALED(status);
  if (run.Signalled) run.Signal = WTERMSIG(status);
  return run;
}

void SetProgramCommand(std::string_view spaced) {
  g_program_command.clear();
  for (size_t at = 0; at < spaced.size();) {
    const size_t end = std::min(spaced.find(' ', at), spaced.size());
    if (end > at) g_program_command.emplace_back(spaced.substr(at, end - at));
    at = end + 1;
  }
}

const std::vector<std::string>& ProgramCommand() { return g_program_command; }

TProgramRun RunTolvane(const std::vector<std::string>& arguments, const TProgramOptions& options) {
  return RunProgram(ProgramCommand(), arguments, options);
}

bool ProgramIsWindowsBuild() {
  const std::vector<std::string>& command = ProgramCommand();
  return !command.empty() && command.back().size() > 4 &&
         command.back().compare(command.back().size() - 4, 4, ".exe") == 0;
}

namespace {

// A tool from beside the Windows program under test, started the same way;
// `program` learns the program's full path.
std::vector<std::string> WindowsToolCommand(const std::string& tool, std::string& program) {
  std::vector<std::string> command = ProgramCommand();
  program = command.back();
  if (program[0] != '/') program = std::string(std::filesystem::current_path()) + "/" + program;
  command.back() = program.substr(0, program.rfind('/') + 1) + tool;
  return command;
}

}  // namespace

TProgramRun RunTolvaneRawLine(const std::string& line, const TProgramOptions& options) {
  if (!ProgramIsWindowsBuild()) throw std::runtime_error("only a Windows build reads a raw command line");
  std::string program;
  const std::vector<std::string> command = WindowsToolCommand("tolvane_raw_launch.exe", program);
  return RunProgram(command, {program, line}, options);
}

std::string ProgramSystemText(int posixNumber, int windowsNumber) {
  if (!ProgramIsWindowsBuild()) return std::strerror(posixNumber);
  std::string program;
  const TProgramRun run =
      RunProgram(WindowsToolCommand("tolvane_system_text.exe", program), {std::to_string(windowsNumber)});
  if (!run.ExitedWith(0)) throw std::runtime_error("no system text for " + std::to_string(windowsNumber));
  std::string text = run.Output;
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}
