// The raw command line as Windows hands it over, read by the program's own
// splitting rules: quotes are dropped wherever they stand, and an empty
// quoted pair is no argument. A build that gets its arguments already split
// (POSIX) has no raw line to read.

#include <gtest/gtest.h>

#include <string>

#include "support/case_name.h"
#include "support/program.h"

namespace {

const std::string kPortRequired = "ScriptRes:Unknown:Port is required\r\n";
const std::string kHostRequired = "ScriptRes:Unknown:XMPP Server name is required\r\n";

struct TRawCase {
  std::string Line;
  std::string ResultLine;  // the output's last line
};

class RawCommandLine : public testing::Test {
 protected:
  void SetUp() override {
    if (!ProgramIsWindowsBuild()) GTEST_SKIP() << "this build gets its arguments already split";
  }
};

class RawCommandLineCase : public RawCommandLine, public testing::WithParamInterface<TRawCase> {};

TEST_P(RawCommandLineCase, ReachesTheProgramAsTyped) {
  const TProgramRun run = RunTolvaneRawLine(GetParam().Line);
  const std::string& expected = GetParam().ResultLine;
  ASSERT_GE(run.Output.size(), expected.size()) << run.Output << run.Errors;
  EXPECT_EQ(run.Output.substr(run.Output.size() - expected.size()), expected) << GetParam().Line;
  EXPECT_TRUE(run.ExitedWith(2)) << run.ExitCode;
}

// A port that is read proves the argument was taken apart right: the run then
// misses only the host.
INSTANTIATE_TEST_SUITE_P(Quoting, RawCommandLineCase, testing::Values(
    TRawCase{"tolvane.exe \"-port:5222\"", kHostRequired},
    TRawCase{"tolvane.exe -port:\"5222\"", kHostRequired},
    TRawCase{"tolvane.exe -po\"rt:52\"22", kHostRequired},
    TRawCase{"tolvane.exe \"\" -port:5222", kHostRequired},
    TRawCase{"tolvane.exe\t-port:5222", kHostRequired},
    TRawCase{"\"C:\\Program Files\\tolvane.exe\" -port:5222", kHostRequired},
    TRawCase{"tolvane.exe \"-host:a b\" -port:\"0\"", kPortRequired},
    TRawCase{"tolvane.exe \\\"-port:5222\\\"", kPortRequired}), NameBy(&TRawCase::Line));

TEST_F(RawCommandLine, QuotedHelpSwitchShowsTheUsage) {
  const TProgramRun run = RunTolvaneRawLine("tolvane.exe \"/?\" -host:a -port:5222");
  EXPECT_EQ(run.Output.rfind("\xDA\xC4", 0), 0u) << "banner first";
  EXPECT_EQ(run.Output.substr(run.Output.size() - kPortRequired.size()), kPortRequired);
  EXPECT_TRUE(run.ExitedWith(2)) << run.ExitCode;
}

}  // namespace
