#include "text/out_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Contents(const TOutBuffer& Buffer) { return std::string(Buffer.Data, Buffer.Len); }

struct AppendCase {
  const char* Name;
  std::uint32_t StartLen;  // filled with 'p' before the append
  std::string Text;
  std::string Expected;  // the whole contents afterwards
};

TEST(OutBuffer, AppendTextCutsAtCapacity) {
  const std::string prefix8190(8190, 'p');
  const std::string prefix8000(8000, 'p');
  const std::string long9000 = std::string(8192, 'x') + std::string(808, 'y');
  const AppendCase cases[] = {
      {"empty text", 10, "", std::string(10, 'p')},
      {"room for 2", 8190, "abcde", prefix8190 + "ab"},
      {"exact fit", 8000, std::string(192, 'e'), prefix8000 + std::string(192, 'e')},
      {"over-long first append", 0, long9000, std::string(8192, 'x')},
      {"embedded zero byte", 0, std::string("a\0b\0", 4), std::string("a\0b\0", 4)},
      {"already full", 8192, "z", std::string(8192, 'p')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TOutBuffer buffer;
    buffer.Len = 0;
    AppendText(buffer, std::string(c.StartLen, 'p'));
    AppendText(buffer, c.Text);
    EXPECT_EQ(Contents(buffer), c.Expected);
  }
}

TEST(OutBuffer, FullBufferIgnoresLaterAppends) {
  TOutBuffer buffer;
  buffer.Len = 0;
  AppendText(buffer, std::string(8190, 'p'));
  AppendText(buffer, "abcde");
  AppendText(buffer, "more");
  AppendBytes(buffer, "x", 1);
  EXPECT_EQ(buffer.Len, 8192);
  EXPECT_EQ(Contents(buffer).substr(8188), "ppab");
}

TEST(OutBuffer, ReuseSendsOnlyTheNewBytes) {
  TOutBuffer buffer;
  buffer.Len = 0;
  AppendText(buffer, "<a long first stanza/>");
  buffer.Len = 0;
  AppendText(buffer, "<b/>");
  EXPECT_EQ(Contents(buffer), "<b/>");
}

}  // namespace
