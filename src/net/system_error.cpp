// System error texts: the platform layer supplies the raw text, this file
// trims it and supplies the fallback, the same way on every platform.

#include "net/system_error.h"

#include "net/platform.h"

std::string TrimControlChars(std::string_view Text) {
  auto isControl = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  std::size_t first = 0;
  std::size_t last = Text.size();
  while (first < last && isControl(Text[first])) ++first;
  while (last > first && isControl(Text[last - 1])) --last;
  return std::string(Text.substr(first, last - first));
}

std::string SystemErrorText(std::int32_t Number) {
  std::string raw;
  if (netplatform::RawErrorText(Number, raw)) return TrimControlChars(raw);
  return "Cannot retrieve error description (error #" + std::to_string(Number) + ")";
}
