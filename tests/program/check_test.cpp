// The whole check as a monitoring host sees it: the program probes the
// scripted server (or nothing at all) and must print exactly one result line
// and exit with its verdict, within its time-out.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/loopback.h"
#include "support/program.h"
#include "support/scripted_server.h"
#include "support/xmpp_replies.h"

using namespace std::chrono_literals;
using namespace script;
using namespace xmpp_replies;

namespace {

using TArgs = std::vector<std::string>;

TArgs Probe(uint16_t port, const std::string& timeout = "5000") {
  return {"-host:127.0.0.1", "-port:" + std::to_string(port), "-timeout:" + timeout};
}

// The milliseconds of an alive line, or -1 when the output is not exactly one.
long long AliveMs(const std::string& output) {
  static const std::regex alive("ScriptRes:Host is alive:([0-9]+) ms\r\n");
  std::smatch match;
  return std::regex_match(output, match, alive) ? std::stoll(match[1]) : -1;
}

// True when `output` is `prefix` followed by a non-empty rest of one line.
bool OneLineAfter(const std::string& output, const std::string& prefix) {
  if (output.compare(0, prefix.size(), prefix) != 0 || output.size() < prefix.size() + 3) return false;
  const std::string rest = output.substr(prefix.size(), output.size() - prefix.size() - 2);
  return output.substr(output.size() - 2) == "\r\n" && rest.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

TEST(Check, AnsweringServerIsAliveAndHearsTheHeaderAndTheStreamClose) {
  TScriptedServer server(PoliteServer());
  const TProgramRun run = RunTolvane(Probe(server.Port()));
  EXPECT_GE(AliveMs(run.Output), 0) << run.Output;
  EXPECT_TRUE(run.ExitedWith(0)) << run.ExitCode;
  EXPECT_EQ(run.Errors, "");
  ASSERT_TRUE(server.WaitFinished(0, 5s));
  EXPECT_EQ(server.Received(0), ClientHeader("127.0.0.1") + kStreamClose);
}

// The header names the domain instead of the host; escaped like the host.
TEST(Check, DomainIsTheOneTheStreamHeaderNames) {
  TScriptedServer server(PoliteServer());
  TArgs arguments = Probe(server.Port());
  arguments.push_back("-domain:a&b.example");
  const TProgramRun run = RunTolvane(arguments);
  EXPECT_GE(AliveMs(run.Output), 0) << run.Output;
  ASSERT_TRUE(server.WaitFinished(0, 5s));
  EXPECT_EQ(server.Received(0), ClientHeader("a&amp;b.example") + kStreamClose);
}

TEST(Check, ReportedTimeCoversTheWaitForTheAnswer) {
  TScriptedServer server(
      {WaitFor(kHeaderEnd), Sleep(300ms), Send(kServerHeader), WaitFor(kStreamClose), Send(kStreamClose)});
  const TProgramRun run = RunTolvane(Probe(server.Port()));
  EXPECT_GE(AliveMs(run.Output), 300) << run.Output;
  EXPECT_LE(AliveMs(run.Output), 400) << run.Output;
  EXPECT_TRUE(run.ExitedWith(0)) << run.ExitCode;
}

// The stream close that ends the session is not part of the reported time:
// a server that never closes its own stream costs one more time-out.
TEST(Check, ServerThatNeverClosesItsStreamIsAliveAndHeldOneTimeOut) {
  TScriptedServer server({WaitFor(kHeaderEnd), Send(kServerHeader), Silent()});
  const TProgramRun run = RunTolvane(Probe(server.Port(), "300"));
  EXPECT_GE(AliveMs(run.Output), 0) << run.Output;
  EXPECT_LT(AliveMs(run.Output), 300) << run.Output;
  EXPECT_TRUE(run.ExitedWith(0)) << run.ExitCode;
  EXPECT_GE(run.WallTime, 300ms);
  EXPECT_LT(run.WallTime, 2000ms);
}

// A server that keeps talking without ever answering the stream header is
// as good as a silent one: the check ends at its time-out.
TEST(Check, ServerThatChattersWithoutAnsweringEndsAtTheTimeOut) {
  TScriptedServer server(Chatter({WaitFor(kHeaderEnd)}, 6s));
  const TProgramRun run = RunTolvane(Probe(server.Port(), "500"));
  EXPECT_EQ(run.Output, "ScriptRes:Bad:Cannot read data\r\n");
  EXPECT_TRUE(run.ExitedWith(1)) << run.ExitCode;
  EXPECT_GE(run.WallTime, 500ms);
  EXPECT_LT(run.WallTime, 3000ms);
}

TEST(Check, NothingListening) {
  loopback::RefusedPort refused;
  const TProgramRun run = RunTolvane(Probe(refused.Port()));
  EXPECT_TRUE(OneLineAfter(run.Output, "ScriptRes:Bad:Connection error. ")) << run.Output;
  EXPECT_TRUE(run.ExitedWith(1)) << run.ExitCode;
}

TEST(Check, NameThatCannotBeResolved) {
  const TProgramRun run = RunTolvane({std::string("-host:") + loopback::kUnresolvableHost, "-port:5222"});
  EXPECT_TRUE(OneLineAfter(run.Output, "ScriptRes:Bad:Cannot resolve host name to IP address. ")) << run.Output;
  EXPECT_TRUE(run.ExitedWith(1)) << run.ExitCode;
}

// Replies that do not establish the session, each with its exact result line.
struct TReplyCase {
  const char* Name;
  TScript Script;  // played after the client's stream header has arrived
  std::string Timeout;
  std::string Reason;  // after "ScriptRes:Bad:"
};

class ReplyTest : public testing::TestWithParam<TReplyCase> {};

TEST_P(ReplyTest, GivesItsResultLine) {
  TScript script{WaitFor(kHeaderEnd)};
  script.insert(script.end(), GetParam().Script.begin(), GetParam().Script.end());
  TScriptedServer server(script);
  const TProgramRun run = RunTolvane(Probe(server.Port(), GetParam().Timeout));
  EXPECT_EQ(run.Output, "ScriptRes:Bad:" + GetParam().Reason + "\r\n");
  EXPECT_TRUE(run.ExitedWith(1)) << run.ExitCode;
  EXPECT_LT(run.WallTime, 3000ms);
}

const std::string kSaslFailure = "<failure xmlns='urn:ietf:params:xml:ns:xmpp-sasl'><not-authorized/></failure>";
const std::string kPaymentRequired =
    "<error type='auth'><payment-required xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error>";

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTest,
    testing::Values(
        TReplyCase{"Silence", {Silent()}, "300", "Cannot read data"},
        TReplyCase{"ClosedAtOnce", {Close()}, "5000", "Cannot read data"},
        TReplyCase{"HeaderAndCloseTogetherThenSilence", {Send(kServerHeader + kStreamClose), Silent()}, "300",
                   "Cannot read data"},
        TReplyCase{"DeclarationAlone", {Send("<?xml version='1.0'?>\n")}, "5000",
                   "Server error; <?xml version='1.0'?>"},
        TReplyCase{"LineBreakAlone", {Send("\n")}, "5000", "Server error"},
        TReplyCase{"StreamErrorAndClose", {Send(kServerHeader + kHostUnknown + kStreamClose)}, "5000",
                   "Invalid recipient or recipient unavailable; " + kHostUnknown},
        TReplyCase{"StreamErrorWithoutClose", {Send(kServerHeader + kHostUnknown), Silent()}, "5000",
                   "Invalid recipient or recipient unavailable; " + kHostUnknown},
        TReplyCase{"Code401", {Send("<error code='401'>Unauthorized</error>")}, "5000",
                   "Your username or password is incorrect; <error code='401'>Unauthorized</error>"},
        TReplyCase{"SaslNotAuthorized", {Send(kSaslFailure)}, "5000",
                   "Your username or password is incorrect; " + kSaslFailure},
        TReplyCase{"UnlistedCondition", {Send(kPaymentRequired)}, "5000",
                   "Unexpected error occured; " + kPaymentRequired},
        TReplyCase{"Conflict", {Send(kConflict)}, "5000", "Server is temporarily unavailable; " + kConflict}),
    NameBy(&TReplyCase::Name));

TEST(Check, ChunkWithResultAndNoEarlierMarkerIsAlive) {
  TScriptedServer server({WaitFor(kHeaderEnd), Send("<iq type='result'/>"), WaitFor(kStreamClose),
                          Send(kStreamClose)});
  const TProgramRun run = RunTolvane(Probe(server.Port()));
  EXPECT_GE(AliveMs(run.Output), 0) << run.Output;
  EXPECT_TRUE(run.ExitedWith(0)) << run.ExitCode;
}

// A time-out of 0 or less, or one that is no number, leaves the default of a
// minute: the program still waits when a much shorter one would have ended.
class DefaultTimeoutTest : public testing::TestWithParam<std::string> {};

TEST_P(DefaultTimeoutTest, KeepsWaiting) {
  TScriptedServer server({WaitFor(kHeaderEnd), Sleep(1500ms), Close()});
  const TProgramRun run = RunTolvane(Probe(server.Port(), GetParam()));
  EXPECT_EQ(run.Output, "ScriptRes:Bad:Cannot read data\r\n");
  EXPECT_TRUE(run.ExitedWith(1)) << run.ExitCode;
  EXPECT_GE(run.WallTime, 1500ms);
}

INSTANTIATE_TEST_SUITE_P(Values, DefaultTimeoutTest, testing::Values("0", "-5", "abc"),
                         [](const testing::TestParamInfo<std::string>& value) {
                           return value.index == 0 ? std::string("Zero")
                                                   : value.index == 1 ? std::string("Negative") : std::string("Text");
                         });
