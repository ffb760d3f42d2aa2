#include "app/main_sequence.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/base_error.h"
#include "support/case_name.h"

namespace {

class TRecorder : public TLineWriter {
 public:
  std::vector<std::string> Lines;
  void WriteLine(std::string_view bytes) override { Lines.emplace_back(bytes); }
};

// One run with the given arguments and check; keeps what it wrote.
struct TRun {
  TFrontEnd State;
  TRecorder Out;
  int ExitCode = -1;
  int Checks = 0;

  TRun(std::vector<std::string> arguments, const TCheckRunner& check = {})
      : TRun(ArgumentsFrom(std::move(arguments)), check) {}
  TRun(const TArguments& arguments, const TCheckRunner& check) {
    ExitCode = RunMainSequence(State, arguments, Out, [&](TFrontEnd& state) {
      ++Checks;
      if (check) check(state);
    });
  }
  const std::string& Result() const { return Out.Lines.back(); }
};

constexpr size_t kUsageLines = 6 + 11;

TEST(MainSequence, NoArgumentsGivesUsageAndMissingPort) {
  TRun run({});
  ASSERT_EQ(run.Out.Lines.size(), kUsageLines + 1);
  EXPECT_EQ(run.Result(), "ScriptRes:Unknown:Port is required");
  EXPECT_EQ(run.ExitCode, verdictUnknown);
  EXPECT_EQ(run.Checks, 0);
}

struct TMissingCase {
  std::vector<std::string> Arguments;
  std::string Result;
};

// The exact texts for every form of missing setting are shown by the
// whole-program tests; here it matters that no check runs.
const TMissingCase kMissingCases[] = {
    {{"-port:5222"}, "ScriptRes:Unknown:XMPP Server name is required"},
    {{"-host:x", "-port:65536"}, "ScriptRes:Unknown:Port is required"},
    {{"/H"}, "ScriptRes:Unknown:Port is required"},
    // With both missing, the port is what is reported.
    {{"-timeout:5"}, "ScriptRes:Unknown:Port is required"},
};

class MissingSettingTest : public testing::TestWithParam<TMissingCase> {};

TEST_P(MissingSettingTest, OneLineNoBannerNoCheck) {
  TRun run(GetParam().Arguments);
  EXPECT_EQ(run.Out.Lines, std::vector<std::string>({GetParam().Result}));
  EXPECT_EQ(run.ExitCode, verdictUnknown);
  EXPECT_EQ(run.Checks, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, MissingSettingTest, testing::ValuesIn(kMissingCases),
                         NameBy(&TMissingCase::Arguments));

TEST(MainSequence, HelpSwitchFirstSkipsTheCheck) {
  TRun run({"-?", "-host:a", "-port:5222"});
  ASSERT_EQ(run.Out.Lines.size(), kUsageLines + 1);
  EXPECT_EQ(run.Result(), "ScriptRes:Unknown:Port is required");
  EXPECT_EQ(run.Checks, 0);
}

TEST(MainSequence, CheckRunsWithTheSettings) {
  TFrontEnd seen;
  TRun run({"-host:a", "-port:5222", "-timeout:900", "-h"}, [&](TFrontEnd& state) {
    seen = state;
    state.ElapsedMs = 250;
  });
  EXPECT_EQ(run.Checks, 1);
  EXPECT_EQ(seen.Host, "a");
  EXPECT_EQ(seen.Port, 5222);
  EXPECT_EQ(seen.Timeout, 900);
  EXPECT_EQ(run.Out.Lines, std::vector<std::string>({"ScriptRes:Host is alive:250 ms"}));
  EXPECT_EQ(run.ExitCode, verdictAlive);
}

struct TVerdictCase {
  const char* Name;
  TVerdict Verdict;
  int64_t ElapsedMs;
  std::string Text;
  std::string Result;
};

const TVerdictCase kVerdictCases[] = {
    {"AliveInNoTime", verdictAlive, 0, "", "ScriptRes:Host is alive:0 ms"},
    {"AliveBeforeItStarted", verdictAlive, -3, "", "ScriptRes:Host is alive:-3 ms"},
    {"AliveBeyond32Bits", verdictAlive, 9000000000LL, "", "ScriptRes:Host is alive:9000000000 ms"},
    {"Bad", verdictBad, 0, "Cannot read data", "ScriptRes:Bad:Cannot read data"},
    {"BadWithALineBreak", verdictBad, 0, "Server error; <a>\r\n\xFF</a>", "ScriptRes:Bad:Server error; <a> \xFF</a>"},
    // A server cannot add a line of its own to the output.
    {"BadWithAForgedLine", verdictBad, 0, "Server error; x\r\nScriptRes:Host is alive:1 ms", "ScriptRes:Bad:Server error; x ScriptRes:Host is alive:1 ms"},
    {"BadWithLineBreaksOfEveryKind", verdictBad, 0, "<e>\n\n  <c/>\r\r</e>\n", "ScriptRes:Bad:<e>   <c/> </e> "},
    {"UnknownWithACarriageReturn", verdictUnknown, 0, "a\rb", "ScriptRes:Unknown:a b"},
    {"BadWithoutText", verdictBad, 0, "", "ScriptRes:Bad:"},
    {"Unknown", verdictUnknown, 0, "no socket", "ScriptRes:Unknown:no socket"},
};

class VerdictTest : public testing::TestWithParam<TVerdictCase> {};

TEST_P(VerdictTest, ResultLineAndExitCode) {
  const TVerdictCase& c = GetParam();
  TRun run({"-host:a", "-port:1"}, [&](TFrontEnd& state) {
    state.Verdict = c.Verdict;
    state.ElapsedMs = c.ElapsedMs;
    state.VerdictText = c.Text;
  });
  EXPECT_EQ(run.Out.Lines, std::vector<std::string>({c.Result}));
  EXPECT_EQ(run.ExitCode, c.Verdict);
}

INSTANTIATE_TEST_SUITE_P(Table, VerdictTest, testing::ValuesIn(kVerdictCases), NameBy(&TVerdictCase::Name));

TEST(MainSequence, GuardTurnsAnEscapedErrorIntoUnknown) {
  TRun run({"-host:a", "-port:1"}, [](TFrontEnd& state) {
    state.Verdict = verdictBad;
    state.VerdictText = "earlier";
    throw EBaseError("Cannot start the socket library");
  });
  EXPECT_EQ(run.Out.Lines, std::vector<std::string>({"ScriptRes:Unknown:Cannot start the socket library"}));
  EXPECT_EQ(run.ExitCode, verdictUnknown);
}

// A server that echoes the password, even across a line break, or one
// that the password file gave, never gets it into the output.
TEST(MainSequence, ThePasswordNeverShows) {
  TRun run({"-host:a", "-port:1", "-password:se cret"}, [](TFrontEnd& state) {
    state.Secrets.push_back("fromfile");
    state.Verdict = verdictBad;
    state.VerdictText = "Login failed. x: se cret, se\r\ncret and fromfile";
  });
  EXPECT_EQ(run.Out.Lines, std::vector<std::string>({"ScriptRes:Bad:Login failed. x: ***, *** and ***"}));
}

TEST(MainSequence, GuardCatchesStandardExceptions) {
  TRun run({"-host:a", "-port:1"}, [](TFrontEnd&) { throw std::bad_alloc(); });
  EXPECT_EQ(run.Out.Lines, std::vector<std::string>({"ScriptRes:Unknown:std::bad_alloc"}));
  EXPECT_EQ(run.ExitCode, verdictUnknown);
}

// Arguments whose third one cannot be read.
TArguments FailingThird(std::vector<std::string> list) {
  const int count = static_cast<int>(list.size());
  return {count, [list](int index) -> std::string {
            if (index == 2) throw EBaseError("Cannot read the arguments");
            return list.at(static_cast<size_t>(index));
          }};
}

TEST(MainSequence, ParseFailureShowsUsageAndItsMessage) {
  TRun run(FailingThird({"-host:a", "-port:1", "-timeout:5"}), {});
  ASSERT_EQ(run.Out.Lines.size(), kUsageLines + 1);
  EXPECT_EQ(run.Result(), "ScriptRes:Unknown:Cannot read the arguments");
  EXPECT_EQ(run.ExitCode, verdictUnknown);
  EXPECT_EQ(run.Checks, 0);
}

TEST(MainSequence, MissingSettingReplacesAParseFailure) {
  TRun run(FailingThird({"-host:a", "-timeout:5", "-port:1"}), {});
  ASSERT_EQ(run.Out.Lines.size(), kUsageLines + 1);
  EXPECT_EQ(run.Result(), "ScriptRes:Unknown:Port is required");
}

}  // namespace
