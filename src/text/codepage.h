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

// An argument's text as UTF-8, as a login sends it: on POSIX the system
// hands arguments over in UTF-8 already and they are kept byte for byte; on
// Windows they come in the ANSI code page and are converted.
std::string ArgumentToUtf8(const std::string& Text);
