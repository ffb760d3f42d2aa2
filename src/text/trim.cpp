#include "text/trim.h"

std::string TrimControlChars(std::string_view Text) {
  auto isControl = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  std::size_t first = 0;
  std::size_t last = Text.size();
  while (first < last && isControl(Text[first])) ++first;
  while (last > first && isControl(Text[last - 1])) --last;
  return std::string(Text.substr(first, last - first));
}
