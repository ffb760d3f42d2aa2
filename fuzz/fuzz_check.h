#pragma once
// What the fuzz targets share: a check that ends the run with a readable
// message when a property does not hold, so libFuzzer records the input as a
// crash just as it does for a sanitizer report.

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, \
                   #condition);                                                        \
      std::abort();                                                                    \
    }                                                                                  \
  } while (false)

namespace fuzz {

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

inline bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace fuzz
