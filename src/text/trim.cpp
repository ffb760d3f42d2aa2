#include "text/trim.h"

std::string_view TrimmedView(std::string_view Text) {
  while (!Text.empty() && IsBlankOrControl(Text.front())) Text.remove_prefix(1);
  while (!Text.empty() && IsBlankOrControl(Text.back())) Text.remove_suffix(1);
  return Text;
}

std::string TrimControlChars(std::string_view Text) { return std::string(TrimmedView(Text)); }
