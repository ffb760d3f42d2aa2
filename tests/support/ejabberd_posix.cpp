#include "support/ejabberd.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>

#include "support/config_template.h"
#include "support/loopback.h"
#include "support/test_certificates.h"
#include "support/xmpp_replies.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace {

// The Debian package's control script. It must always be given the
// instance's folders: run bare, it starts a port mapper on all interfaces.
constexpr const char* kControlScript = "/usr/sbin/ejabberdctl";
constexpr const char* kServiceUser = "ejabberd";
constexpr const char* kHost = "localhost";
// ejabberd takes about five seconds to come up on an idle machine; each
// control command starts an Erlang node of its own, about half a second.
constexpr auto kStartBound = 90s;
constexpr auto kCommandBound = 60s;
constexpr auto kStopBound = 20s;
constexpr int kAttempts = 3;

// A port that is free right now; should another program take it before
// ejabberd binds it, the start is retried with new ones.
uint16_t FreePort() { return loopback::RefusedPort().Port(); }

std::string RandomName(std::size_t length) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 pick(seed());
  std::uniform_int_distribution<std::size_t> index(0, sizeof letters - 2);
  std::string name;
  for (std::size_t i = 0; i < length; ++i) name += letters[index(pick)];
  return name;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<pid_t> EpmdPids() {
  std::set<pid_t> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string command = Slurp(entry.path() / "comm");
    if (command == "epmd\n") found.insert(std::stoi(name));
  }
  return found;
}

// Whether process `pid` still runs (a zombie counts as gone).
bool Running(pid_t pid) {
  if (pid <= 0 || kill(pid, 0) != 0) return false;
  const std::string status = Slurp("/proc/" + std::to_string(pid) + "/stat");
  const auto close = status.rfind(')');
  return close == std::string::npos || status.compare(close + 1, 3, " Z ") != 0;
}

// Waits for child `pid` to end, at most `bound`; true when it did.
bool Reap(pid_t pid, std::chrono::milliseconds bound, int* status = nullptr) {
  const auto deadline = TClock::now() + bound;
  for (;;) {
    if (waitpid(pid, status, WNOHANG) == pid) return true;
    if (TClock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

// Who the ejabberd processes run as. The control script runs only as root
// or as that user, and as root it would hop to the user through su, which
// starts a session of its own that no signal of ours reaches: so the tests
// take the user's identity themselves.
struct TServiceUser {
  uid_t Uid = 0;
  gid_t Gid = 0;
  bool Switch = false;  // we run as root and must become the user
};

TServiceUser ServiceUser() {
  const passwd* entry = getpwnam(kServiceUser);
  if (!entry) throw std::runtime_error("ejabberd is not installed (Debian package ejabberd): no ejabberd user");
  TServiceUser user{entry->pw_uid, entry->pw_gid, getuid() == 0};
  if (!user.Switch && getuid() != user.Uid)
    throw std::runtime_error(
        "the ejabberd tests must run as root or as the ejabberd user: ejabberdctl allows no other");
  return user;
}

// Everything a child needs, prepared before fork: after it, only calls that
// are safe in the child of a threaded process may run.
struct TExec {
  std::vector<std::string> Strings;
  std::vector<std::string> EnvironmentStrings;
  std::vector<char*> Argv;
  std::vector<char*> Envp;

  TExec(std::vector<std::string> arguments, const fs::path& home) : Strings(std::move(arguments)) {
    for (char** entry = environ; *entry; ++entry) {
      if (std::strncmp(*entry, "HOME=", 5) != 0) EnvironmentStrings.emplace_back(*entry);
    }
    // Erlang looks for its files in the home folder; the user's own may
    // not be readable to it, and must not be written to.
    EnvironmentStrings.push_back("HOME=" + home.string());
    for (std::string& s : Strings) Argv.push_back(s.data());
    Argv.push_back(nullptr);
    for (std::string& s : EnvironmentStrings) Envp.push_back(s.data());
    Envp.push_back(nullptr);
  }
};

// In the child: output to `out`, no input, no descriptor of the test process
// left open, the service user's identity, then the control script.
[[noreturn]] void ExecAsServiceUser(const TExec& exec, const TServiceUser& user, int out, const char* folder,
                                    bool dieWithParent) {
  dup2(out, 1);
  dup2(out, 2);
  const int in = open("/dev/null", O_RDONLY);
  if (in >= 0) dup2(in, 0);
  close_range(3, ~0U, 0);
  if (chdir(folder) != 0) _exit(126);
  if (user.Switch && (setgroups(1, &user.Gid) != 0 || setgid(user.Gid) != 0 || setuid(user.Uid) != 0)) _exit(126);
  // Set after the change of identity, which clears it.
  if (dieWithParent) prctl(PR_SET_PDEATHSIG, SIGKILL);
  execve(exec.Argv[0], exec.Argv.data(), exec.Envp.data());
  _exit(127);
}

// Stops the shared instance once the test program's tests are done, and
// fails the run when it does not stop cleanly or leaves anything behind.
std::unique_ptr<TEjabberdServer> gShared;

class TStopShared : public testing::Environment {
 public:
  void TearDown() override {
    if (!gShared) return;
    const pid_t pid = gShared->Pid();
    const uint16_t port = gShared->Port();
    const uint16_t tlsPort = gShared->TlsPort();
    const uint16_t nodePort = gShared->NodePort();
    gShared->Stop();
    EXPECT_FALSE(Running(pid)) << "ejabberd still runs as " << pid << "\n" << gShared->Log();
    EXPECT_EQ(gShared->NewEpmds(), std::vector<pid_t>{});
    for (uint16_t left : {port, tlsPort, nodePort})
      EXPECT_THROW(loopback::Connect(left), std::runtime_error) << left;
    gShared.reset();
  }
};

[[maybe_unused]] testing::Environment* const gStopShared = testing::AddGlobalTestEnvironment(new TStopShared);

}  // namespace

TEjabberdServer& TEjabberdServer::Shared() {
  if (!gShared) gShared.reset(new TEjabberdServer);
  return *gShared;
}

TEjabberdServer::TEjabberdServer() {
  if (access(kControlScript, X_OK) != 0)
    throw std::runtime_error("ejabberd is not installed (Debian package ejabberd); the real-server tests cannot run");
  ServiceUser();  // fails early, before anything is made
  char pattern[] = "/tmp/tolvane-ejabberd-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  FFolder = pattern;
  FNode = "tolvane-" + RandomName(8);
  for (const char* sub : {"spool", "logs", "run"}) fs::create_directory(FFolder / sub);
  std::ofstream(FFolder / "inetrc") << "{lookup, [file]}.\n";  // no name look-up leaves the machine
  // The certificate and its key in one file of the folder, which the
  // service user can read.
  const TTestCertificates& certificates = TTestCertificates::Get();
  std::ofstream(FFolder / "server.pem") << Slurp(certificates.Valid()) << Slurp(certificates.Key());
  FEpmdsBefore = EpmdPids();

  std::string why;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (StartOnce(why)) return;
    Stop();
  }
  const std::string log = Log();
  std::error_code ignored;
  fs::remove_all(FFolder, ignored);
  throw std::runtime_error("ejabberd did not come up: " + why + "\n" + log);
}

TEjabberdServer::~TEjabberdServer() {
  Stop();
  std::error_code ignored;
  fs::remove_all(FFolder, ignored);
}

bool TEjabberdServer::StartOnce(std::string& why) {
  const TServiceUser user = ServiceUser();
  FPort = FreePort();
  do FTlsPort = FreePort();
  while (FTlsPort == FPort);
  do FNodePort = FreePort();
  while (FNodePort == FPort || FNodePort == FTlsPort);
  do FS2sPort = FreePort();
  while (FS2sPort == FPort || FS2sPort == FTlsPort || FS2sPort == FNodePort);
  std::ofstream(FFolder / "ejabberd.yml") << configtemplate::Fill(
      "ejabberd.yml.in", {{"HOST", kHost},
                          {"SCRAM_HOST", kScramHost},
                          {"PORT", std::to_string(FPort)},
                          {"TLS_PORT", std::to_string(FTlsPort)},
                          {"S2S_PORT", std::to_string(FS2sPort)},
                          {"CERTFILE", (FFolder / "server.pem").string()}});
  std::ofstream(FFolder / "ejabberdctl.cfg")
      << configtemplate::Fill("ejabberdctl.cfg.in", {{"NODE", FNode + "@" + kHost},
                                                     {"NODE_PORT", std::to_string(FNodePort)},
                                                     {"FOLDER", FFolder.string()},
                                                     {"COOKIE", RandomName(24)}});
  fs::remove(FFolder / "run" / "ejabberd.pid");
  if (user.Switch) {
    std::vector<fs::path> paths{FFolder};
    for (const auto& entry : fs::recursive_directory_iterator(FFolder)) paths.push_back(entry.path());
    for (const fs::path& path : paths) {
      if (chown(path.c_str(), user.Uid, user.Gid) != 0) {
        why = "chown " + path.string() + ": " + std::strerror(errno);
        return false;
      }
    }
  }

  const TExec exec({kControlScript, "--config-dir", FFolder.string(), "--logs", (FFolder / "logs").string(),
                    "--spool", (FFolder / "spool").string(), "foreground"},
                   FFolder);
  const int out = open((FFolder / "console.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  int pipeEnds[2];
  if (out < 0 || pipe2(pipeEnds, O_CLOEXEC) != 0) {
    why = std::string("console log or pipe: ") + std::strerror(errno);
    if (out >= 0) close(out);
    return false;
  }
  // The guard: a child of ours in a process group of its own, which starts
  // the node in that group and then waits for the pipe to close. The pipe
  // closes when we stop the node, or when this process dies however it
  // dies; then the guard kills the whole group, node included.
  FGuard = fork();
  if (FGuard == 0) {
    setpgid(0, 0);
    const pid_t node = fork();
    if (node == 0) ExecAsServiceUser(exec, user, out, FFolder.c_str(), false);
    const int wait = pipeEnds[0];
    if (wait > 3) close_range(3, wait - 1, 0);
    close_range(wait + 1, ~0U, 0);
    char byte;
    while (read(wait, &byte, 1) < 0 && errno == EINTR) {
    }
    kill(0, SIGKILL);
    _exit(0);
  }
  close(out);
  close(pipeEnds[0]);
  FGuardPipe = pipeEnds[1];
  if (FGuard < 0) {
    why = std::string("fork: ") + std::strerror(errno);
    return false;
  }

  const auto deadline = TClock::now() + kStartBound;
  while (TClock::now() < deadline) {
    int status = 0;
    if (waitpid(FGuard, &status, WNOHANG) == FGuard) {
      FGuard = -1;
      why = "the node ended at start-up";
      return false;
    }
    std::string output;
    if (Control({"status"}, output) == 0 && output.find("started with status: started") != std::string::npos) {
      FPid = std::atoi(Slurp(FFolder / "run" / "ejabberd.pid").c_str());
      try {
        if (xmpp_replies::StreamAnswer(FPort).find("jabber:client") != std::string::npos && FPid > 0)
          return true;
      } catch (const std::runtime_error&) {
      }
      why = "started, but no client stream on port " + std::to_string(FPort) + " (pid file: " +
            std::to_string(FPid) + ")";
      return false;
    }
    why = "not started in time; last status: " + output;
    std::this_thread::sleep_for(200ms);
  }
  return false;
}

void TEjabberdServer::Stop() {
  if (FPid > 0 && Running(FPid)) {
    std::string output;
    Control({"stop"}, output);
    const auto deadline = TClock::now() + kStopBound;
    while (Running(FPid) && TClock::now() < deadline) std::this_thread::sleep_for(50ms);
    if (Running(FPid)) kill(FPid, SIGKILL);
  }
  FPid = -1;
  if (FGuardPipe >= 0) close(FGuardPipe);
  FGuardPipe = -1;
  if (FGuard > 0 && !Reap(FGuard, kStopBound)) {
    kill(FGuard, SIGKILL);
    waitpid(FGuard, nullptr, 0);
  }
  FGuard = -1;
}

int TEjabberdServer::Control(const std::vector<std::string>& arguments, std::string& output) const {
  const TServiceUser user = ServiceUser();
  std::vector<std::string> command{kControlScript, "--config-dir", FFolder.string(), "--logs",
                                   (FFolder / "logs").string(), "--spool", (FFolder / "spool").string()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const TExec exec(command, FFolder);
  const fs::path outPath = FFolder / "control.log";
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);  // so that a command that hangs goes down with its Erlang node
    ExecAsServiceUser(exec, user, out, FFolder.c_str(), true);
  }
  close(out);
  if (child < 0) return -1;
  int status = 0;
  if (!Reap(child, kCommandBound, &status)) {
    kill(-child, SIGKILL);
    waitpid(child, nullptr, 0);
    status = -1;
  }
  output = Slurp(outPath);
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void TEjabberdServer::Register(const std::string& user, const std::string& password, const std::string& host) {
  const std::string account = user + "@" + host;
  if (FUsers.count(account)) return;
  std::string output;
  if (Control({"register", user, host, password}, output) != 0)
    throw std::runtime_error("ejabberdctl register " + account + " failed: " + output);
  FUsers.insert(account);
}

std::vector<pid_t> TEjabberdServer::NewEpmds() const {
  std::vector<pid_t> found;
  for (pid_t pid : EpmdPids())
    if (!FEpmdsBefore.count(pid)) found.push_back(pid);
  return found;
}

std::string TEjabberdServer::Log() const {
  return Slurp(FFolder / "logs" / "ejabberd.log") + Slurp(FFolder / "logs" / "error.log") +
         Slurp(FFolder / "console.log");
}
