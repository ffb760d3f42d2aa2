#include "text/base64.h"

#include <gtest/gtest.h>

#include <string>

#include "support/case_name.h"

namespace {

struct TVector {
  std::string Bytes;
  std::string Text;
};

// RFC 4648 §10, and bytes with the high bit set.
const TVector kVectors[] = {
    {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe\xfd", "//79"},
};

TEST(Base64, Vectors) {
  for (const TVector& v : kVectors) {
    SCOPED_TRACE(v.Text);
    EXPECT_EQ(Base64Encode(v.Bytes), v.Text);
    EXPECT_EQ(Base64Decode(v.Text), v.Bytes);
  }
}

class Base64Malformed : public testing::TestWithParam<std::string> {};

TEST_P(Base64Malformed, IsRefused) { EXPECT_EQ(Base64Decode(GetParam()), std::nullopt); }

INSTANTIATE_TEST_SUITE_P(
    Texts, Base64Malformed,
    testing::Values("Zg", "Zg=", "Zm9vY", "Zg==Zg==", "Zg=a", "=Zm9", "Z===", "====",
                    "Zh==",  // bits left over under the padding
                    "Zm9=",  // the same with one "="
                    "Zm 9v", "Zm9v\r\n", "Zm-v", "Zm_v", std::string("Zm\0v", 4), "Zm9v\xc3\xa9=="),
    [](const testing::TestParamInfo<std::string>& info) { return CaseName(info.param); });

}  // namespace
