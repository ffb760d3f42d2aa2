#pragma once
// The two fixed texts the program writes when it is started without usable
// arguments: the banner (a box drawn in code page 437 bytes, then the
// program's purpose) and the usage text.

#include "app/line_writer.h"

// Writes the six lines of the banner.
void WriteBanner(TLineWriter& Out);

// Writes the eleven lines of the usage text.
void WriteUsage(TLineWriter& Out);
