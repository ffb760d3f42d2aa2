#include "support/prosody.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>
#include <thread>

#include "support/config_template.h"
#include "support/loopback.h"
#include "support/program.h"
#include "support/xmpp_replies.h"

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace {

constexpr const char* kProgram = "/usr/bin/prosody";
// Never a bare prosodyctl: without --config it acts on the system's instance.
constexpr const char* kControl = "/usr/bin/prosodyctl";
constexpr auto kStartBound = 30s;  // about a second on an idle machine

// The configuration from the template, with the parts the options ask for.
std::string Configuration(const std::filesystem::path& folder, const TProsodyOptions& options, uint16_t port,
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

}  // namespace

TProsodyServer::TProsodyServer(const TProsodyOptions& options) : FOptions(options) {
  if (access(kProgram, X_OK) != 0)
    throw std::runtime_error("Prosody is not installed (Debian package prosody); the real-server tests cannot run");
  std::filesystem::create_directory(FFolder / "data");
  std::filesystem::create_directory(FFolder / "certs");  // spares the log a complaint about a missing folder
  serverprocess::StartWithRetries(
      "Prosody", [this](std::string& why) { return StartOnce(why); }, [this] { Stop(); }, [this] { return Log(); });
}

bool TProsodyServer::StartOnce(std::string& why) {
  const std::vector<uint16_t> ports = serverprocess::FreePorts(3, FOptions.Ipv6);
  FPort = ports[0];
  FDirectTlsPort = FOptions.DirectTls ? ports[1] : 0;
  FS2sPort = FOptions.S2s ? ports[2] : 0;
  const std::string config = (FFolder / "prosody.cfg.lua").string();
  std::ofstream(config) << Configuration(FFolder.Path(), FOptions, FPort, FDirectTlsPort, FS2sPort);
  for (const auto& [name, password] : FRegistered ? decltype(FOptions.Users){} : FOptions.Users) {
    const TProgramRun run = RunProgram({kControl}, {"--config", config, "register", name, "localhost", password});
    if (!run.ExitedWith(0))
      throw std::runtime_error("prosodyctl register " + name + " failed:\n" + run.Output + run.Errors);
  }
  FRegistered = true;

  const TCommand command({kProgram, "-F", "--config", config}, {"HOME=" + FFolder.Path().string()});
  const int out = open((FFolder / "console.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  FPid = out < 0 ? -1 : fork();
  if (FPid == 0) ExecChild(command, out, out, {}, FFolder.Path().c_str(), true);
  if (out >= 0) close(out);
  if (FPid < 0) {
    why = std::string("console log or fork: ") + std::strerror(errno);
    return false;
  }

  // Wait until the port accepts and Prosody answers a stream header; it can
  // shut down again after its listener came up, so check once more after.
  const auto exited = [&] {
    int status = 0;
    if (waitpid(FPid, &status, WNOHANG) != FPid) return false;
    why = "Prosody ended at start-up (status " + std::to_string(status) + ")";
    FPid = -1;
    return true;
  };
  for (const auto deadline = TClock::now() + kStartBound; TClock::now() < deadline;) {
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

void TProsodyServer::Stop() {
  serverprocess::Stop(FPid, 5s);
  FPid = -1;
}

std::string TProsodyServer::Log() const {
  return serverprocess::Slurp(FFolder / "prosody.log") + serverprocess::Slurp(FFolder / "console.log");
}
