#pragma once
// A second real XMPP server for tests: ejabberd, which offers what the full
// sender needs and Prosody does not (the legacy digest login over passwords
// it can read, offline events). Host "localhost" stores passwords as given,
// kScramHost SCRAM keys as a stock installation does. Everything listens on
// 127.0.0.1 only: clients without TLS, clients that must start TLS first (a
// certificate for both hosts from the tests' CA), server-to-server streams
// (dialback, in the clear), and the Erlang node's control port, so that no
// port mapper (epmd) starts. Its files live in a throwaway folder; the
// package's system instance is never touched. It takes seconds to start, so
// one instance serves all the tests of a test program, stopped by its own
// process id once they are done. A missing or failing ejabberd throws.

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

  // Stops the node and removes the folder.
  ~TEjabberdServer() { Stop(); }
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
  // ejabberd's log and console output so far, for failure messages.
  std::string Log() const;
  // Stops the node: ejabberdctl stop, then a kill of its process id after a
  // bounded wait. Does nothing once stopped.
  void Stop();

 private:
  TEjabberdServer();
  bool StartOnce(std::string& why);
  // ejabberdctl with this instance's folders and `arguments`.
  std::vector<std::string> ControlCommand(const std::vector<std::string>& arguments) const;
  // Runs it as the ejabberd user for a bounded time.
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
