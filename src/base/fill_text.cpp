#include "base/fill_text.h"

std::string FillText(std::string_view Text, const std::vector<std::string>& Values) {
  std::string result;
  std::size_t next = 0;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    if (Text.compare(i, 2, "{}") == 0) {
      if (next < Values.size()) result += Values[next++];
      ++i;
    } else {
      result += Text[i];
    }
  }
  return result;
}
