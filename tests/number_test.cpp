#include "text/number.h"

#include <gtest/gtest.h>

#include <string>

#include "support/case_name.h"

namespace {

struct TLenientCase {
  std::string Text;
  int32_t Expected;
};

// The command-line rule: never fails, a text read in part loses its sign.
const TLenientCase kLenientCases[] = {
    {"", 0},
    {"5222", 5222},
    {"5222abc", 5222},
    {"-15x", 15},
    {"-15", -15},
    {"+7", 7},
    {"  42", 42},
    {" -1", -1},
    {"007", 7},
    {"abc", 0},
    {"-", 0},
    {"+", 0},
    {"  ", 0},
    {"42 ", 42},                // stopped at the space: the value so far
    {"-42 ", 42},               // ... without its sign
    {"2147483647", 2147483647},
    {"2147483648", INT32_MIN},  // read whole: wraps
    {"-2147483648", INT32_MIN},
    {"2147483649", -2147483647},
    {"99999999999", 999999999},  // eleven nines: stops after nine digits
    {"9999999999", 999999999},
    {"-99999999999", 999999999},
    {"$1466", 5222},
    {"x1466", 5222},
    {"X1466", 5222},
    {"0x1466", 5222},
    {"0X1466", 5222},
    {"$abcdef", 0xABCDEF},
    {"$FFFFFFFF", -1},
    {"$1FFFFFFFF", 0x1FFFFFFF},  // stops before the ninth digit
    {"$000000001", 1},           // leading zeros keep it small
    {"x", 0},
    {"$", 0},
    {"0x", 0},
    {"$12G", 0x12},
    {"-$10", 0},                 // hexadecimal takes no sign
    {"0", 0},
    {"65536", 65536},
    {"70758", 70758},
};

class ReadNumberTest : public testing::TestWithParam<TLenientCase> {};

TEST_P(ReadNumberTest, GivesTheRuleValue) {
  EXPECT_EQ(ReadNumber(GetParam().Text), GetParam().Expected) << '"' << GetParam().Text << '"';
}

INSTANTIATE_TEST_SUITE_P(Table, ReadNumberTest, testing::ValuesIn(kLenientCases), NameBy(&TLenientCase::Text));

struct TStrictCase {
  std::string Text;
  bool Reads;
  int32_t Expected;  // when it reads
};

// The strict sibling: one whole number or nothing.
const TStrictCase kStrictCases[] = {
    {"401", true, 401},
    {"  404", true, 404},
    {"-1", true, -1},
    {"+7", true, 7},
    {"0", true, 0},
    {"2147483647", true, INT32_MAX},
    {"-2147483648", true, INT32_MIN},
    {"$1F5", true, 501},
    {"x1F5", true, 501},
    {"0x1f5", true, 501},
    {"0X1F5", true, 501},
    {"$FFFFFFFF", true, -1},
    {"0x00000000FFFFFFFF", true, -1},
    {"", false, 0},
    {"   ", false, 0},
    {"-", false, 0},
    {"$", false, 0},
    {"0x", false, 0},
    {"401 ", false, 0},
    {"401a", false, 0},
    {"abc", false, 0},
    {"- 1", false, 0},
    {"-$1", false, 0},
    {"2147483648", false, 0},
    {"-2147483649", false, 0},
    {"99999999999", false, 0},
    {"$100000000", false, 0},
    {"\t401", false, 0},  // only spaces lead
};

class TryReadNumberTest : public testing::TestWithParam<TStrictCase> {};

TEST_P(TryReadNumberTest, ReadsOnlyWholeNumbers) {
  const TStrictCase& c = GetParam();
  int32_t value = 12345;
  EXPECT_EQ(TryReadNumber(c.Text, value), c.Reads) << '"' << c.Text << '"';
  EXPECT_EQ(value, c.Reads ? c.Expected : 12345) << '"' << c.Text << '"';
}

INSTANTIATE_TEST_SUITE_P(Table, TryReadNumberTest, testing::ValuesIn(kStrictCases), NameBy(&TStrictCase::Text));

}  // namespace
