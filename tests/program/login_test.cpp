// The login check against real servers set up as stock installations set
// them up: every mechanism each server offers, the best one chosen, the
// failures a user sees, and the password kept out of every output. One
// Prosody and the shared ejabberd serve all the cases.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ejabberd.h"
#include "support/program.h"
#include "support/prosody.h"
#include "support/test_certificates.h"

using namespace std::chrono_literals;

namespace {

using TArgs = std::vector<std::string>;

const std::string kAlive = "ScriptRes:Host is alive:[0-9]+ ms\r\n";
// Stands for the mechanisms Prosody offers, whose order changes from one
// start to the next, and which gain SCRAM-SHA-1-PLUS under TLS 1.2.
const std::string kProsodyOffered = "{prosody's mechanisms}";

// A password must reach the server exactly as given: spaces, quotes and
// another key's name stay in it. A double quote cannot pass the Windows
// build's command line, whose splitting drops quotes, so that password comes
// from a file, whose first line ends in CR LF.
const std::string kCommandLinePassword = "pa ss 'quoted' -host:elsewhere";
const std::string kFilePassword = "with \"double\" quotes -port:1";

struct TLoginCase {
  const char* Name;
  TArgs Args;          // after -timeout: and -cafile:
  std::string Output;  // a whole result line without its CR LF, kAlive or kProsodyOffered
  int Exit;
  // ejabberd's log line of the accepted login: "<mechanism> authentication for <account> by"
  std::string Accepted = {};
};

const std::string kWrongPassword = "-password:Wr0ng pass";

// The password a case gives on its command line or in its file.
std::string PasswordOf(const TArgs& args) {
  for (const std::string& arg : args) {
    if (arg.rfind("-password:", 0) == 0) return arg.substr(10);
    if (arg.rfind("-passfile:", 0) == 0) return kFilePassword;
  }
  return {};
}

void ExpectOutput(const TProgramRun& run, const std::string& expected, int exitCode) {
  if (expected == kAlive) {
    EXPECT_TRUE(std::regex_match(run.Output, std::regex(kAlive))) << run.Output;
  } else if (expected == kProsodyOffered) {
    std::smatch offered;
    ASSERT_TRUE(std::regex_match(run.Output, offered,
                                 std::regex("ScriptRes:Bad:No usable login mechanism\\. Offered: (.*)\r\n")))
        << run.Output;
    std::istringstream words(offered[1].str());
    std::vector<std::string> mechanisms{std::istream_iterator<std::string>(words), {}};
    std::erase(mechanisms, "SCRAM-SHA-1-PLUS");
    std::sort(mechanisms.begin(), mechanisms.end());
    EXPECT_EQ(mechanisms, (std::vector<std::string>{"PLAIN", "SCRAM-SHA-1"})) << run.Output;
  } else {
    EXPECT_EQ(run.Output, expected + "\r\n");
  }
  EXPECT_TRUE(run.ExitedWith(exitCode)) << run.ExitCode << " " << run.Output << run.Errors;
}

// Runs every case against `port`, where the certificate of the tests' CA is
// served, and checks that no output holds the case's password.
template <typename TServer>
void CheckAgainst(TServer& server, uint16_t port, const std::vector<TLoginCase>& cases) {
  const TTestCertificates& certificates = TTestCertificates::Get();
  const std::string passfile = certificates.Folder() + "/password.txt";
  std::ofstream(passfile, std::ios::binary) << kFilePassword << "\r\nthe second line is not read\n";
  for (const TLoginCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TArgs args{"-port:" + std::to_string(port), "-timeout:10000", "-cafile:" + certificates.CaFile()};
    for (const std::string& arg : c.Args) args.push_back(arg == "-passfile:" ? arg + passfile : arg);
    const TProgramRun run = RunTolvane(args);
    ExpectOutput(run, c.Output, c.Exit);
    const std::string password = PasswordOf(c.Args);
    EXPECT_EQ((run.Output + run.Errors).find(password), std::string::npos) << run.Output << run.Errors;
    if (!c.Accepted.empty()) {
      // ejabberd writes its log a moment after it answers.
      const std::string line = "Accepted c2s " + c.Accepted;
      const auto deadline = std::chrono::steady_clock::now() + 10s;
      while (server.Log().find(line) == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
      EXPECT_NE(server.Log().find(line), std::string::npos) << line;
    }
  }
}

// Prosody offers PLAIN and SCRAM-SHA-1 after STARTTLS, and answers the two
// mechanisms' failures with texts of their own: the text of a wrong
// password shows which one the check chose.
TEST(Login, Prosody) {
  const TTestCertificates& certificates = TTestCertificates::Get();
  TProsodyServer server({.Certificate = certificates.Valid(),
                         .Key = certificates.Key(),
                         .StartTls = true,
                         .DirectTls = true,
                         .Stock = true,
                         .Users = {{"alice", kCommandLinePassword}, {"bob", kFilePassword}}});
  const std::string password = "-password:" + kCommandLinePassword;
  const std::string scramFailure =
      "ScriptRes:Bad:Login failed. not-authorized: The response provided by the client doesn't match the one we "
      "calculated.";
  CheckAgainst(
      server, server.Port(),
      {{"Best", {"-host:localhost", "-user:alice", password}, kAlive, 0},
       {"ScramSha1", {"-host:localhost", "-user:alice", password, "-auth:scram-sha-1"}, kAlive, 0},
       {"Plain", {"-host:localhost", "-user:alice", password, "-auth:plain"}, kAlive, 0},
       {"PassfileAndAccountDomain", {"-host:127.0.0.1", "-user:bob@localhost", "-passfile:"}, kAlive, 0},
       {"BestIsScramSha1", {"-host:localhost", "-user:alice", kWrongPassword}, scramFailure, 1},
       {"WrongPasswordPlain",
        {"-host:localhost", "-user:alice", kWrongPassword, "-auth:plain"},
        "ScriptRes:Bad:Login failed. not-authorized: Unable to authorize you with the authentication "
        "credentials you've sent.",
        1},
       // Prosody refuses an unknown account at SCRAM's first message, without a text.
       {"UnknownUser", {"-host:localhost", "-user:nobody", password}, "ScriptRes:Bad:Login failed. not-authorized", 1},
       {"NotOffered", {"-host:localhost", "-user:alice", password, "-auth:scram-sha-256"}, kProsodyOffered, 1}});
  CheckAgainst(server, server.DirectTlsPort(),
               {{"DirectTls", {"-host:localhost", "-user:alice", password, "-tls:direct"}, kAlive, 0}});
}

// ejabberd stores the passwords of "localhost" as given and then offers
// SCRAM-SHA-256 and the legacy digest login too; kScramHost stores SCRAM-SHA-1
// keys, as the Debian package's configuration does.
TEST(Login, Ejabberd) {
  TEjabberdServer& server = TEjabberdServer::Shared();
  const std::string scramHost = TEjabberdServer::kScramHost;
  server.Register("carol", "carol's password");
  server.Register("carol", "carol's password", scramHost);
  const TArgs carol{"-user:carol", "-password:carol's password"};
  const TArgs onScramHost{"-host:127.0.0.1", "-domain:" + scramHost};
  const auto with = [](TArgs first, const TArgs& second, const TArgs& third = {}) {
    first.insert(first.end(), second.begin(), second.end());
    first.insert(first.end(), third.begin(), third.end());
    return first;
  };
  const std::string invalid = "ScriptRes:Bad:Login failed. not-authorized: Invalid username or password";
  CheckAgainst(server, server.TlsPort(),
               {{"BestIsScramSha256", with({"-host:localhost"}, carol), kAlive, 0,
                 "SCRAM-SHA-256 authentication for carol@localhost by"},
                {"Legacy", with({"-host:localhost", "-auth:legacy"}, carol), kAlive, 0},
                {"LegacyWrongPassword",
                 {"-host:localhost", "-user:carol", kWrongPassword, "-auth:legacy"},
                 "ScriptRes:Bad:Login failed. not-authorized",
                 1},
                {"UnknownUser", {"-host:localhost", "-user:nobody", "-password:carol's password"}, invalid, 1},
                {"BestOnScramStorage", with(onScramHost, carol), kAlive, 0,
                 "SCRAM-SHA-1 authentication for carol@" + scramHost + " by"},
                {"PlainOnScramStorage", with(onScramHost, carol, {"-auth:plain"}), kAlive, 0,
                 "PLAIN authentication for carol@" + scramHost + " by"},
                {"WrongPassword", with(onScramHost, {"-user:carol", kWrongPassword}), invalid, 1},
                {"NotOffered", with(onScramHost, carol, {"-auth:scram-sha-256"}),
                 "ScriptRes:Bad:No usable login mechanism. Offered: PLAIN SCRAM-SHA-1-PLUS SCRAM-SHA-1 X-OAUTH2", 1}});
}

}  // namespace
