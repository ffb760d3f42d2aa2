#pragma once
// Where the front end writes its lines. Each line is written as its bytes,
// unchanged, followed by CR LF.

#include <string_view>

class TLineWriter {
 public:
  virtual ~TLineWriter() = default;

  // Writes one line of text.
  virtual void WriteLine(std::string_view Bytes) = 0;

  // Writes one line of the banner's box, drawn in code page 437 bytes. A
  // writer may show the box characters in the reader's own character set;
  // by default they are written like any other line.
  virtual void WriteBoxLine(std::string_view Cp437) { WriteLine(Cp437); }
};
