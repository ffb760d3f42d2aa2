#include "app/std_output.h"

#include "app/console.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// The code page 437 bytes the banner draws its box with, and the same
// characters in UTF-8. Each takes one column either way.
struct TBoxCharacter {
  unsigned char Cp437;
  std::string_view Utf8;
};
constexpr TBoxCharacter kBoxCharacters[] = {
    {0xB3, "\u2502"},  // vertical, single
    {0xB7, "\u2556"},  // top-right corner, double vertical, single horizontal
    {0xBA, "\u2551"},  // vertical, double
    {0xBC, "\u255D"},  // bottom-right corner, double
    {0xC4, "\u2500"},  // horizontal, single
    {0xCD, "\u2550"},  // horizontal, double
    {0xD4, "\u2558"},  // bottom-left corner, single vertical, double horizontal
    {0xDA, "\u250C"},  // top-left corner, single
    {0xFE, "\u25A0"},  // small filled square
};

}  // namespace

std::string Cp437BoxToUtf8(std::string_view Cp437) {
  std::string utf8;
  for (char c : Cp437) {
    std::string_view converted(&c, 1);
    for (const TBoxCharacter& box : kBoxCharacters)
      if (static_cast<unsigned char>(c) == box.Cp437) converted = box.Utf8;
    utf8 += converted;
  }
  return utf8;
}

TStdOutput::TStdOutput(bool ToTerminal, bool Utf8Terminal, TWrite Write)
    : FToTerminal(ToTerminal), FUtf8Terminal(ToTerminal && Utf8Terminal), FWrite(std::move(Write)) {}

TStdOutput::~TStdOutput() {
  try {
    Flush();
  } catch (...) {
    // Nothing can be reported any more.
  }
}

void TStdOutput::WriteLine(std::string_view Bytes) {
  if (FToTerminal) {
    std::string line(Bytes);
    line += kLineEnd;
    FWrite(line);
    return;
  }
  FPending += Bytes;
  FPending += kLineEnd;
}

void TStdOutput::WriteBoxLine(std::string_view Cp437) {
  if (FUtf8Terminal)
    WriteLine(Cp437BoxToUtf8(Cp437));
  else
    WriteLine(Cp437);
}

void TStdOutput::Flush() {
  if (FPending.empty()) return;
  FWrite(FPending);
  FPending.clear();
}

TStdOutput& ProcessStdOutput() {
  static TStdOutput output = [] {
    PrepareStdOut();
    const bool terminal = StdOutIsTerminal();
    return TStdOutput(terminal, terminal && TerminalUsesUtf8(), WriteStdOut);
  }();
  return output;
}
