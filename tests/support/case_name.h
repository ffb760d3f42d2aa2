#pragma once
// Names for the cases of table-driven tests, so that a case is named by what
// it holds rather than by its place in the table.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The text that tells a case apart, as a test name: letters and digits stay,
// the signs such texts hold are spelled out ("-15x" is "Minus15x", "a:b" is
// "a_b"), any other byte is written as its hexadecimal code, and no text at
// all is "Empty". A name that would begin with a digit, and look like a
// case's place in the table, begins with "Of".
inline std::string CaseName(std::string_view text) {
  static const struct {
    char Sign;
    const char* Name;
  } kSigns[] = {{' ', "Sp"},  {'-', "Minus"}, {'+', "Plus"},      {'$', "Dollar"}, {':', "_"},
                {'.', "Dot"}, {'/', "Slash"}, {'?', "Query"},     {'"', "Quote"},  {'\\', "Backslash"},
                {'*', "Star"}, {'[', "Open"}, {']', "Close"},     {'\t', "Tab"}};
  std::string name;
  for (const char c : text) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      name += c;
      continue;
    }
    const char* spelled = nullptr;
    for (const auto& sign : kSigns)
      if (sign.Sign == c) spelled = sign.Name;
    char code[3];
    std::snprintf(code, sizeof code, "%02X", static_cast<unsigned char>(c));
    name += spelled != nullptr ? spelled : code;
  }
  if (name.empty()) return "Empty";
  return name[0] >= '0' && name[0] <= '9' ? "Of" + name : name;
}

// Arguments, each as CaseName names it, joined by "_".
inline std::string CaseName(const std::vector<std::string>& arguments) {
  std::string name;
  for (const std::string& argument : arguments) name += (name.empty() ? "" : "_") + CaseName(argument);
  return name.empty() ? "Empty" : name;
}

// The name generator of INSTANTIATE_TEST_SUITE_P that names each case by
// CaseName of its `field`.
template <typename TCase, typename TField>
auto NameBy(TField TCase::*field) {
  return [field](const testing::TestParamInfo<TCase>& info) { return CaseName(info.param.*field); };
}
