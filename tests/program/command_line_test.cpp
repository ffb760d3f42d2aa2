// The program as a monitoring host sees it when no check can run: the
// banner and usage text, and the result line with its exit code.

#include <gtest/gtest.h>

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
  text += " Purpose: send XMPP stanza to specified server and check response\r\n";
  text += "\r\n";
  text += " Usage:> tolvane.exe -host:<hostname|IP> -port:<port> [-timeout:<timeout>]\r\n";
  text += "\r\n";
  text += " Parameters:\r\n";
  text += "  -host    : XMPP server name or IP address\r\n";
  text += "  -port    : XMPP port\r\n";
  text += "  -timeout : communication timeout (msec)\r\n";
  text += "\r\n";
  text += " Examples:\r\n";
  text += "  tolvane -host:xmpp.example.org -port:5222 -timeout:10000\r\n";
  text += "  tolvane.exe -host:192.168.10.20 -port:5222\r\n";
  text += "\r\n";
  return text;
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

}  // namespace
