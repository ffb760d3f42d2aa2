#include "net/sock_error.h"

#include <gtest/gtest.h>

#include "net/system_error.h"

namespace {

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

// Every code once with its text, and each way a description is shown or not.
TEST(SockError, MessageAppendsTheDescriptionOnlyWithANumber) {
  const Composition cases[] = {
      {sockErrRead, 0, "", "Cannot read data"},
      {sockErrConnect, 111, "Connection refused", "Connection error. Connection refused"},
      {sockErrConnect, 111, "Ends in a full stop.", "Connection error. Ends in a full stop."},
      {sockErrSend, 32, "", "Cannot send data"},                  // number without text
      {sockErrWinSock, 0, "not shown", "Winsock error"},          // text without number
      {sockErrSend, 99999, SystemErrorText(99999),
       "Cannot send data. Cannot retrieve error description (error #99999)"},
      {sockErrCreate, 24, "Too many open files", "Cannot create socket. Too many open files"},
      {sockErrResolve, -2, "Name or service not known",
       "Cannot resolve host name to IP address. Name or service not known"},
      {sockErrInit, 10091, "Network subsystem is unavailable", "Cannot init WinSock. Network subsystem is unavailable"},
      {sockErrTimeout, 0, "", "Timeout"},
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
