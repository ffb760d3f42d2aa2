// The shape the error families share: one number is a different failure in
// each family, and what fills a text is never read as a text itself.

#include "base/coded_error.h"

#include <gtest/gtest.h>

#include "net/sock_error.h"
#include "net/tls_error.h"
#include "xmpp/jabber_send_error.h"

namespace {

TEST(CodedError, TheFamilyTellsTheSameNumberApart) {
  static_assert(sockErrInit == -1 && tlsErrLibrary == -1 && jabberErrServer == -1);
  const EVHSyncSockError socket(sockErrInit, 0, "");
  const ETlsError tls(tlsErrLibrary, {"libssl.so.3: cannot open shared object file"});
  const EJabberSendError session(jabberErrServer, "");
  EXPECT_EQ(socket.Message(), "Cannot init WinSock");
  EXPECT_EQ(tls.Message(), "TLS is not available. libssl.so.3: cannot open shared object file");
  EXPECT_EQ(session.Message(), "Server error");
  EXPECT_EQ(&socket.Family(), &kSockErrors);
  EXPECT_EQ(&tls.Family(), &kTlsErrors);
  EXPECT_EQ(&session.Family(), &kJabberErrors);
}

TEST(CodedError, WhatFillsATextIsTakenAsItIs) {
  EXPECT_EQ(ETlsError(tlsErrConnection, {"bad {} record"}).Message(), "TLS connection failed. bad {} record");
  EXPECT_EQ(EJabberSendError(jabberErrAuth, "<x a='{}'/>").Message(),
            "Your username or password is incorrect; <x a='{}'/>");
  EXPECT_EQ(EVHSyncSockError(sockErrRead, 104, "{}").Message(), "Cannot read data. {}");
}

}  // namespace
