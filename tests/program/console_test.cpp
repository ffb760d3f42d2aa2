// Standard output as pipes, files and terminals get it.

#include <gtest/gtest.h>

#include <string>

#include "support/program.h"

namespace {

// The first banner line and the start of the second.
const std::string kRawTop = "\xDA\xC4\xFE\xFE\xFE" + std::string(73, '\xC4') + "\xB7\r\n\xB3";

std::string Utf8Top() {
  std::string line = "\u250C\u2500\u25A0\u25A0\u25A0";
  for (int i = 0; i < 73; ++i) line += "\u2500";
  return line + "\u2556\r\n\u2502";
}

TEST(Console, PipeGetsTheBoxBytesWhateverTheLocale) {
  TProgramOptions options;
  options.Environment = {"LC_ALL=C.UTF-8", "LANG=C.UTF-8"};
  const TProgramRun run = RunTolvane({}, options);
  EXPECT_EQ(run.Output.substr(0, kRawTop.size()), kRawTop);
  EXPECT_TRUE(run.ExitedWith(2));
}

TEST(Console, Utf8TerminalSeesTheBoxInUtf8) {
  TProgramOptions options;
  options.OnTerminal = true;
  options.Environment = {"LC_ALL=C.UTF-8"};
  const TProgramRun run = RunTolvane({}, options);
  EXPECT_EQ(run.Output.substr(0, Utf8Top().size()), Utf8Top());
  // The rest is unchanged, the result line included.
  EXPECT_NE(run.Output.find("\r\n Purpose: send XMPP stanza"), std::string::npos);
  EXPECT_EQ(run.Output.substr(run.Output.size() - 36), "ScriptRes:Unknown:Port is required\r\n");
  EXPECT_TRUE(run.ExitedWith(2));
}

TEST(Console, OtherTerminalGetsTheBoxBytes) {
  TProgramOptions options;
  options.OnTerminal = true;
  options.Environment = {"LC_ALL=C", "LANG", "LC_CTYPE"};
  const TProgramRun run = RunTolvane({}, options);
  EXPECT_EQ(run.Output.substr(0, kRawTop.size()), kRawTop);
  EXPECT_TRUE(run.ExitedWith(2));
}

// A monitoring host that stops reading must still get the exit code: the
// program does not die of a broken pipe.
TEST(Console, GoneReaderDoesNotChangeTheExitCode) {
  TProgramOptions options;
  options.ReaderGone = true;
  const TProgramRun run = RunTolvane({"-host:x"}, options);
  EXPECT_FALSE(run.Signalled) << run.Signal;
  EXPECT_TRUE(run.ExitedWith(2)) << run.ExitCode;
}

}  // namespace
