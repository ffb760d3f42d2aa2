#pragma once
// The program's standard output as a line writer.

#include <functional>
#include <string>
#include <string_view>

#include "app/line_writer.h"

// Writes each line as its bytes and CR LF. To a terminal every line goes out
// at once; to a pipe or a file the lines are kept and go out together on
// Flush (or when the writer is destroyed), which a monitoring host reads as
// one piece. On a terminal whose locale uses UTF-8, box lines are shown with
// the UTF-8 forms of their code page 437 characters; anywhere else they keep
// their bytes.
class TStdOutput : public TLineWriter {
 public:
  using TWrite = std::function<void(std::string_view Bytes)>;

  TStdOutput(bool ToTerminal, bool Utf8Terminal, TWrite Write);
  ~TStdOutput() override;
  TStdOutput(const TStdOutput&) = delete;
  TStdOutput& operator=(const TStdOutput&) = delete;

  void WriteLine(std::string_view Bytes) override;
  void WriteBoxLine(std::string_view Cp437) override;

  // Writes out whatever is kept. Call it before the process ends.
  void Flush();

 private:
  bool FToTerminal;
  bool FUtf8Terminal;
  TWrite FWrite;
  std::string FPending;
};

// The writer for this process's standard output.
TStdOutput& ProcessStdOutput();

// The banner's code page 437 box characters in UTF-8; other bytes unchanged.
std::string Cp437BoxToUtf8(std::string_view Cp437);
