#include "app/usage_text.h"

#include <string>
#include <string_view>

namespace {

// Code page 437 bytes of the box. Its left and top edges are single lines,
// its right and bottom edges double ones.
constexpr char kTopLeft = '\xDA';        // single corner
constexpr char kTopRight = '\xB7';       // double vertical, single horizontal
constexpr char kBottomLeft = '\xD4';     // single vertical, double horizontal
constexpr char kBottomRight = '\xBC';    // double corner
constexpr char kSingleHorizontal = '\xC4';
constexpr char kDoubleHorizontal = '\xCD';
constexpr char kSingleVertical = '\xB3';
constexpr char kDoubleVertical = '\xBA';
constexpr char kSmallSquare = '\xFE';

// Every box line is this wide; the three cells between the bars are
// 29, 18 and 28 characters wide.
constexpr size_t kBoxWidth = 79;
constexpr size_t kCellWidths[3] = {29, 18, 28};

// The cells of the two inner box lines, before they are filled with spaces.
constexpr std::string_view kBoxCells[2][3] = {
    {" Tolvane", "   Version 0.05   ", " https://example.org/tolvane"},
    {" XMPP availability check", "  February, 2007  ", " tolvane@example.org"},
};

constexpr std::string_view kPurpose =
    " Purpose: send XMPP stanza to specified server and check response";

constexpr std::string_view kUsage[] = {
    " Usage:> tolvane.exe -host:<hostname|IP> -port:<port> [-timeout:<timeout>]",
    "",
    " Parameters:",
    "  -host    : XMPP server name or IP address",
    "  -port    : XMPP port",
    "  -timeout : communication timeout (msec)",
    "",
    " Examples:",
    "  tolvane -host:xmpp.example.org -port:5222 -timeout:10000",
    "  tolvane.exe -host:192.168.10.20 -port:5222",
    "",
};

constexpr bool CellsFit() {
  for (const auto& row : kBoxCells)
    for (size_t cell = 0; cell < 3; ++cell)
      if (row[cell].size() > kCellWidths[cell]) return false;
  return true;
}
static_assert(CellsFit(), "a banner cell is wider than its column");

// A top or bottom edge: its corners and the run of horizontals between them.
std::string EdgeLine(char Left, std::string_view AfterLeft, char Horizontal, char Right) {
  std::string line(1, Left);
  line += AfterLeft;
  line.append(kBoxWidth - 2 - AfterLeft.size(), Horizontal);
  line += Right;
  return line;
}

// An inner line: three cells filled with spaces to their widths, between
// single bars and a double right edge.
std::string CellLine(const std::string_view (&Cells)[3]) {
  std::string line;
  for (size_t cell = 0; cell < 3; ++cell) {
    line += kSingleVertical;
    line += Cells[cell];
    line.append(kCellWidths[cell] - Cells[cell].size(), ' ');
  }
  line += kDoubleVertical;
  return line;
}

}  // namespace

void WriteBanner(TLineWriter& Out) {
  const char top_mark[] = {kSingleHorizontal, kSmallSquare, kSmallSquare, kSmallSquare};
  Out.WriteBoxLine(EdgeLine(kTopLeft, std::string_view(top_mark, sizeof top_mark),
                            kSingleHorizontal, kTopRight));
  Out.WriteBoxLine(CellLine(kBoxCells[0]));
  Out.WriteBoxLine(CellLine(kBoxCells[1]));
  Out.WriteBoxLine(EdgeLine(kBottomLeft, "", kDoubleHorizontal, kBottomRight));
  Out.WriteLine(kPurpose);
  Out.WriteLine("");
}

void WriteUsage(TLineWriter& Out) {
  for (std::string_view line : kUsage) Out.WriteLine(line);
}
