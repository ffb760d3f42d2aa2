#pragma once
// The fixed texts of a family of error codes, each written beside its code
// in one table: every text the user can see stands in one place, and no
// index arithmetic can pair a code with its neighbour's text.

#include <cstdint>
#include <span>

struct TCodeText {
  std::int32_t Code;
  const char* Text;
};

// The text of Code in Table. A code the table lacks gets the text of
// Fallback, so that no message is ever empty.
inline const char* TextOf(std::span<const TCodeText> Table, std::int32_t Code, std::int32_t Fallback) {
  const char* fallback = "";
  for (const TCodeText& entry : Table) {
    if (entry.Code == Code) return entry.Text;
    if (entry.Code == Fallback) fallback = entry.Text;
  }
  return fallback;
}
