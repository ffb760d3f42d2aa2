// The system's ANSI code page (CP_ACP) through the Win32 conversions.

#include "text/codepage.h"

#include <windows.h>

#include <climits>

// Wide text on Windows is UTF-16 in wchar_t, the same units as char16_t.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace {

std::u16string ToWide(UINT CodePage, const std::string& Text) {
  if (Text.empty() || Text.size() > INT_MAX) return {};
  const int size = static_cast<int>(Text.size());
  const int length = MultiByteToWideChar(CodePage, 0, Text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::u16string result(static_cast<std::size_t>(length), u'\0');
  MultiByteToWideChar(CodePage, 0, Text.data(), size, reinterpret_cast<wchar_t*>(result.data()), length);
  return result;
}

std::string FromWide(UINT CodePage, const std::u16string& Text) {
  if (Text.empty() || Text.size() > INT_MAX) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(Text.data());
  const int size = static_cast<int>(Text.size());
  const int length = WideCharToMultiByte(CodePage, 0, wide, size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string result(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CodePage, 0, wide, size, result.data(), length, nullptr, nullptr);
  return result;
}

}  // namespace

std::u16string AnsiToWide(const std::string& Text) { return ToWide(CP_ACP, Text); }

std::string WideToAnsi(const std::u16string& Text) { return FromWide(CP_ACP, Text); }

bool IsUtf8Argument(const std::string&) { return false; }

std::string ArgumentToUtf8(const std::string& Text) { return FromWide(CP_UTF8, AnsiToWide(Text)); }
