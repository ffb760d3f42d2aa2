#include "app/std_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Keeps each write the output makes, as it makes it.
struct TWrites {
  std::vector<std::string> Chunks;
  TStdOutput::TWrite Sink() {
    return [this](std::string_view bytes) { Chunks.emplace_back(bytes); };
  }
};

const std::string kBoxBytes = "\xDA\xC4\xFE\xB7\xB3 a \xBA\xD4\xCD\xBC";

TEST(StdOutput, TerminalGetsEachLineAtOnce) {
  TWrites writes;
  TStdOutput out(true, false, writes.Sink());
  out.WriteLine("one");
  EXPECT_EQ(writes.Chunks, std::vector<std::string>({"one\r\n"}));
  out.WriteLine("");
  out.Flush();
  EXPECT_EQ(writes.Chunks, std::vector<std::string>({"one\r\n", "\r\n"}));
}

TEST(StdOutput, PipeGetsEverythingOnFlush) {
  TWrites writes;
  TStdOutput out(false, true, writes.Sink());
  out.WriteLine("a\xFF\r");
  out.WriteBoxLine(kBoxBytes);
  EXPECT_TRUE(writes.Chunks.empty());
  out.Flush();
  // Bytes unchanged, box lines included, even where the locale is UTF-8.
  EXPECT_EQ(writes.Chunks, std::vector<std::string>({"a\xFF\r\r\n" + kBoxBytes + "\r\n"}));
  out.Flush();
  EXPECT_EQ(writes.Chunks.size(), 1u);
}

TEST(StdOutput, DestructionWritesOutWhatIsKept) {
  TWrites writes;
  {
    TStdOutput out(false, false, writes.Sink());
    out.WriteLine("ScriptRes:Unknown:Port is required");
  }
  EXPECT_EQ(writes.Chunks, std::vector<std::string>({"ScriptRes:Unknown:Port is required\r\n"}));
}

TEST(StdOutput, Utf8TerminalSeesTheBoxInUtf8) {
  TWrites writes;
  TStdOutput out(true, true, writes.Sink());
  out.WriteBoxLine(kBoxBytes);
  out.WriteLine("\xC4 stays");  // only box lines are converted
  EXPECT_EQ(writes.Chunks, std::vector<std::string>({
                               "\u250C\u2500\u25A0\u2556\u2502 a \u2551\u2558\u2550\u255D\r\n",
                               "\xC4 stays\r\n",
                           }));
}

TEST(StdOutput, OtherTerminalGetsTheBoxBytes) {
  TWrites writes;
  TStdOutput out(true, false, writes.Sink());
  out.WriteBoxLine(kBoxBytes);
  EXPECT_EQ(writes.Chunks, std::vector<std::string>({kBoxBytes + "\r\n"}));
}

}  // namespace
