#include "net/system_error.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

namespace {

// What the system's message table holds for the number, or empty.
std::string MessageTable(int number) {
  char buffer[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(number), 0, buffer,
                           sizeof buffer, nullptr);
  return std::string(buffer, n);
}

TEST(SystemErrorText, KnownNumberGivesTheSystemsSentenceWithoutItsLineBreak) {
  for (int number : {WSAECONNREFUSED, WSAECONNRESET, WSAHOST_NOT_FOUND, static_cast<int>(ERROR_FILE_NOT_FOUND)}) {
    SCOPED_TRACE(number);
    const std::string table = MessageTable(number);
    ASSERT_GE(table.size(), 2u) << "the system has no text for this number";
    ASSERT_EQ(table.substr(table.size() - 2), "\r\n");
    EXPECT_EQ(SystemErrorText(number), table.substr(0, table.size() - 2));
  }
}

}  // namespace
