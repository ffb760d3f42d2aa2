#pragma once
// The one exception base class of the program. Every failure the program
// raises itself derives from it; callers that must not fail catch it (and
// std::exception for what the standard library throws) and keep its message.

#include <exception>
#include <stdexcept>
#include <string>

class EBaseError : public std::runtime_error {
 public:
  explicit EBaseError(const std::string& Text) : std::runtime_error(Text), FMessage(Text) {}

  // The whole message. It can carry a server's text, zero bytes included,
  // which what() would end at.
  const std::string& Message() const { return FMessage; }

 private:
  std::string FMessage;
};

// The message of any exception a caller keeps instead of passing it on.
inline std::string MessageOf(const std::exception& Failure) {
  if (const auto* own = dynamic_cast<const EBaseError*>(&Failure)) return own->Message();
  return Failure.what();
}
