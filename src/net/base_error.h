#pragma once
// The one exception base class of the program. Every failure the program
// raises itself derives from it; callers that must not fail catch it (and
// std::exception for what the standard library throws) and keep its message.

#include <stdexcept>
#include <string>

class EBaseError : public std::runtime_error {
 public:
  explicit EBaseError(const std::string& message) : std::runtime_error(message) {}
};
