#include "support/ejabberd.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
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

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;
using serverprocess::Slurp;

namespace {

// The Debian package's control script. It must always be given the
// instance's folders: run bare, it starts a port mapper on all interfaces.
constexpr const char* kControlScript = "/usr/sbin/ejabberdctl";
constexpr const char* kHost = "localhost";
// ejabberd takes about five seconds to come up on an idle machine; each
// control command starts an Erlang node of its own, about half a second.
constexpr auto kStartBound = 90s;
constexpr auto kStopBound = 20s;

// 16 random hexadecimal digits: a name no other instance has.
std::string RandomName() {
  std::random_device random;
  char name[17];
  std::snprintf(name, sizeof name, "%08x%08x", random(), random());
  return name;
}

std::set<pid_t> EpmdPids() {
  std::set<pid_t> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") == std::string::npos && Slurp(entry.path() / "comm") == "epmd\n")
      found.insert(std::stoi(name));
  }
  return found;
}

// Who the ejabberd processes run as. The control script runs only as root
// or as the ejabberd user, and as root it would hop to the user through su,
// which starts a session of its own that no signal of ours reaches: so the
// tests take the user's identity themselves.
TIdentity ServiceUser() {
  const passwd* entry = getpwnam("ejabberd");
  if (!entry) throw std::runtime_error("ejabberd is not installed (Debian package ejabberd): no ejabberd user");
  const TIdentity user{getuid() == 0, entry->pw_uid, entry->pw_gid};
  if (!user.Switch && getuid() != user.Uid)
    throw std::runtime_error(
        "the ejabberd tests must run as root or as the ejabberd user: ejabberdctl allows no other");
  return user;
}

// Stops the shared instance once the test program's tests are done, and
// fails the run when it does not stop cleanly or leaves anything behind.
std::unique_ptr<TEjabberdServer> gShared;

class TStopShared : public testing::Environment {
 public:
  void TearDown() override {
    if (!gShared) return;
    const pid_t pid = gShared->Pid();
    const std::vector<uint16_t> ports{gShared->Port(), gShared->TlsPort(), gShared->NodePort()};
    gShared->Stop();
    EXPECT_FALSE(serverprocess::Running(pid)) << "ejabberd still runs as " << pid << "\n" << gShared->Log();
    EXPECT_EQ(gShared->NewEpmds(), std::vector<pid_t>{});
    for (uint16_t left : ports) EXPECT_THROW(loopback::Connect(left), std::runtime_error) << left;
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
  FNode = "tolvane-" + RandomName();
  for (const char* sub : {"spool", "logs", "run"}) fs::create_directory(FFolder / sub);
  std::ofstream(FFolder / "inetrc") << "{lookup, [file]}.\n";  // no name look-up leaves the machine
  // Certificate and key in one file the service user can read.
  const TTestCertificates& certificates = TTestCertificates::Get();
  std::ofstream(FFolder / "server.pem") << Slurp(certificates.Valid()) << Slurp(certificates.Key());
  FEpmdsBefore = EpmdPids();
  serverprocess::StartWithRetries(
      "ejabberd", [this](std::string& why) { return StartOnce(why); }, [this] { Stop(); }, [this] { return Log(); });
}

bool TEjabberdServer::StartOnce(std::string& why) {
  const TIdentity user = ServiceUser();
  const std::vector<uint16_t> ports = serverprocess::FreePorts(4);
  FPort = ports[0];
  FTlsPort = ports[1];
  FNodePort = ports[2];
  FS2sPort = ports[3];
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
                                                     {"FOLDER", FFolder.Path().string()},
                                                     {"COOKIE", RandomName() + RandomName()}});
  fs::remove(FFolder / "run" / "ejabberd.pid");
  if (user.Switch) {
    std::vector<fs::path> paths{FFolder.Path()};
    for (const auto& entry : fs::recursive_directory_iterator(FFolder.Path())) paths.push_back(entry.path());
    for (const fs::path& path : paths)
      if (chown(path.c_str(), user.Uid, user.Gid) != 0)
        throw std::runtime_error("chown " + path.string() + ": " + std::strerror(errno));
  }

  const TCommand command(ControlCommand({"foreground"}), {"HOME=" + FFolder.Path().string()});
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
    if (fork() == 0) ExecChild(command, out, out, user, FFolder.Path().c_str(), false);
    const int wait = pipeEnds[0];  // the only descriptor the guard keeps
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

  for (const auto deadline = TClock::now() + kStartBound; TClock::now() < deadline;) {
    if (waitpid(FGuard, nullptr, WNOHANG) == FGuard) {
      FGuard = -1;
      why = "the node ended at start-up";
      return false;
    }
    const TProgramRun status = Control({"status"});
    if (status.ExitedWith(0) && status.Output.find("started with status: started") != std::string::npos) {
      FPid = std::atoi(Slurp(FFolder / "run" / "ejabberd.pid").c_str());
      if (FPid > 0 && xmpp_replies::StreamAnswer(FPort).find("jabber:client") != std::string::npos) return true;
      why = "started, but no client stream on port " + std::to_string(FPort) + " (pid file: " +
            std::to_string(FPid) + ")";
      return false;
    }
    why = "not started in time; last status: " + status.Output + status.Errors;
    std::this_thread::sleep_for(200ms);
  }
  return false;
}

void TEjabberdServer::Stop() {
  if (serverprocess::Running(FPid)) Control({"stop"});
  serverprocess::Stop(FPid, kStopBound);
  FPid = -1;
  if (FGuardPipe >= 0) close(FGuardPipe);
  FGuardPipe = -1;
  if (FGuard > 0 && !serverprocess::Reap(FGuard, kStopBound)) {
    kill(FGuard, SIGKILL);
    waitpid(FGuard, nullptr, 0);
  }
  FGuard = -1;
}

std::vector<std::string> TEjabberdServer::ControlCommand(const std::vector<std::string>& arguments) const {
  std::vector<std::string> command{kControlScript, "--config-dir", FFolder.Path().string(), "--logs",
                                   (FFolder / "logs").string(), "--spool", (FFolder / "spool").string()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

TProgramRun TEjabberdServer::Control(const std::vector<std::string>& arguments) const {
  // In the instance's folder (the shell changes to it), which is also home.
  TProgramOptions options;
  options.KillAfter = 60s;
  options.As = ServiceUser();
  options.Environment = {"HOME=" + FFolder.Path().string()};
  return RunProgram({"sh", "-c", "cd \"$0\" && exec \"$@\"", FFolder.Path().string()}, ControlCommand(arguments),
                    options);
}

void TEjabberdServer::Register(const std::string& user, const std::string& password, const std::string& host) {
  const std::string account = user + "@" + host;
  if (FUsers.count(account)) return;
  const TProgramRun run = Control({"register", user, host, password});
  if (!run.ExitedWith(0))
    throw std::runtime_error("ejabberdctl register " + account + " failed: " + run.Output + run.Errors);
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
