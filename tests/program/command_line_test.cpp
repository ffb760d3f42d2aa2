// The program as a monitoring host sees it when no check can run: the
// banner and usage text, and the result line with its exit code.

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/program.h"

namespace {

using TArgs = std::vector<std::string>;

std::string Repeat(size_t count, unsigned char byte) { return std::string(count, static_cast<char>(byte)); }
std::string Byte(unsigned char byte) { return Repeat(1, byte); }

// Banner and usage text as a pipe receives them.
std::string UsageBytes() {
  const std::string bar = Byte(179);
  std::string text;
  text += Byte(218) + Byte(196) + Repeat(3, 254) + Repeat(73, 196) + Byte(183) + "\r\n";
  text += bar + " Tolvane                     " + bar + "   Version 0.05   " + bar +
          " https://example.org/tolvane" + Byte(186) + "\r\n";
  text += bar + " XMPP availability check     " + bar + "  February, 2007  " + bar +
          " tolvane@example.org        " + Byte(186) + "\r\n";
  text += Byte(212) + Repeat(77, 205) + Byte(188) + "\r\n";
  return text +
         " Purpose: send XMPP stanza to specified server and check response\r\n"
         "\r\n"
         " Usage:> tolvane.exe -host:<hostname|IP> -port:<port> [-timeout:<timeout>]\r\n"
         "\r\n"
         " Parameters:\r\n"
         "  -host    : XMPP server name or IP address\r\n"
         "  -port    : XMPP port\r\n"
         "  -timeout : communication timeout (msec)\r\n"
         "\r\n"
         " Examples:\r\n"
         "  tolvane -host:xmpp.example.org -port:5222 -timeout:10000\r\n"
         "  tolvane.exe -host:192.168.10.20 -port:5222\r\n"
         "\r\n";
}

const std::string kPortRequired = "ScriptRes:Unknown:Port is required\r\n";
const std::string kHostRequired = "ScriptRes:Unknown:XMPP Server name is required\r\n";

TEST(Program, NoArgumentsWritesBannerUsageAndMissingPort) {
  const TProgramRun run = RunTolvane({});
  EXPECT_EQ(run.Output, UsageBytes() + kPortRequired);
  EXPECT_TRUE(run.ExitedWith(2)) << run.ExitCode;
  EXPECT_EQ(run.Errors, "");
}

struct TCase {
  TArgs Arguments;
  std::string Output;
};

class UsageTest : public testing::TestWithParam<TCase> {};

TEST_P(UsageTest, ExactOutputAndExitCode2) {
  const TProgramRun run = RunTolvane(GetParam().Arguments);
  EXPECT_EQ(run.Output, GetParam().Output) << testing::PrintToString(GetParam().Arguments);
  EXPECT_TRUE(run.ExitedWith(2)) << run.ExitCode;
  EXPECT_EQ(run.Errors, "");
}

INSTANTIATE_TEST_SUITE_P(HelpSwitches, UsageTest, testing::Values(
    TCase{{"-?", "-host:a", "-port:5222"}, UsageBytes() + kPortRequired},
    TCase{{"/h", "-host:a", "-port:5222"}, UsageBytes() + kPortRequired},
    TCase{{"/?", "-host:a", "-port:5222"}, UsageBytes() + kPortRequired},
    TCase{{"-h", "-host:a", "-port:5222"}, UsageBytes() + kPortRequired},
    TCase{{"/H"}, kPortRequired},
    TCase{{"-help", "-host:a"}, kPortRequired}), NameBy(&TCase::Arguments));

INSTANTIATE_TEST_SUITE_P(MissingSettings, UsageTest, testing::Values(
    TCase{{"-HOST:a", "-port:5222"}, kHostRequired},
    TCase{{"-port:5222"}, kHostRequired},
    TCase{{"-host:", "-port:5222"}, kHostRequired},
    TCase{{"-host:x"}, kPortRequired},
    TCase{{"-host:x", "-port:abc"}, kPortRequired},
    TCase{{"-host:x", "-port:65536"}, kPortRequired},
    TCase{{"-host:x", "-port:0"}, kPortRequired},
    TCase{{"-host:x", "-port:0x"}, kPortRequired},
    TCase{{"-host:-port:1"}, kPortRequired},
    TCase{{"-timeout:1000"}, kPortRequired},
    TCase{{"x-host:a", "-port:5222"}, kHostRequired}), NameBy(&TCase::Arguments));

// A help switch after the settings is ignored: the run goes on to the check
// and writes one result line that is not about a missing setting.
TEST(Program, LateHelpSwitchIsIgnored) {
  const TProgramRun run = RunTolvane({"-host:127.0.0.1", "-port:1", "-timeout:3000", "-h"});
  ASSERT_FALSE(run.TimedOut);
  EXPECT_EQ(run.Output.rfind("ScriptRes:", 0), 0u) << run.Output;
  EXPECT_EQ(run.Output.find("\r\n"), run.Output.size() - 2) << run.Output;
  EXPECT_EQ(run.Output.find("required"), std::string::npos) << run.Output;
  EXPECT_EQ(run.Output.find('\xDA'), std::string::npos) << "no banner";
}

// Login keys that make a login impossible: no server is contacted, and a
// run without -user: keeps its old results.
TEST(LoginSettings, ImpossibleLoginsAreUnknown) {
  const std::string folder = testing::TempDir();
  const std::string empty = folder + "tolvane-empty-pass";
  const std::string blankLine = folder + "tolvane-blank-pass";
  const std::string large = folder + "tolvane-large-pass";
  const std::string missing = folder + "tolvane-missing-pass";
  std::ofstream(empty, std::ios::binary).flush();
  std::ofstream(blankLine, std::ios::binary) << "\r\nsecret\r\n";
  std::ofstream(large, std::ios::binary) << std::string(4097, 'x');
  const std::string only = "-password:, -passfile: and -auth: apply only with -user:";
  std::vector<std::pair<TArgs, std::string>> cases = {
      {{"-password:s3cret"}, only},
      {{"-passfile:" + empty}, only},
      {{"-auth:plain"}, only},
      {{"-user:alice"}, "-user: needs -password: or -passfile:"},
      {{"-user:alice", "-password:s3cret", "-passfile:" + empty}, "Give -password: or -passfile:, not both"},
      {{"-user:alice", "-password:s3cret", "-auth:PLAIN"},
       "Unknown login mechanism \"PLAIN\": use -auth:scram-sha-256, -auth:scram-sha-1, -auth:plain or -auth:legacy"},
      {{"-user:", "-password:s3cret"}, "Invalid -user: \"\": the local part is empty"},
      {{"-user:@example.org", "-password:s3cret"}, "Invalid -user: \"@example.org\": the local part is empty"},
      {{"-user:alice/home", "-password:s3cret"}, "Invalid -user: \"alice/home\": \"/\" is not allowed"},
      {{"-user:alice@", "-password:s3cret"}, "Invalid -user: \"alice@\": the domain is empty"},
      {{"-user:alice@example.org", "-domain:example.net", "-password:s3cret"},
       "-user: names the domain \"example.org\" but -domain: names \"example.net\""},
      {{"-user:alice", "-password:s3cret", "-tls:STARTTLS"}, "Unknown TLS mode \"STARTTLS\": use -tls:starttls or -tls:direct"},
      {{"-user:alice", "-passfile:" + missing},
       "Cannot read the password file \"" + missing + "\". " + ProgramSystemText(ENOENT, 2)},
      {{"-user:alice", "-passfile:" + empty}, "The password file \"" + empty + "\" is empty"},
      {{"-user:alice", "-passfile:" + blankLine}, "The password file \"" + blankLine + "\" is empty"},
      {{"-user:alice", "-passfile:" + large}, "The password file \"" + large + "\" is larger than 4 KiB"},
  };
  // Windows opens no folder as a file at all: the system's reason says so.
  if (!ProgramIsWindowsBuild())
    cases.push_back({{"-user:alice", "-passfile:" + folder}, "The password file \"" + folder + "\" is not a regular file"});
  for (const auto& [args, reason] : cases) {
    TArgs all{"-host:127.0.0.1", "-port:1"};
    all.insert(all.end(), args.begin(), args.end());
    const TProgramRun run = RunTolvane(all);
    EXPECT_EQ(run.Output, "ScriptRes:Unknown:" + reason + "\r\n") << testing::PrintToString(args);
    EXPECT_TRUE(run.ExitedWith(2)) << run.ExitCode;
  }
}

}  // namespace
