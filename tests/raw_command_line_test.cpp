#include "app/raw_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/case_name.h"

namespace {

using TList = std::vector<std::string>;

struct TSplitCase {
  const char* Name;
  std::string Line;
  TList Expected;
};

const TSplitCase kSplitCases[] = {
    {"EmptyLine", "", {}},
    {"PathAlone", "tolvane.exe", {}},
    {"Plain", "tolvane.exe -host:a -port:5222", {"-host:a", "-port:5222"}},
    // The program path may itself be quoted and hold spaces.
    {"QuotedPathWithSpace", "\"C:\\Program Files\\tolvane.exe\" -host:a", {"-host:a"}},
    // Quotes around the whole argument or around its value alone: the same.
    {"QuotedArgument", "p \"-host:my host\"", {"-host:my host"}},
    {"QuotedValue", "p -host:\"my host\"", {"-host:my host"}},
    {"QuotedKey", "p -\"host\":a", {"-host:a"}},
    {"QuotesWithinAnArgument", "p a\"b c\"d\"e\"", {"ab cde"}},
    // An empty quote pair between arguments gives no argument.
    {"EmptyQuotePair", "p \"\" -port:1", {"-port:1"}},
    {"EmptyQuotePairs", "p \"\"\"\" -port:1 \"\"", {"-port:1"}},
    // Tabs and other control bytes separate like spaces.
    {"ControlBytesSeparate", "p\t-host:a\r\n-port:1\x01x", {"-host:a", "-port:1", "x"}},
    {"RunsOfSpaces", "   p    a   ", {"a"}},
    // Inside quotes control bytes and spaces are kept; an open quote runs
    // to the end of the line.
    {"QuotesKeepControlBytesAndRunToTheEnd", "p \"a\tb\" \"c d", {"a\tb", "c d"}},
    {"OpenQuoteAlone", "p \"", {}},
    // No escape character: a backslash is an ordinary byte.
    {"BackslashIsNoEscape", "p a\\\"b c\"", {"a\\b c"}},
    // Bytes from 128 up belong to the argument.
    {"HighBytes", "p -host:\xE4\xF6", {"-host:\xE4\xF6"}},
};

class SplitCommandLineTest : public testing::TestWithParam<TSplitCase> {};

TEST_P(SplitCommandLineTest, SplitsIntoArguments) {
  EXPECT_EQ(SplitCommandLine(GetParam().Line), GetParam().Expected) << GetParam().Line;
}

INSTANTIATE_TEST_SUITE_P(Table, SplitCommandLineTest, testing::ValuesIn(kSplitCases), NameBy(&TSplitCase::Name));

TEST(SplitCommandLine, StopsAtAZeroByte) {
  EXPECT_EQ(SplitCommandLine(std::string("p a\0b c", 7)), TList({"a"}));
}

}  // namespace
