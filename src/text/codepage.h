#pragma once
// Conversions between 8-bit text in the system's ANSI code page and wide
// (UTF-16) text. On POSIX the code page is ISO-8859-1; on Windows it is the
// system's CP_ACP.

#include <string>

// Widens Text: each byte becomes the character the code page gives it.
std::u16string AnsiToWide(const std::string& Text);

// Narrows Text: a character the code page cannot represent becomes the code
// page's default character ("?").
std::string WideToAnsi(const std::u16string& Text);

// True when Text, narrow text from the command line, goes into the stream
// and into the login's digest as UTF-8 byte for byte. On POSIX a command line
// is UTF-8, so valid UTF-8 does; other bytes keep their ISO-8859-1 reading.
// On Windows narrow text is the ANSI code page, so none does.
bool IsUtf8Argument(const std::string& Text);
