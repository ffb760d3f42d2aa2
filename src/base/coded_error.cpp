// The composition of a coded error's message.

#include "base/coded_error.h"

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

ECodedError::ECodedError(const TErrorFamily& AFamily, std::int32_t ACode, const std::vector<std::string>& Values,
                         const std::string& Detail)
    : ECodedError(AFamily, ACode, AFamily.TextOf(ACode), Values, Detail) {}

ECodedError::ECodedError(const TErrorFamily& AFamily, std::int32_t ACode, const char* Text,
                         const std::vector<std::string>& Values, const std::string& Detail)
    : EBaseError(FillText(Text, Values) + (Detail.empty() ? std::string() : FillText(AFamily.Detail, {Detail}))),
      Code(ACode),
      FFamily(&AFamily) {}
