// The TLS checks as a monitoring host sees them: settings that make a check
// impossible, the STARTTLS conversation against the scripted server, and
// every verdict on a certificate against Prosody serving throwaway ones.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <thread>
#include <regex>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/loopback.h"
#include "support/program.h"
#include "support/prosody.h"
#include "support/scripted_server.h"
#include "support/test_certificates.h"
#include "support/xmpp_replies.h"

using namespace std::chrono_literals;
using namespace script;
using namespace xmpp_replies;

namespace {

using TArgs = std::vector<std::string>;

constexpr int kWindowsFileNotFound = 2;

const std::string kAlive = "ScriptRes:Host is alive:[0-9]+ ms\r\n";

// Expected output: a whole result line, a line that begins with a text
// ending in "..." (the rest is the system's or the TLS library's and differs
// between platforms), or a regular expression.
void ExpectOutput(const TProgramRun& run, const std::string& expected, int exitCode) {
  const std::string dots = "...";
  if (expected == kAlive) {
    EXPECT_TRUE(std::regex_match(run.Output, std::regex(kAlive))) << run.Output;
  } else if (expected.size() > dots.size() && expected.compare(expected.size() - 3, 3, dots) == 0) {
    const std::string prefix = expected.substr(0, expected.size() - 3);
    EXPECT_EQ(run.Output.substr(0, prefix.size()), prefix) << run.Output;
    EXPECT_GT(run.Output.size(), prefix.size() + 2) << run.Output;
    EXPECT_EQ(run.Output.find_first_of("\r\n"), run.Output.size() - 2) << run.Output;
  } else {
    EXPECT_EQ(run.Output, expected + "\r\n");
  }
  EXPECT_TRUE(run.ExitedWith(exitCode)) << run.ExitCode << " " << run.Output;
}

const std::string kTlsNamespace = "urn:ietf:params:xml:ns:xmpp-tls";
const std::string kFeatures = "<stream:features><starttls xmlns='" + kTlsNamespace +
                              "'><required/></starttls><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
                              "<mechanism>PLAIN</mechanism></mechanisms></stream:features>";
// The end of the stream header that negotiates TLS.
const std::string kVersionedHeaderEnd = "version='1.0'>";
const std::string kProceed = "<proceed xmlns='" + kTlsNamespace + "'/>";
const std::string kStartTls = "<starttls xmlns='" + kTlsNamespace + "'/>";

// The STARTTLS conversation, played after the client's stream header.
struct TStartTlsCase {
  const char* Name;
  TScript Script;
  std::string Timeout;
  std::string Output;
};

class StartTlsTest : public testing::TestWithParam<TStartTlsCase> {};

TEST_P(StartTlsTest, GivesItsResultLine) {
  TScript script{WaitFor(kVersionedHeaderEnd)};
  script.insert(script.end(), GetParam().Script.begin(), GetParam().Script.end());
  TScriptedServer server(script);
  const TProgramRun run = RunTolvane(
      {"-host:localhost", "-port:" + std::to_string(server.Port()), "-timeout:" + GetParam().Timeout, "-tls:starttls"});
  ExpectOutput(run, GetParam().Output, 1);
  EXPECT_LT(run.WallTime, 5000ms);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StartTlsTest,
    testing::Values(
        TStartTlsCase{"FeaturesInPiecesThenNoTls",
                      {Send(kServerHeader), Send(kFeatures.substr(0, 40)), Send(kFeatures.substr(40)),
                       WaitFor(kStartTls), Send(kProceed), WaitBytes(300), Send("<stream:stream>no TLS here\n")},
                      "5000",
                      "ScriptRes:Bad:TLS handshake failed. ..."},
        TStartTlsCase{"NotOffered",
                      {Send(kServerHeader + "<stream:features><mechanisms/></stream:features>"), Silent()},
                      "5000",
                      "ScriptRes:Bad:Server does not offer STARTTLS"},
        TStartTlsCase{"EmptyFeatures",
                      {Send(kServerHeader), Send("<stream:features/>"), Silent()},
                      "5000",
                      "ScriptRes:Bad:Server does not offer STARTTLS"},
        TStartTlsCase{"Refused",
                      {Send(kServerHeader + kFeatures), WaitFor(kStartTls),
                       Send("<failure xmlns='" + kTlsNamespace + "'/>"), Silent()},
                      "5000",
                      "ScriptRes:Bad:Server refused STARTTLS"},
        TStartTlsCase{"StreamErrorFirst",
                      {Send(kServerHeader + kHostUnknown + kStreamClose)},
                      "5000",
                      "ScriptRes:Bad:Invalid recipient or recipient unavailable; " + kHostUnknown},
        // Only a whole stream error is judged; the stream header before it
        // must not pass for an established session.
        TStartTlsCase{"HeaderAndBrokenStreamErrorThenClose",
                      {Send(kServerHeader + "<stream:err></stream:error>"), Close()},
                      "5000",
                      "ScriptRes:Bad:Cannot read data"},
        TStartTlsCase{"SilentBeforeFeatures", {Send(kServerHeader), Silent()}, "300", "ScriptRes:Bad:Cannot read data"},
        TStartTlsCase{"SilentAfterProceed",
                      {Send(kServerHeader + kFeatures), WaitFor(kStartTls), Send(kProceed), Silent()},
                      "500",
                      "ScriptRes:Bad:TLS handshake failed. The server did not answer in time"},
        TStartTlsCase{"ClosedAfterProceed",
                      {Send(kServerHeader + kFeatures), WaitFor(kStartTls), Send(kProceed), WaitBytes(300), Close()},
                      "5000",
                      "ScriptRes:Bad:TLS handshake failed. The server closed the connection"}),
    NameBy(&TStartTlsCase::Name));

// The stream that negotiates TLS names its version, which the plain probe's
// does not; then comes the request, and nothing after a refusal.
TEST(StartTls, AsksWithAVersionedHeader) {
  TScriptedServer server({WaitFor(kVersionedHeaderEnd), Send(kServerHeader + kFeatures), WaitFor(kStartTls),
                          Send("<failure xmlns='" + kTlsNamespace + "'/>"), Silent()});
  RunTolvane({"-host:localhost", "-port:" + std::to_string(server.Port()), "-tls:starttls"});
  ASSERT_TRUE(server.WaitFinished(0, 5s));
  EXPECT_EQ(server.Received(0),
            "<?xml version='1.0' encoding='UTF-8'?><stream:stream to='localhost' xmlns='jabber:client' "
            "xmlns:stream='http://etherx.jabber.org/streams' version='1.0'>" +
                kStartTls);
}

// Settings that make a TLS check impossible: no server is contacted.
TEST(TlsSettings, ImpossibleChecksAreUnknown) {
  const TTestCertificates& certificates = TTestCertificates::Get();
  const std::string damaged = certificates.Folder() + "/damaged.pem";
  std::ofstream(damaged) << "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n-----END CERTIFICATE-----\n";
  const std::string missing = certificates.Folder() + "/missing.pem";
  std::vector<std::pair<TArgs, std::string>> cases = {
      {{"-tls:STARTTLS"}, "Unknown TLS mode \"STARTTLS\": use -tls:starttls or -tls:direct"},
      {{"-tls:"}, "Unknown TLS mode \"\": use -tls:starttls or -tls:direct"},
      {{"-cafile:" + certificates.CaFile()}, "-cafile: and -certdays: apply only with -tls:starttls or -tls:direct"},
      {{"-certdays:30"}, "-cafile: and -certdays: apply only with -tls:starttls or -tls:direct"},
      {{"-tls:direct", "-cafile:"}, "-cafile: names no file"},
      {{"-tls:starttls", "-cafile:" + missing},
       "Cannot read CA file " + missing + ". " + ProgramSystemText(ENOENT, kWindowsFileNotFound)},
      {{"-tls:starttls", "-cafile:" + certificates.Key()},
       "CA file " + certificates.Key() + " holds no PEM certificate"},
      {{"-tls:direct", "-cafile:" + damaged},
       "Cannot read CA file " + damaged + ". It holds a certificate that cannot be decoded"},
  };
  // A -certdays: value that is no whole decimal number is not read as 0.
  for (const std::string days : {"abc", "0x1E", "", "+", "5d", "2147483648"})
    cases.push_back({{"-tls:direct", "-certdays:" + days}, "-certdays: takes a whole number of days, not \"" + days + "\""});
  for (const auto& [args, reason] : cases) {
    TArgs all{"-host:127.0.0.1", "-port:1"};
    all.insert(all.end(), args.begin(), args.end());
    ExpectOutput(RunTolvane(all), "ScriptRes:Unknown:" + reason, 2);
  }
}

// Three servers cover every certificate: STARTTLS on the client port and
// direct TLS on a port of its own serve one certificate each.
enum class TServer { ValidAndExpired, WrongNameAndSoon, NoStartTlsSelfSigned };

TProsodyOptions Options(TServer which) {
  const TTestCertificates& c = TTestCertificates::Get();
  if (which == TServer::NoStartTlsSelfSigned) return {.Certificate = c.SelfSigned(), .Key = c.Key(), .DirectTls = true};
  const bool valid = which == TServer::ValidAndExpired;
  return {.Certificate = valid ? c.Valid() : c.WrongName(),
          .Key = c.Key(),
          .StartTls = true,
          .DirectTls = true,
          .DirectCertificate = valid ? c.Expired() : c.ExpiresSoon()};
}

struct TCertificateCase {
  const char* Name;
  bool DirectPort;     // the direct TLS port rather than the client port
  TArgs Args;          // "{ca}" and "{self}" stand for those files
  std::string Output;  // "{soon}" stands for the end of the short-lived certificate
  int Exit;
  TArgs Environment = {};  // OpenSSL's settings, which a Windows build does not read
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// One server start for all the cases of its certificates.
void CheckAgainst(TServer which, const std::vector<TCertificateCase>& cases) {
  const TTestCertificates& certificates = TTestCertificates::Get();
  TProsodyServer server(Options(which));
  for (const TCertificateCase& c : cases) {
    SCOPED_TRACE(c.Name);
    if (!c.Environment.empty() && ProgramIsWindowsBuild()) continue;
    TArgs args{"-host:localhost", "-port:" + std::to_string(c.DirectPort ? server.DirectTlsPort() : server.Port()),
               "-timeout:10000"};
    for (const std::string& arg : c.Args)
      args.push_back(Replace(Replace(arg, "{ca}", certificates.CaFile()), "{self}", certificates.SelfSigned()));
    TProgramOptions options;
    for (const std::string& setting : c.Environment)
      options.Environment.push_back(Replace(setting, "{trusted}", certificates.TrustedDir()));
    ExpectOutput(RunTolvane(args, options), Replace(c.Output, "{soon}", certificates.ExpiresSoonEnd()), c.Exit);
  }
}

TEST(Certificate, ValidAndExpired) {
  CheckAgainst(
      TServer::ValidAndExpired,
      {{"StartTls", false, {"-tls:starttls", "-cafile:{ca}"}, kAlive, 0},
       {"PlainProbeUnchanged", false, {}, kAlive, 0},
       {"PrivateCaNotInSystemStore", false, {"-tls:starttls"}, "ScriptRes:Bad:Certificate is not trusted. ...", 1},
       {"SystemStoreOfOpenSsl", false, {"-tls:starttls"}, kAlive, 0, {"SSL_CERT_DIR={trusted}", "SSL_CERT_FILE"}},
       {"Expired",
        true,
        {"-tls:direct", "-cafile:{ca}"},
        std::string("ScriptRes:Bad:Certificate has expired (") + TTestCertificates::kExpiredEnd + ")",
        1},
       {"DirectOnAPlainPort", false, {"-tls:direct", "-cafile:{ca}"}, "ScriptRes:Bad:TLS handshake failed. ...", 1}});
}

TEST(Certificate, WrongNameAndExpiringSoon) {
  CheckAgainst(
      TServer::WrongNameAndSoon,
      {{"WrongName", false, {"-tls:starttls", "-cafile:{ca}"}, "ScriptRes:Bad:Certificate does not match localhost", 1},
       {"ExpiresWithinDays",
        true,
        {"-tls:direct", "-cafile:{ca}", "-certdays:4"},
        "ScriptRes:Bad:Certificate expires in 3 days ({soon})",
        1},
       {"ExpiresAfterDays", true, {"-tls:direct", "-cafile:{ca}", "-certdays:+3"}, kAlive, 0},
       // The name checked is the XMPP domain, which is the host unless -domain: names it.
       {"AddressIsNoName",
        true,
        {"-host:127.0.0.1", "-tls:direct", "-cafile:{ca}"},
        "ScriptRes:Bad:Certificate does not match 127.0.0.1",
        1},
       {"DomainOfAnAddress",
        true,
        {"-host:127.0.0.1", "-domain:localhost", "-tls:direct", "-cafile:{ca}"},
        kAlive,
        0},
       // The server picks its certificate by the name sent in lower case.
       {"DomainInCapitals", true, {"-host:127.0.0.1", "-domain:LocalHost", "-tls:direct", "-cafile:{ca}"}, kAlive, 0}});
}

TEST(Certificate, NoStartTlsAndSelfSigned) {
  CheckAgainst(
      TServer::NoStartTlsSelfSigned,
      {{"StartTlsNotOffered",
        false,
        {"-tls:starttls", "-cafile:{ca}"},
        "ScriptRes:Bad:Server does not offer STARTTLS",
        1},
       {"SelfSigned", true, {"-tls:direct", "-cafile:{ca}"}, "ScriptRes:Bad:Certificate is not trusted. ...", 1},
       {"SelfSignedTrustedByItself", true, {"-tls:direct", "-cafile:{self}"}, kAlive, 0}});
}

// A TLS service that is not an XMPP server: the openssl command's test server
// sends an HTTP error with a JSON body as soon as a client connects. Its
// answer must not pass for a live server, however XMPP-like its words.
TEST(TlsService, NotXmppIsBad) {
  const TTestCertificates& certificates = TTestCertificates::Get();
  const std::string answer = certificates.Folder() + "/http-400";
  std::ofstream(answer, std::ios::binary)
      << "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json\r\n\r\n{\"result\": \"jabber:client\"}";
  const std::uint16_t port = loopback::RefusedPort().Port();
  const std::string accept = "127.0.0.1:" + std::to_string(port);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int in = open(answer.c_str(), O_RDONLY), out = open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execlp("openssl", "openssl", "s_server", "-quiet", "-naccept", "1", "-accept", accept.c_str(), "-cert",
           certificates.Valid().c_str(), "-key", certificates.Key().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 200; ++i) {
    const std::vector<std::string> listening = listeners::Of(pid);
    if (std::find(listening.begin(), listening.end(), listeners::Loopback(port)) != listening.end()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  const TProgramRun run = RunTolvane({"-host:localhost", "-port:" + std::to_string(port), "-timeout:5000",
                                      "-tls:direct", "-cafile:" + certificates.CaFile()});
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  ExpectOutput(run,
               "ScriptRes:Bad:Server did not answer with an XMPP stream header; HTTP/1.1 400 Bad Request "
               "Content-Type: application/json {\"result\": \"jabber:client\"}",
               1);
}

}  // namespace
