#pragma once
// ECodedError: the shape every family of coded errors shares. A family is a
// table of fixed texts, one per code, and the way a detail follows a text;
// an error is a code of one family. Families number their codes on their
// own, so one number can mean a step of the socket in one and a class of the
// server's errors in another: the family tells them apart.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/base_error.h"
#include "base/code_text.h"

struct TErrorFamily {
  std::span<const TCodeText> Texts;
  std::int32_t Fallback;  // the code whose text a code outside Texts gets
  // How a detail follows the text, "{}" standing for it; "" where every
  // detail has a place of its own in the text.
  const char* Detail;

  const char* TextOf(std::int32_t Code) const { return ::TextOf(Texts, Code, Fallback); }
};

// Text with each "{}" replaced by the next of Values; a "{}" beyond the
// values is left out.
std::string FillText(std::string_view Text, const std::vector<std::string>& Values);

class ECodedError : public EBaseError {
 public:
  // The message is the code's text with its "{}" filled from Values, then,
  // when Detail is not empty, Detail as the family's Detail places it.
  ECodedError(const TErrorFamily& AFamily, std::int32_t ACode, const std::vector<std::string>& Values,
              const std::string& Detail);
  // The same with Text in place of the code's own.
  ECodedError(const TErrorFamily& AFamily, std::int32_t ACode, const char* Text, const std::vector<std::string>& Values,
              const std::string& Detail);

  const TErrorFamily& Family() const { return *FFamily; }

  std::int32_t Code;

 private:
  const TErrorFamily* FFamily;
};
