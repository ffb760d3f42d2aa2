#include "app/command_line.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/base_error.h"
#include "support/case_name.h"

namespace {

TFrontEnd Parse(std::vector<std::string> arguments) {
  TFrontEnd state;
  ParseCommandLine(state, ArgumentsFrom(std::move(arguments)));
  return state;
}

TEST(ParseCommandLine, NoArgumentsAsksForUsage) {
  const TFrontEnd state = Parse({});
  EXPECT_TRUE(state.ShowUsage);
  EXPECT_EQ(state.Verdict, 0);
}

struct THelpCase {
  std::vector<std::string> Arguments;
  bool ShowUsage;
};

// A help switch counts only as the whole first argument; then nothing
// after it is read.
const THelpCase kHelpCases[] = {
    {{"/h", "-host:a", "-port:5222"}, true},
    {{"/?", "-host:a", "-port:5222"}, true},
    {{"-h", "-host:a", "-port:5222"}, true},
    {{"-?", "-host:a", "-port:5222"}, true},
    {{"/H", "-host:a", "-port:5222"}, false},
    {{"-H", "-host:a", "-port:5222"}, false},
    {{"-help", "-host:a", "-port:5222"}, false},
    {{"-h ", "-host:a", "-port:5222"}, false},
    {{"-host:a", "-port:5222", "-h"}, false},
    {{"-host:a", "-port:5222", "/?"}, false},
};

class HelpSwitchTest : public testing::TestWithParam<THelpCase> {};

TEST_P(HelpSwitchTest, OnlyAsTheWholeFirstArgument) {
  const TFrontEnd state = Parse(GetParam().Arguments);
  EXPECT_EQ(state.ShowUsage, GetParam().ShowUsage) << GetParam().Arguments[0];
  if (GetParam().ShowUsage) {
    EXPECT_EQ(state.Host, "");
    EXPECT_EQ(state.Port, 0);
  } else {
    EXPECT_EQ(state.Host, "a");
    EXPECT_EQ(state.Port, 5222);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, HelpSwitchTest, testing::ValuesIn(kHelpCases), NameBy(&THelpCase::Arguments));

struct TKeyCase {
  std::vector<std::string> Arguments;
  std::string Host;
  uint16_t Port;
  int32_t Timeout;
  std::string Domain = "";
};

const TKeyCase kKeyCases[] = {
    {{"-host:xmpp.example.org", "-port:5222", "-timeout:10000"}, "xmpp.example.org", 5222, 10000},
    {{"-timeout:7", "-port:1", "-host:h"}, "h", 1, 7},
    // Case-sensitive keys.
    {{"-HOST:a", "-Port:5222", "-TIMEOUT:5"}, "", 0, 0},
    // The last occurrence wins.
    {{"-host:a", "-host:b", "-port:1", "-port:2"}, "b", 2, 0},
    // A key anywhere in an argument that begins with "-"; its first
    // occurrence is cut out and the rest joined.
    {{"--host:a"}, "-a", 0, 0},
    {{"-x-host:a"}, "-xa", 0, 0},
    {{"-host:a-host:b"}, "a-host:b", 0, 0},
    {{"x-host:a", "/port:5"}, "", 0, 0},
    // Only the first key found applies, in the order host, port, timeout.
    {{"-host:-port:1"}, "-port:1", 0, 0},
    {{"-port:-host:1"}, "-port:1", 0, 0},
    {{"-port:9-timeout:5"}, "", 9, 0},
    // Values are taken unchanged; an empty host clears an earlier one.
    {{"-host: a b "}, " a b ", 0, 0},
    {{"-host:a", "-host:"}, "", 0, 0},
    // Ports keep the low 16 bits of the number rule's value.
    {{"-port:5222abc"}, "", 5222, 0},
    {{"-port:abc"}, "", 0, 0},
    {{"-port:"}, "", 0, 0},
    {{"-port:65536"}, "", 0, 0},
    {{"-port:70758"}, "", 5222, 0},
    {{"-port:-1"}, "", 65535, 0},
    {{"-port:$1466"}, "", 5222, 0},
    {{"-port:0x"}, "", 0, 0},
    {{"-port:0"}, "", 0, 0},
    // Time-outs keep all 32 bits.
    {{"-timeout:15x"}, "", 0, 15},
    {{"-timeout:-5"}, "", 0, -5},
    {{"-timeout:abc"}, "", 0, 0},
    {{"-timeout:$FFFFFFFF"}, "", 0, -1},
    // The domain is read like the host, after the other keys.
    {{"-domain:example.net", "-host:127.0.0.1"}, "127.0.0.1", 0, 0, "example.net"},
    {{"-domain:a", "-domain:"}, "", 0, 0, ""},
    {{"-host:-domain:x"}, "-domain:x", 0, 0, ""},
    {{"-domain:-host:x"}, "-domain:x", 0, 0, ""},
    {{"-timeout:5-domain:x"}, "", 0, 5, ""},
    {{"-DOMAIN:x", "x-domain:y"}, "", 0, 0, ""},
    // Unrecognised arguments are ignored.
    {{"-verbose", "", "-", "-port", "-host"}, "", 0, 0},
};

class KeyTest : public testing::TestWithParam<TKeyCase> {};

TEST_P(KeyTest, SetsTheState) {
  const TKeyCase& c = GetParam();
  const TFrontEnd state = Parse(c.Arguments);
  EXPECT_EQ(state.Host, c.Host) << c.Arguments[0];
  EXPECT_EQ(state.Port, c.Port) << c.Arguments[0];
  EXPECT_EQ(state.Timeout, c.Timeout) << c.Arguments[0];
  EXPECT_EQ(state.Domain, c.Domain) << c.Arguments[0];
  EXPECT_FALSE(state.ShowUsage);
  EXPECT_EQ(state.Verdict, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, KeyTest, testing::ValuesIn(kKeyCases), NameBy(&TKeyCase::Arguments));

// The TLS keys are tried after the others, in the order -tls:, -cafile:,
// -certdays:. A key not given at all differs from one given empty.
TEST(ParseCommandLine, TlsKeys) {
  TFrontEnd state = Parse({"-tls:starttls", "-cafile:/etc/ca.pem", "-certdays:0x1E", "-tls:direct"});
  EXPECT_EQ(state.Tls, "direct");
  EXPECT_EQ(state.CaFile, "/etc/ca.pem");
  EXPECT_EQ(state.CertDays, "0x1E");
  state = Parse({"-timeout:-tls:x", "-tls:-cafile:y", "-cafile:-certdays:5"});
  EXPECT_EQ(state.Timeout, 0);
  EXPECT_EQ(state.Tls, "-cafile:y");
  EXPECT_EQ(state.CaFile, "-certdays:5");
  EXPECT_FALSE(state.CertDays.has_value());
  state = Parse({"-TLS:starttls", "-host:a"});
  EXPECT_FALSE(state.Tls.has_value());
  EXPECT_FALSE(state.CaFile.has_value());
  EXPECT_EQ(Parse({"-tls:"}).Tls, "");
}

// Arguments whose reading fails at a given index with the given exception.
template <typename TError>
TArguments FailingAt(std::vector<std::string> list, int failing_index, const char* message) {
  const int count = static_cast<int>(list.size());
  return {count, [list, failing_index, message](int index) -> std::string {
            if (index == failing_index) throw TError(message);
            return list.at(static_cast<size_t>(index));
          }};
}

TEST(ParseCommandLine, FailureWhileReadingKeepsEarlierValuesAndStops) {
  TFrontEnd state;
  ParseCommandLine(state, FailingAt<EBaseError>({"-host:a", "-port:5222", "-x", "-host:b"}, 2,
                                                "Out of argument space"));
  EXPECT_TRUE(state.ShowUsage);
  EXPECT_EQ(state.Verdict, 2);
  EXPECT_EQ(state.VerdictText, "Out of argument space");
  EXPECT_EQ(state.Host, "a");
  EXPECT_EQ(state.Port, 5222);
}

TEST(ParseCommandLine, StandardExceptionsAreCaughtToo) {
  TFrontEnd state;
  ParseCommandLine(state, FailingAt<std::runtime_error>({"-port:1"}, 0, "cannot read"));
  EXPECT_TRUE(state.ShowUsage);
  EXPECT_EQ(state.Verdict, 2);
  EXPECT_EQ(state.VerdictText, "cannot read");
}

}  // namespace
