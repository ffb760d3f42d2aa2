#include "support/prosody.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/config_template.h"
#include "support/loopback.h"
#include "support/program.h"
#include "support/xmpp_replies.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace {

// Prosody needs about a second to come up on an idle machine; CI machines
// can be much slower.
constexpr auto kStartBound = 30s;
constexpr auto kStopBound = 5s;
constexpr int kAttempts = 3;

// Finds `name` on PATH; empty when it is not there.
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

// Asks the kernel for a port that is free right now (on ::1 as well, when
// Prosody is to listen there too). Prosody binds it a moment later; should
// another program take it meanwhile, the start is retried with a new one.
uint16_t FreePort(bool ipv6) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    loopback::RefusedPort v4;
    if (!ipv6) return v4.Port();
    try {
      loopback::RefusedPort v6(true, v4.Port());
      return v4.Port();
    } catch (const std::runtime_error&) {
      // Taken on ::1: another one.
    }
  }
  throw std::runtime_error("no port free on both 127.0.0.1 and ::1");
}

// The configuration from the template, with the parts the options ask for.
std::string Configuration(const fs::path& folder, uint16_t port, const TProsodyOptions& options,
                          uint16_t directPort, uint16_t s2sPort) {
  std::set<std::string> parts;
  if (options.Ipv6) parts.insert("WITH_IPV6");
  if (options.LegacyAuth) parts.insert("WITH_LEGACYAUTH");
  if (options.StartTls) parts.insert("WITH_STARTTLS");
  if (!options.Certificate.empty()) parts.insert("WITH_CERTIFICATE");
  if (options.DirectTls) parts.insert("WITH_DIRECT_TLS");
  if (options.DirectTls && !options.DirectCertificate.empty()) parts.insert("WITH_DIRECT_CERTIFICATE");
  if (options.Stock) parts.insert("WITH_STOCK");
  parts.insert(options.S2s ? "WITH_S2S" : "WITH_NO_S2S");
  return configtemplate::Fill("prosody.cfg.lua.in",
                              {{"FOLDER", folder.string()},
                               {"PORT", std::to_string(port)},
                               {"LOG_LEVEL", options.LogStanzas ? "debug" : "info"},
                               {"DIRECT_TLS_PORT", std::to_string(directPort)},
                               {"S2S_PORT", std::to_string(s2sPort)},
                               {"CERTIFICATE", options.Certificate},
                               {"DIRECT_CERTIFICATE", options.DirectCertificate},
                               {"KEY", options.Key}},
                              parts);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TProsodyServer::TProsodyServer(const TProsodyOptions& options) : FOptions(options) {
  std::string program = FindProgram("prosody");
  if (program.empty())
    throw std::runtime_error(
        "Prosody is not installed (Debian package prosody); the real-server tests cannot run");
  char pattern[] = "/tmp/tolvane-prosody-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  FFolder = pattern;
  fs::create_directory(FFolder / "data");
  fs::create_directory(FFolder / "certs");  // spares the log a complaint about a missing folder

  std::string why;
  try {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      if (StartOnce(program, why)) return;
      Stop();
    }
  } catch (const std::runtime_error& failure) {
    Stop();
    why = failure.what();
  }
  std::string log = Log();
  std::error_code ignored;
  fs::remove_all(FFolder, ignored);
  throw std::runtime_error("Prosody did not come up: " + why + "\n" + log);
}

TProsodyServer::~TProsodyServer() {
  Stop();
  std::error_code ignored;
  fs::remove_all(FFolder, ignored);
}

bool TProsodyServer::StartOnce(const std::string& program, std::string& why) {
  FPort = FreePort(FOptions.Ipv6);
  FDirectTlsPort = 0;
  while (FOptions.DirectTls && (FDirectTlsPort == 0 || FDirectTlsPort == FPort))
    FDirectTlsPort = FreePort(FOptions.Ipv6);
  FS2sPort = 0;
  while (FOptions.S2s && (FS2sPort == 0 || FS2sPort == FPort || FS2sPort == FDirectTlsPort))
    FS2sPort = FreePort(FOptions.Ipv6);
  fs::path config = FFolder / "prosody.cfg.lua";
  std::ofstream(config) << Configuration(FFolder, FPort, FOptions, FDirectTlsPort, FS2sPort);
  if (!FRegistered) Register(config);
  fs::path console = FFolder / "console.log";

  FPid = fork();
  if (FPid < 0) {
    why = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (FPid == 0) {
    // A test that crashes must not leave a server behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int out = open(console.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    int in = open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    if (chdir(FFolder.c_str()) != 0) _exit(126);
    execl(program.c_str(), program.c_str(), "-F", "--config", config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }

  // Wait until the port accepts and Prosody answers a stream header; it can
  // shut down again after its listener came up, so check once more after.
  auto deadline = TClock::now() + kStartBound;
  auto exited = [&] {
    int status = 0;
    if (waitpid(FPid, &status, WNOHANG) != FPid) return false;
    why = "Prosody ended at start-up (status " + std::to_string(status) + ")";
    FPid = -1;
    return true;
  };
  while (TClock::now() < deadline) {
    if (exited()) return false;
    try {
      const std::string answer = xmpp_replies::StreamAnswer(FPort);
      if (answer.find("jabber:client") != std::string::npos &&
          answer.find("<stream:error") == std::string::npos) {
        if (FDirectTlsPort != 0) loopback::Connect(FDirectTlsPort);  // throws while it does not accept
        if (FS2sPort != 0) loopback::Connect(FS2sPort);
        std::this_thread::sleep_for(100ms);
        return !exited();
      }
      if (!answer.empty()) {
        why = "Prosody's answer was no usable client stream: " + answer;
        return false;
      }
    } catch (const std::runtime_error&) {
      // Not listening yet.
    }
    std::this_thread::sleep_for(50ms);
  }
  why = "Prosody did not answer on port " + std::to_string(FPort) + " in time";
  return false;
}

void TProsodyServer::Register(const fs::path& config) {
  // Never a bare prosodyctl: without --config it acts on the system's instance.
  const std::string control = FindProgram("prosodyctl");
  for (const auto& [name, password] : FOptions.Users) {
    const TProgramRun run =
        RunProgram({control}, {"--config", config.string(), "register", name, "localhost", password});
    if (!run.ExitedWith(0))
      throw std::runtime_error("prosodyctl register " + name + " failed:\n" + run.Output + run.Errors);
  }
  FRegistered = true;
}

void TProsodyServer::Stop() {
  if (FPid <= 0) return;
  kill(FPid, SIGTERM);
  auto deadline = TClock::now() + kStopBound;
  while (TClock::now() < deadline) {
    if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
      FPid = -1;
      return;
    }
    std::this_thread::sleep_for(20ms);
  }
  kill(FPid, SIGKILL);
  waitpid(FPid, nullptr, 0);
  FPid = -1;
}

std::string TProsodyServer::Log() const {
  return ReadFile(FFolder / "prosody.log") + ReadFile(FFolder / "console.log");
}
