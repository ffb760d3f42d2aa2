#include "base/deadline.h"

TDeadline::TDeadline(std::int32_t TimeoutMs)
    : FTimeoutMs(TimeoutMs),
      FEnd(TimeoutMs > 0 ? TClock::now() + std::chrono::milliseconds(TimeoutMs) : TClock::time_point{}) {}

std::int32_t TDeadline::Next() const {
  if (!Limited()) return FTimeoutMs;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(FEnd - TClock::now()).count();
  return left > 0 ? static_cast<std::int32_t>(left) : -1;
}
