#include "app/usage_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Keeps every line, and whether it was written as a box line.
class TRecorder : public TLineWriter {
 public:
  std::vector<std::string> Lines;
  std::vector<bool> Box;
  void WriteLine(std::string_view bytes) override { Add(bytes, false); }
  void WriteBoxLine(std::string_view cp437) override { Add(cp437, true); }

 private:
  void Add(std::string_view bytes, bool box) {
    Lines.emplace_back(bytes);
    Box.push_back(box);
  }
};

std::string Repeat(size_t count, unsigned char byte) { return std::string(count, static_cast<char>(byte)); }
std::string Byte(unsigned char byte) { return Repeat(1, byte); }

TEST(WriteBanner, TopAndBottomEdgesByteForByte) {
  TRecorder out;
  WriteBanner(out);
  ASSERT_EQ(out.Lines.size(), 6u);
  EXPECT_EQ(out.Lines[0], Byte(218) + Byte(196) + Repeat(3, 254) + Repeat(73, 196) + Byte(183));
  EXPECT_EQ(out.Lines[3], Byte(212) + Repeat(77, 205) + Byte(188));
  EXPECT_EQ(out.Lines[4], " Purpose: send XMPP stanza to specified server and check response");
  EXPECT_EQ(out.Lines[5], "");
  EXPECT_EQ(out.Box, std::vector<bool>({true, true, true, true, false, false}));
}

// The inner lines: single bars at columns 1, 31 and 50, the double edge at
// 79, and the fixed middle cells.
TEST(WriteBanner, InnerLinesKeepTheirColumns) {
  TRecorder out;
  WriteBanner(out);
  ASSERT_EQ(out.Lines.size(), 6u);
  const std::string middle[] = {"   Version 0.05   ", "  February, 2007  "};
  for (int row = 0; row < 2; ++row) {
    const std::string& line = out.Lines[1 + row];
    ASSERT_EQ(line.size(), 79u) << row;
    EXPECT_EQ(line[0], '\xB3');
    EXPECT_EQ(line[30], '\xB3');
    EXPECT_EQ(line[49], '\xB3');
    EXPECT_EQ(line[78], '\xBA');
    EXPECT_EQ(line.substr(31, 18), middle[row]);
    // The maker's cells hold plain printable text.
    for (size_t column : {1, 50})
      for (size_t i = column; i < column + (column == 1 ? 29 : 28); ++i)
        EXPECT_TRUE(line[i] >= 32 && line[i] < 127) << row << ":" << i;
  }
  EXPECT_EQ(out.Lines[1].substr(1, 29), " Tolvane                     ");
}

}  // namespace
