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

// A Windows console draws the program's bytes itself (see below): what
// reaches a Unix terminal from Wine is not what the program wrote.
const char* const kConsoleRenders = "a Windows console renders the bytes itself";

TEST(Console, Utf8TerminalSeesTheBoxInUtf8) {
  if (ProgramIsWindowsBuild()) GTEST_SKIP() << kConsoleRenders;
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
  if (ProgramIsWindowsBuild()) GTEST_SKIP() << kConsoleRenders;
  TProgramOptions options;
  options.OnTerminal = true;
  options.Environment = {"LC_ALL=C", "LANG", "LC_CTYPE"};
  const TProgramRun run = RunTolvane({}, options);
  EXPECT_EQ(run.Output.substr(0, kRawTop.size()), kRawTop);
  EXPECT_TRUE(run.ExitedWith(2));
}

// Text without the terminal control sequences (ESC [ ... letter) that
// Wine's console adds around each line it draws.
std::string WithoutControlSequences(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1B' && i + 1 < text.size() && text[i + 1] == '[') {
      i += 2;
      while (i < text.size() && !(text[i] >= '@' && text[i] <= '~')) ++i;
      continue;
    }
    plain += text[i];
  }
  return plain;
}

// On Windows the program writes its lines to the console one by one and the
// console shows the bytes in its code page, 437: the box characters reaching
// a UTF-8 terminal through Wine's console show that the bytes went out
// unchanged (a UTF-8 conversion of the program's own would be garbled).
TEST(Console, WindowsConsoleShowsTheBoxBytesInItsCodePage) {
  if (!ProgramIsWindowsBuild()) GTEST_SKIP() << "a POSIX terminal gets the bytes themselves";
  TProgramOptions options;
  options.OnTerminal = true;
  options.Environment = {"LC_ALL=C.UTF-8"};
  const TProgramRun run = RunTolvane({}, options);
  const std::string shown = WithoutControlSequences(run.Output);
  const std::string top = Utf8Top().substr(0, Utf8Top().find('\r'));
  EXPECT_EQ(shown.rfind(top, 0), 0u) << shown;
  EXPECT_NE(shown.find(" Purpose: send XMPP stanza"), std::string::npos) << shown;
  EXPECT_NE(shown.find("ScriptRes:Unknown:Port is required"), std::string::npos) << shown;
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
