// The built program against one real Prosody, run after run: every run must
// find the server alive, and no run may need more memory than the first
// ones did. One probe also runs under valgrind's memcheck, which must find
// no error and no leak.
//
// The count comes from TOLVANE_SOAK_RUNS (scripts/soak sets 2000); the
// suite's own run makes a short one.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/prosody.h"

namespace {

const std::regex kAlive("ScriptRes:Host is alive:[0-9]+ ms\r\n");

// A program given as one file is native; "wine64 tolvane.exe" is not.
bool Native() { return ProgramCommand().size() == 1; }

int SoakRuns() {
  const char* value = std::getenv("TOLVANE_SOAK_RUNS");
  const int count = value != nullptr ? std::atoi(value) : 0;
  if (count > 0) return count;
  return Native() ? 50 : 10;  // an emulated program starts slowly
}

// The command, behind /usr/bin/time when that is there and the program is
// native, so that each run reports its peak resident memory last on
// standard error.
std::vector<std::string> MeasuredCommand(bool& measured) {
  measured = Native() && access("/usr/bin/time", X_OK) == 0;
  std::vector<std::string> command;
  if (measured) command = {"/usr/bin/time", "-f", "%M"};
  for (const std::string& part : ProgramCommand()) command.push_back(part);
  return command;
}

long PeakKiB(const std::string& errors) {
  const auto start = errors.find_last_of('\n', errors.size() >= 2 ? errors.size() - 2 : 0);
  return std::atol(errors.c_str() + (start == std::string::npos ? 0 : start + 1));
}

TEST(ProgramSoak, ConsecutiveChecksAreAllAliveInConstantMemory) {
  TProsodyServer server;
  bool measured = false;
  const std::vector<std::string> command = MeasuredCommand(measured);
  const int runs = SoakRuns();
  const int sample = std::max(1, runs / 10);
  long firstPeak = 0;
  long lastPeak = 0;
  int alive = 0;
  for (int i = 0; i < runs; ++i) {
    const TProgramRun run =
        RunProgram(command, {"-host:localhost", "-port:" + std::to_string(server.Port()), "-timeout:5000"});
    if (std::regex_match(run.Output, kAlive) && run.ExitedWith(0)) {
      ++alive;
    } else {
      ADD_FAILURE() << "run " << i << ": " << run.Output << run.Errors << server.Log();
      if (i - alive > 3) break;
    }
    if (!measured) continue;
    if (i < sample) firstPeak = std::max(firstPeak, PeakKiB(run.Errors));
    if (i >= runs - sample) lastPeak = std::max(lastPeak, PeakKiB(run.Errors));
  }
  EXPECT_EQ(alive, runs);
  std::printf("soak: %d of %d runs alive\n", alive, runs);
  if (measured) {
    std::printf("soak: peak resident memory %ld KiB in the first runs, %ld KiB in the last\n", firstPeak, lastPeak);
    EXPECT_GT(firstPeak, 0);
    EXPECT_LE(lastPeak, firstPeak + 512) << "peak resident KiB, first runs " << firstPeak;
  }
}

// A sanitized build cannot run under valgrind; that build has its own checks.
#if !defined(__SANITIZE_ADDRESS__)
TEST(ProgramSoak, ProbesUnderMemcheckAreClean) {
  if (!Native()) GTEST_SKIP() << "memcheck runs the native program only";
  TProsodyServer server;
  const std::vector<std::string> memcheck = {
      "valgrind", "--quiet", "--error-exitcode=99", "--leak-check=full",
      "--errors-for-leak-kinds=definite,indirect,possible", ProgramCommand()[0]};
  TProgramOptions options;
  options.KillAfter = std::chrono::milliseconds(120000);
  const std::string port = "-port:" + std::to_string(server.Port());

  const TProgramRun alive = RunProgram(memcheck, {"-host:localhost", port}, options);
  EXPECT_TRUE(std::regex_match(alive.Output, kAlive)) << alive.Output;
  EXPECT_TRUE(alive.ExitedWith(0)) << alive.ExitCode << alive.Errors;

  // A failure path too: Prosody serves no domain called 127.0.0.1.
  const TProgramRun bad = RunProgram(memcheck, {"-host:127.0.0.1", port}, options);
  EXPECT_EQ(bad.Output.rfind("ScriptRes:Bad:", 0), 0u) << bad.Output;
  EXPECT_TRUE(bad.ExitedWith(1)) << bad.ExitCode << bad.Errors;
}
#endif

}  // namespace
