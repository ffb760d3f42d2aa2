// Where the server is and how long a check may take, as a monitoring host
// sees it: the strict values of the keys, and the one limit of -deadline:
// against servers that hang at each step. The SRV cases need a name server
// of their own and are in srv_test.cpp.

#include <gtest/gtest.h>

#include <iostream>
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

struct TKeyCase {
  TArgs Arguments;
  std::string Reason;
};

class PlaceKeys : public testing::TestWithParam<TKeyCase> {};

// No server is asked: each of these makes the check impossible.
TEST_P(PlaceKeys, ValueAKeyDoesNotTakeIsUnknown) {
  TArgs arguments = {"-host:127.0.0.1", "-port:1"};
  arguments.insert(arguments.end(), GetParam().Arguments.begin(), GetParam().Arguments.end());
  const TProgramRun run = RunTolvane(arguments);
  EXPECT_EQ(run.Output, "ScriptRes:Unknown:" + GetParam().Reason + "\r\n");
  EXPECT_TRUE(run.ExitedWith(2)) << run.ExitCode;
}

INSTANTIATE_TEST_SUITE_P(
    Values, PlaceKeys,
    testing::Values(
        TKeyCase{{"-srv:no"}, "-srv: takes yes only, not \"no\""},
        TKeyCase{{"-srv:"}, "-srv: takes yes only, not \"\""},
        TKeyCase{{"-s2s:YES"}, "-s2s: takes yes only, not \"YES\""},
        TKeyCase{{"-ip:5"}, "-ip: takes 4 or 6 only, not \"5\""},
        TKeyCase{{"-ip:v6"}, "-ip: takes 4 or 6 only, not \"v6\""},
        TKeyCase{{"-deadline:0"}, "-deadline: takes a whole number of milliseconds above 0, not \"0\""},
        TKeyCase{{"-deadline:-5"}, "-deadline: takes a whole number of milliseconds above 0, not \"-5\""},
        TKeyCase{{"-deadline:1.5"}, "-deadline: takes a whole number of milliseconds above 0, not \"1.5\""},
        TKeyCase{{"-deadline:2147483648"},
                 "-deadline: takes a whole number of milliseconds above 0, not \"2147483648\""},
        TKeyCase{{"-from:a.example"}, "-from: applies only with -s2s:yes"},
        TKeyCase{{"-s2s:yes", "-user:a", "-password:b"}, "-user: logs in on the client port, not with -s2s:yes"},
        TKeyCase{{"-ip:6"}, "-ip:6 excludes the IPv4 address 127.0.0.1"},
        TKeyCase{{"-host:::1", "-ip:4"}, "-ip:4 excludes the IPv6 address ::1"},
        TKeyCase{{"-host:[::1]", "-ip:4"}, "-ip:4 excludes the IPv6 address [::1]"}),
    NameBy(&TKeyCase::Arguments));

// Without -srv: the port stays required, -s2s:yes included.
TEST(PlaceKeys, PortStaysRequiredWithoutSrv) {
  const TProgramRun run = RunTolvane({"-host:127.0.0.1", "-s2s:yes", "-deadline:1000"});
  EXPECT_EQ(run.Output, "ScriptRes:Unknown:Port is required\r\n");
}

// A server that hangs at one step of the check, and what the limit says.
struct THangCase {
  const char* Name;
  TArgs Arguments;
  TScript Script;  // empty: a listener whose queue is full, which never accepts
  std::string Waiting;
};

class DeadlineTest : public testing::TestWithParam<THangCase> {};

std::vector<TScriptStep> Drip(const std::string& text) {
  std::vector<TScriptStep> steps;
  for (char c : text) {
    steps.push_back(Send(std::string(1, c)));
    steps.push_back(Sleep(1s));
  }
  return steps;
}

constexpr int kDeadlineMs = 2000;

TEST_P(DeadlineTest, EndsWithinTheLimit) {
  std::unique_ptr<loopback::FullBacklogListener> full;
  std::unique_ptr<TScriptedServer> server;
  std::uint16_t port;
  if (GetParam().Script.empty()) {
    full = std::make_unique<loopback::FullBacklogListener>();
    ASSERT_TRUE(full->Full());
    port = full->Port();
  } else {
    server = std::make_unique<TScriptedServer>(GetParam().Script);
    port = server->Port();
  }
  TArgs arguments = {"-host:127.0.0.1", "-port:" + std::to_string(port), "-deadline:" + std::to_string(kDeadlineMs)};
  arguments.insert(arguments.end(), GetParam().Arguments.begin(), GetParam().Arguments.end());
  const TProgramRun run = RunTolvane(arguments);
  EXPECT_EQ(run.Output, "ScriptRes:Bad:No answer within " + std::to_string(kDeadlineMs) + " ms (" +
                            GetParam().Waiting + "127.0.0.1:" + std::to_string(port) + ")\r\n");
  EXPECT_TRUE(run.ExitedWith(1)) << run.ExitCode;
  EXPECT_GE(run.WallTime, std::chrono::milliseconds(kDeadlineMs));
  EXPECT_LT(run.WallTime, std::chrono::milliseconds(kDeadlineMs) + 1500ms);
  std::cout << "[ figure ] " << GetParam().Name << " with -deadline:" << kDeadlineMs << ": "
            << run.WallTime.count() << " ms\n";
}

const std::string kVersionedHeaderEnd = "version='1.0'>";

INSTANTIATE_TEST_SUITE_P(
    Hangs, DeadlineTest,
    testing::Values(THangCase{"ConnectHangs", {}, {}, "connecting to "},
                    THangCase{"AcceptsAndNeverAnswers", {}, {Silent()}, "stream header from "},
                    THangCase{"DripsAByteASecond",
                              {"-tls:starttls"},
                              [] {
                                TScript script{WaitFor(kVersionedHeaderEnd)};
                                for (TScriptStep& step : Drip(kServerHeader + "<stream:features>"))
                                  script.push_back(step);
                                return script;
                              }(),
                              "stream features from "},
                    THangCase{"TlsHandshakeStalls", {"-tls:direct"}, {Silent()}, "TLS handshake with "},
                    THangCase{"LoginNeverAnswered", {"-user:a", "-password:b"}, {Silent()}, "the stream opening with "},
                    THangCase{"LoginTlsHandshakeStalls",
                              {"-user:a", "-password:b", "-tls:direct"},
                              {Silent()},
                              "TLS handshake with "}),
    NameBy(&THangCase::Name));

}  // namespace
