// System error texts: the platform layer supplies the raw text, this file
// trims it and supplies the fallback, the same way on every platform.

#include "net/system_error.h"

#include "net/platform.h"
#include "text/trim.h"

std::string SystemErrorText(std::int32_t Number) {
  std::string raw;
  if (netplatform::RawErrorText(Number, raw)) return TrimControlChars(raw);
  return "Cannot retrieve error description (error #" + std::to_string(Number) + ")";
}
