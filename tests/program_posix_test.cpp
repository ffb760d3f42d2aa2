#include "support/program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using namespace std::chrono_literals;

TProgramRun Shell(const std::string& script, const TProgramOptions& options = {}) {
  return RunProgram({"sh", "-c", script}, {}, options);
}

TEST(RunProgram, KeepsBothStreamsByteForByteAndTheExitCode) {
  const TProgramRun run = Shell("printf 'a\\000\\r\\n\\377'; printf e >&2; exit 3");
  EXPECT_EQ(run.Output, std::string("a\0\r\n\xFF", 5));
  EXPECT_EQ(run.Errors, "e");
  EXPECT_TRUE(run.ExitedWith(3));
  EXPECT_FALSE(run.Signalled);
}

TEST(RunProgram, PassesArgumentsUnchanged) {
  const TProgramRun run = RunProgram({"printf", "[%s]"}, {"a b", "", "\"q\""});
  EXPECT_EQ(run.Output, "[a b][][\"q\"]");
}

TEST(RunProgram, ReportsDeathBySignal) {
  const TProgramRun run = Shell("kill -9 $$");
  EXPECT_TRUE(run.Signalled);
  EXPECT_EQ(run.Signal, 9);
  EXPECT_FALSE(run.TimedOut);
}

TEST(RunProgram, KillsWhatOutlivesItsLimit) {
  TProgramOptions options;
  options.KillAfter = 300ms;
  // The child started in the background holds the pipes open as well.
  const TProgramRun run = Shell("printf x; sleep 30 & sleep 30", options);
  EXPECT_TRUE(run.TimedOut);
  EXPECT_TRUE(run.Signalled);
  EXPECT_EQ(run.Output, "x");
  EXPECT_GE(run.WallTime, 300ms);
  EXPECT_LT(run.WallTime, 10s);
}

TEST(RunProgram, ChangesTheEnvironment) {
  TProgramOptions options;
  options.Environment = {"TOLVANE_A=1", "HOME"};
  const TProgramRun run = Shell("printf '%s/%s' \"$TOLVANE_A\" \"${HOME-unset}\"", options);
  EXPECT_EQ(run.Output, "1/unset");
}

TEST(RunProgram, TerminalIsRawAndSeenAsATerminal) {
  TProgramOptions options;
  options.OnTerminal = true;
  const TProgramRun run = Shell("[ -t 1 ] && printf 'a\\nb\\r\\n'", options);
  EXPECT_EQ(run.Output, "a\nb\r\n");
  EXPECT_TRUE(run.ExitedWith(0));
}

TEST(RunProgram, SplitsTheProgramCommandAtSpaces) {
  SetProgramCommand(" wine64  build-windows/tolvane.exe ");
  EXPECT_EQ(ProgramCommand(), std::vector<std::string>({"wine64", "build-windows/tolvane.exe"}));
  SetProgramCommand("");
}

}  // namespace
