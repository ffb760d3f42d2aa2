#include "support/program.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

std::vector<std::string> g_program_command;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// This process's environment with the option's changes applied.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes) {
  std::map<std::string, std::string> entries;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    entries[text.substr(0, text.find('='))] = text;
  }
  for (const std::string& change : changes) {
    const size_t equals = change.find('=');
    if (equals == std::string::npos)
      entries.erase(change);
    else
      entries[change.substr(0, equals)] = change;
  }
  std::vector<std::string> result;
  for (const auto& [name, entry] : entries) result.push_back(entry);
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// The two ends of the channel standard output goes through: a pipe, or a
// pseudo-terminal set to raw so that the program's bytes arrive unchanged.
struct TOutputChannel {
  int Read = -1;
  int Write = -1;
};

TOutputChannel OpenOutputChannel(bool terminal) {
  if (!terminal) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) Fail("pipe");
    return {ends[0], ends[1]};
  }
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) Fail("pseudo-terminal");
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) Fail("pseudo-terminal slave");
  termios settings{};
  if (tcgetattr(slave, &settings) != 0) Fail("tcgetattr");
  cfmakeraw(&settings);
  if (tcsetattr(slave, TCSANOW, &settings) != 0) Fail("tcsetattr");
  return {master, slave};
}

// Reads what is there; false once the other end is closed.
bool ReadSome(int fd, std::string& into) {
  char buffer[65536];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got > 0) {
    into.append(buffer, static_cast<size_t>(got));
    return true;
  }
  // A pseudo-terminal reports EIO once the last slave is closed.
  return got < 0 && (errno == EINTR || errno == EAGAIN);
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void RecordEnd(TProgramRun& run, int status) {
  if (WIFEXITED(status)) run.ExitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    run.Signalled = true;
    run.Signal = WTERMSIG(status);
  }
}

}  // namespace

TProgramRun RunProgram(const std::vector<std::string>& command,
                       const std::vector<std::string>& arguments,
                       const TProgramOptions& options) {
  if (command.empty()) throw std::runtime_error("no program command given");
  std::vector<std::string> argv_texts = command;
  argv_texts.insert(argv_texts.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env_texts = ChildEnvironment(options.Environment);
  std::vector<char*> argv = Pointers(argv_texts);
  std::vector<char*> envp = Pointers(env_texts);

  TOutputChannel output = OpenOutputChannel(options.OnTerminal);
  int errors[2];
  if (pipe2(errors, O_CLOEXEC) != 0) Fail("pipe");

  const TClock::time_point start = TClock::now();
  const pid_t child = fork();
  if (child < 0) Fail("fork");
  if (child == 0) {
    // Its own process group, so that a kill reaches whatever it started.
    setpgid(0, 0);
    const int null_input = open("/dev/null", O_RDONLY);
    if (null_input >= 0) dup2(null_input, STDIN_FILENO);
    dup2(output.Write, STDOUT_FILENO);
    dup2(errors[1], STDERR_FILENO);
    const TIdentity& as = options.As;
    if (as.Switch && (setgroups(1, &as.Gid) != 0 || setgid(as.Gid) != 0 || setuid(as.Uid) != 0)) _exit(126);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  setpgid(child, child);
  close(output.Write);
  close(errors[1]);

  if (options.ReaderGone) CloseIfOpen(output.Read);

  TProgramRun run;
  int fds[2] = {output.Read, errors[0]};
  std::string* sinks[2] = {&run.Output, &run.Errors};
  const TClock::time_point deadline = start + options.KillAfter;
  int status = 0;
  bool ended = false;
  while (!ended) {
    pollfd watched[2];
    nfds_t count = 0;
    int which[2];
    for (int i = 0; i < 2; ++i)
      if (fds[i] >= 0) {
        watched[count] = {fds[i], POLLIN, 0};
        which[count++] = i;
      }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
    // The child's end is noticed at the latest within one short poll; the
    // pipes' own end may come much later when a grandchild holds them.
    const int wait_ms = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(left.count(), 20)));
    if (poll(watched, count, wait_ms) > 0)
      for (nfds_t i = 0; i < count; ++i)
        if (watched[i].revents && !ReadSome(watched[i].fd, *sinks[which[i]])) CloseIfOpen(fds[which[i]]);
    const pid_t waited = waitpid(child, &status, WNOHANG);
    if (waited == child) {
      ended = true;
    } else if (TClock::now() >= deadline) {
      run.TimedOut = true;
      kill(-child, SIGKILL);
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      ended = true;
    }
  }
  run.WallTime = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start);
  // Whatever the child wrote before it ended is waiting in the channel.
  for (int i = 0; i < 2; ++i) {
    while (fds[i] >= 0) {
      pollfd ready = {fds[i], POLLIN, 0};
      if (poll(&ready, 1, 0) <= 0 || !ReadSome(fds[i], *sinks[i])) CloseIfOpen(fds[i]);
    }
  }
  RecordEnd(run, status);
  return run;
}

void SetProgramCommand(std::string_view spaced) {
  g_program_command.clear();
  size_t at = 0;
  while (at < spaced.size()) {
    const size_t space = spaced.find(' ', at);
    const size_t end = space == std::string_view::npos ? spaced.size() : space;
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
  const std::string_view suffix = ".exe";
  return !command.empty() && command.back().size() > suffix.size() &&
         std::string_view(command.back()).substr(command.back().size() - suffix.size()) == suffix;
}

namespace {

// A tool from beside the Windows program under test, started the same way.
std::vector<std::string> WindowsToolCommand(const std::string& tool, std::string& program) {
  std::vector<std::string> command = ProgramCommand();
  program = command.back();
  if (program[0] != '/') {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) Fail("getcwd");
    program = std::string(cwd) + "/" + program;
    free(cwd);
  }
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
  const TProgramRun run = RunProgram(WindowsToolCommand("tolvane_system_text.exe", program),
                                     {std::to_string(windowsNumber)});
  if (!run.ExitedWith(0)) throw std::runtime_error("no system text for " + std::to_string(windowsNumber));
  std::string text = run.Output;
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}
