#include "net/sock_error.h"

#include <gtest/gtest.h>

#include "net/system_error.h"

namespace {

struct CodeText {
  std::int32_t code;
  const char* text;
};

TEST(SockError, EveryCodeHasItsText) {
  const CodeText cases[] = {
      {sockErrWinSock, "Winsock error"},
      {sockErrConnect, "Connection error"},
      {sockErrRead, "Cannot read data"},
      {sockErrSend, "Cannot send data"},
      {sockErrCreate, "Cannot create socket"},
      {sockErrResolve, "Cannot resolve host name to IP address"},
      {sockErrInit, "Cannot init WinSock"},
      {sockErrTimeout, "Timeout"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_STREQ(SockErrorText(c.code), c.text);
    EXPECT_STREQ(EVHSyncSockError(c.code, 0, "").what(), c.text);
  }
}

TEST(SockError, CodeOutsideTheTableStillGivesAMessage) {
  EXPECT_STREQ(SockErrorText(1), "Winsock error");
  EXPECT_STREQ(SockErrorText(-8), "Winsock error");
}

struct Composition {
  std::int32_t code;
  std::int32_t number;
  std::string description;
  std::string message;
};

TEST(SockError, MessageAppendsTheDescriptionOnlyWithANumber) {
  const Composition cases[] = {
      {sockErrRead, 0, "", "Cannot read data"},
      {sockErrConnect, 111, "Connection refused", "Connection error. Connection refused"},
      {sockErrConnect, 111, "Ends in a full stop.", "Connection error. Ends in a full stop."},
      {sockErrSend, 32, "", "Cannot send data"},                  // number without text
      {sockErrWinSock, 0, "not shown", "Winsock error"},          // text without number
      {sockErrSend, 99999, SystemErrorText(99999),
       "Cannot send data. Cannot retrieve error description (error #99999)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EVHSyncSockError e(c.code, c.number, c.description);
    EXPECT_EQ(std::string(e.what()), c.message);
    EXPECT_EQ(e.Code, c.code);
    EXPECT_EQ(e.WinSockError, c.number);
    EXPECT_EQ(e.Description, c.description);
  }
}

TEST(SockError, IsCaughtAsTheBaseError) {
  try {
    throw EVHSyncSockError(sockErrRead, 0, "");
  } catch (const EBaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot read data");
    return;
  }
  FAIL() << "not an EBaseError";
}

}  // namespace
