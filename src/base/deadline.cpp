#include "base/deadline.h"

namespace {

constexpr const char* kNoAnswerWithin = "No answer within ";
constexpr const char* kNoAnswerMs = " ms (";
constexpr const char* kNoAnswerEnd = ")";

}  // namespace

TDeadline::TDeadline(std::int32_t TimeoutMs)
    : FTimeoutMs(TimeoutMs),
      FEnd(TimeoutMs > 0 ? TClock::now() + std::chrono::milliseconds(TimeoutMs) : TClock::time_point{}) {}

std::int32_t TDeadline::Next() const {
  if (!Limited()) return FTimeoutMs;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(FEnd - TClock::now()).count();
  return left > 0 ? static_cast<std::int32_t>(left) : -1;
}

std::int32_t ShorterTimeout(std::int32_t A, std::int32_t B) {
  if (A == 0) return B;
  if (B == 0) return A;
  if (A < 0 || B < 0) return -1;
  return A < B ? A : B;
}

EDeadlinePassed::EDeadlinePassed(std::int32_t TimeoutMs, const std::string& What)
    : EBaseError(kNoAnswerWithin + std::to_string(TimeoutMs) + kNoAnswerMs + What + kNoAnswerEnd) {}
