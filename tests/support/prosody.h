#pragma once
// A real XMPP server for tests: Prosody, started on a free loopback port with
// a throwaway configuration and data folder that serve one virtual host,
// "localhost", to clients on 127.0.0.1 and nothing else. These tests must
// never be skipped quietly, so a missing or failing Prosody throws.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/server_process.h"

// What a test's Prosody does beyond the plain one.
struct TProsodyOptions {
  // Also listen on ::1, on the same port, and serve the virtual host "::1"
  // too, the domain a probe of that address names.
  bool Ipv6 = false;
  // Also offer the legacy jabber:iq:auth login (module legacyauth).
  bool LegacyAuth = false;
  // Log at debug level, where every stanza received shows in Log().
  bool LogStanzas = false;
  // PEM files of the certificate and its key that TLS serves. (The strings'
  // "{}" lets a designated initializer leave them out without a warning.)
  std::string Certificate{};
  std::string Key{};
  // STARTTLS on the client port (Prosody's mod_tls): without it, Prosody
  // offers no STARTTLS at all.
  bool StartTls = false;
  // TLS from the first byte on a port of its own (DirectTlsPort), with
  // DirectCertificate instead of Certificate when that is given.
  bool DirectTls = false;
  std::string DirectCertificate{};
  // As a stock installation configures it: TLS required before any login
  // (give Certificate and StartTls or DirectTls), ping and roster served.
  bool Stock = false;
  // Accounts on "localhost" (name, password), made with the instance's own
  // prosodyctl before it starts.
  std::vector<std::pair<std::string, std::string>> Users{};
  // Server-to-server streams on a port of their own (S2sPort), with
  // dialback; STARTTLS there too with StartTls.
  bool S2s = false;
};

class TProsodyServer {
 public:
  // Starts Prosody and returns once it answers a client stream header.
  // Throws std::runtime_error, with Prosody's log, when it is not installed
  // or does not come up within a bounded time.
  explicit TProsodyServer(const TProsodyOptions& options = {});
  ~TProsodyServer() { Stop(); }  // by its process id; the folder goes with FFolder
  TProsodyServer(const TProsodyServer&) = delete;
  TProsodyServer& operator=(const TProsodyServer&) = delete;

  uint16_t Port() const { return FPort; }
  uint16_t DirectTlsPort() const { return FDirectTlsPort; }
  uint16_t S2sPort() const { return FS2sPort; }
  pid_t Pid() const { return FPid; }
  std::string Log() const;  // log and console output so far

 private:
  bool StartOnce(std::string& why);
  void Stop();

  TProsodyOptions FOptions;
  serverprocess::TFolder FFolder{"prosody"};
  pid_t FPid = -1;
  uint16_t FPort = 0;
  uint16_t FDirectTlsPort = 0;
  uint16_t FS2sPort = 0;
  bool FRegistered = false;
};
