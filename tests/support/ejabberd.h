#pragma once
// A second real XMPP server for tests: ejabberd, which offers what Prosody
// does not (the legacy digest login over readable passwords, offline events).
// "localhost" stores passwords as given, kScramHost SCRAM keys as a stock
// installation does. It listens on 127.0.0.1 only, the Erlang node's control
// port included so that no port mapper (epmd) starts, from a throwaway folder.
// It takes seconds to start, so one instance serves a whole test program and
// is stopped by its own process id at the end. A missing or failing one throws.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/server_process.h"

class TEjabberdServer {
 public:
  // The instance of this test program, started at first use. Throws
  // std::runtime_error, with ejabberd's log, when ejabberd is not installed,
  // the tests run neither as root nor as the ejabberd user (its control
  // script lets no one else run it), or it does not come up in time.
  static TEjabberdServer& Shared();

  ~TEjabberdServer() { Stop(); }  // the folder goes with FFolder
  TEjabberdServer(const TEjabberdServer&) = delete;
  TEjabberdServer& operator=(const TEjabberdServer&) = delete;

  static constexpr const char* kScramHost = "scram.localhost";

  uint16_t Port() const { return FPort; }          // client connections
  uint16_t TlsPort() const { return FTlsPort; }    // client connections that must start TLS
  uint16_t NodePort() const { return FNodePort; }  // the Erlang node's control port
  uint16_t S2sPort() const { return FS2sPort; }    // server-to-server streams, with dialback
  pid_t Pid() const { return FPid; }                // the Erlang node
  // The epmd processes that run now but did not before the instance started.
  std::vector<pid_t> NewEpmds() const;

  // Registers user@host with `password`, once per account. Throws
  // std::runtime_error when ejabberdctl fails.
  void Register(const std::string& user, const std::string& password, const std::string& host = "localhost");
  std::string Log() const;  // log and console output so far
  // ejabberdctl stop, then a kill of its process id after a bounded wait.
  void Stop();

 private:
  TEjabberdServer();
  bool StartOnce(std::string& why);
  // ejabberdctl with this instance's folders and `arguments`; Control runs it.
  std::vector<std::string> ControlCommand(const std::vector<std::string>& arguments) const;
  TProgramRun Control(const std::vector<std::string>& arguments) const;

  serverprocess::TFolder FFolder{"ejabberd"};
  std::string FNode;
  uint16_t FPort = 0;
  uint16_t FTlsPort = 0;
  uint16_t FNodePort = 0;
  uint16_t FS2sPort = 0;
  pid_t FPid = -1;       // the Erlang node, from its pid file
  pid_t FGuard = -1;     // our child, which takes the node down should this process die
  int FGuardPipe = -1;   // closing it lets the guard end
  std::set<pid_t> FEpmdsBefore;
  std::set<std::string> FUsers;
};
