// TLS over a byte stream, where no real server is needed: a handshake the
// stream below never completes.

#include "net/tls_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "net/tls_error.h"
#include "support/case_name.h"
#include "support/memory_stream.h"

namespace {

struct THandshakeCase {
  std::string Name;
  std::function<void(TMemoryStream&)> Server;  // what the server does after the ClientHello
  std::string Message;
};

class HandshakeTest : public testing::TestWithParam<THandshakeCase> {};

TEST_P(HandshakeTest, FailsWithItsReason) {
  TTlsContext context("");
  TMemoryStream lower;
  lower.OnSend = [&](TMemoryStream& stream, std::string_view) { GetParam().Server(stream); };
  TTlsStream tls(lower, context, "localhost");
  try {
    tls.Handshake(1000);
    ADD_FAILURE() << "handshake completed";
  } catch (const ETlsError& e) {
    EXPECT_EQ(e.Message(), GetParam().Message);
  }
  ASSERT_EQ(lower.Sends.size(), 1u);
  EXPECT_EQ(lower.Sends[0].substr(0, 1), "\x16");  // a handshake record: the ClientHello
  // A failed handshake has nothing to close politely: the stream below is
  // closed and nothing more is sent.
  tls.Close();
  EXPECT_EQ(lower.Sends.size(), 1u);
  EXPECT_EQ(lower.CloseCount, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HandshakeTest,
    testing::Values(
        THandshakeCase{"NoAnswer", [](TMemoryStream&) {},
                       "TLS handshake failed. The server did not answer in time"},
        THandshakeCase{"Closed", [](TMemoryStream& s) { s.PushClosed(); },
                       "TLS handshake failed. The server closed the connection"}),
    NameBy(&THandshakeCase::Name));

}  // namespace
