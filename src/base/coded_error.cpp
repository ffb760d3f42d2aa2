// The composition of a coded error's message.

#include "base/coded_error.h"

ECodedError::ECodedError(const TErrorFamily& AFamily, std::int32_t ACode, const std::vector<std::string>& Values,
                         const std::string& Detail)
    : ECodedError(AFamily, ACode, AFamily.TextOf(ACode), Values, Detail) {}

ECodedError::ECodedError(const TErrorFamily& AFamily, std::int32_t ACode, const char* Text,
                         const std::vector<std::string>& Values, const std::string& Detail)
    : EBaseError(FillText(Text, Values) + (Detail.empty() ? std::string() : FillText(AFamily.Detail, {Detail}))),
      Code(ACode),
      FFamily(&AFamily) {}
