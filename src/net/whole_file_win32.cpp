// Reading a whole file with Win32 calls.

#include "net/whole_file.h"

#include <windows.h>

TFileRead ReadWholeFile(const std::string& Path, std::size_t MaxBytes, std::string& Content, std::int32_t& Error) {
  // Opening a folder fails with "Access denied", which would send the user
  // looking for a permission; its attributes tell what it is. A name without
  // attributes (missing, say) gets the system's reason from the open below.
  const DWORD attributes = GetFileAttributesA(Path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return TFileRead::NotRegular;
  const HANDLE file = CreateFileA(Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Error = static_cast<std::int32_t>(GetLastError());
    return TFileRead::SystemError;
  }
  TFileRead result = TFileRead::Done;
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK) {
    result = TFileRead::NotRegular;
  } else if (!GetFileSizeEx(file, &size)) {
    Error = static_cast<std::int32_t>(GetLastError());
    result = TFileRead::SystemError;
  } else if (static_cast<std::uint64_t>(size.QuadPart) > MaxBytes) {
    result = TFileRead::TooLarge;
  }
  Content.clear();
  char buffer[16384];
  while (result == TFileRead::Done) {
    DWORD n = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
      Error = static_cast<std::int32_t>(GetLastError());
      result = TFileRead::SystemError;
    } else if (n == 0) {
      break;
    } else if (Content.size() + n > MaxBytes) {
      result = TFileRead::TooLarge;
    } else {
      Content.append(buffer, n);
    }
  }
  CloseHandle(file);
  return result;
}
