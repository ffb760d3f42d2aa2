#include "xmpp/stanzas.h"

#include <gtest/gtest.h>

#include <string>

#include "support/xmpp_replies.h"

namespace {

using xmpp_replies::ClientHeader;
using xmpp_replies::kStreamClose;

std::string Contents(const TOutBuffer& Buffer) { return std::string(Buffer.Data, Buffer.Len); }

std::string Repeat(const std::string& Piece, std::size_t Times) {
  std::string result;
  for (std::size_t i = 0; i < Times; ++i) result += Piece;
  return result;
}

// What each builder leaves in the buffer.
std::string HeaderSent(TOutBuffer& buffer, const std::string& server) {
  BuildStreamHeader(buffer, server);
  return Contents(buffer);
}
std::string QuerySent(TOutBuffer& buffer, const std::string& user, const std::string& digestSource,
                      std::uint16_t& counter, const std::string& type) {
  BuildAuthQuery(buffer, user, digestSource, counter, type);
  return Contents(buffer);
}
std::string MessageSent(TOutBuffer& buffer, const std::string& recipient, const std::string& body,
                        std::uint16_t& counter) {
  BuildMessage(buffer, recipient, body, counter);
  return Contents(buffer);
}

// The stanzas expected, from their values as they stand in the stream; a
// query with a digest also names the resource.
std::string Query(const std::string& type, int id, const std::string& user, const std::string& digest = "") {
  return "<iq type='" + type + "' id='sw_" + std::to_string(id) + "'><query xmlns='jabber:iq:auth'><username>" + user +
         "</username>" + (digest.empty() ? "" : "<digest>" + digest + "</digest><resource>Sentrowl</resource>") +
         "</query></iq>";
}
std::string Message(const std::string& recipient, int id, const std::string& body) {
  return "<message to='" + recipient + "' type='normal' id='mir_sw_" + std::to_string(id) + "'><body>" + body +
         "</body><x xmlns='jabber:x:event'><offline/><delivered/></x></message>";
}

// What a sender sends over one full login and message, on one counter.
TEST(Stanzas, LoginAndMessageShareTheCounter) {
  TOutBuffer buffer;
  std::uint16_t counter = 0;
  EXPECT_EQ(HeaderSent(buffer, "example.org"), ClientHeader("example.org"));
  EXPECT_EQ(QuerySent(buffer, "alice", "", counter, "get"), Query("get", 0, "alice"));
  EXPECT_EQ(counter, 1);
  EXPECT_EQ(QuerySent(buffer, "alice", "3f9a1b2csecret", counter, "set"),
            Query("set", 1, "alice", "07d04d4459ec26a41e0dfa4d1c68079a5847561b"));
  EXPECT_EQ(counter, 2);
  EXPECT_EQ(MessageSent(buffer, "bob@example.net", "hi <there>", counter),
            Message("bob@example.net", 2, "hi &lt;there&gt;"));
  EXPECT_EQ(counter, 3);

  for (int i = 0; i < 2; ++i) {
    BuildStreamClose(buffer);
    EXPECT_EQ(Contents(buffer), kStreamClose);
    EXPECT_EQ(buffer.Len, 16);
  }
  EXPECT_EQ(counter, 3);
}

TEST(Stanzas, CounterWrapsAfter65535) {
  TOutBuffer buffer;
  std::uint16_t counter = 65535;
  EXPECT_NE(QuerySent(buffer, "u", "", counter, "get").find("id='sw_65535'"), std::string::npos);
  EXPECT_EQ(counter, 0);
  EXPECT_NE(QuerySent(buffer, "u", "", counter, "get").find("id='sw_0'"), std::string::npos);

  counter = 65535;
  EXPECT_NE(MessageSent(buffer, "r@x", "b", counter).find("id='mir_sw_65535'"), std::string::npos);
  EXPECT_EQ(counter, 0);
  EXPECT_NE(MessageSent(buffer, "r@x", "b", counter).find("id='mir_sw_0'"), std::string::npos);
}

// Attribute values are delimited by apostrophes, so they also escape "'";
// element content keeps the plain escape.
TEST(Stanzas, InsertedValuesAreEscaped) {
  TOutBuffer buffer;
  std::uint16_t counter = 7;
  EXPECT_EQ(HeaderSent(buffer, "a&b'c<d>\""), ClientHeader("a&amp;b&apos;c&lt;d&gt;&quot;"));
  EXPECT_EQ(QuerySent(buffer, "o'k<&>", "", counter, "g'et"), Query("g&apos;et", 7, "o'k&lt;&amp;&gt;"));
  EXPECT_EQ(MessageSent(buffer, "o'neil&co<x>@example.net", "it's \xE9", counter),
            Message("o&apos;neil&amp;co&lt;x&gt;@example.net", 8, "it's &#233;"));
}

// The answers carry the request's values as received: already escaped, they
// must keep their meaning, and only what cannot stand between apostrophes
// changes.
TEST(Stanzas, IqAnswersEchoTheRequestsValues) {
  TOutBuffer buffer;
  BuildIqResult(buffer, "localhost", "s2c1");
  EXPECT_EQ(Contents(buffer), "<iq type='result' id='s2c1' to='localhost'/>");
  BuildIqResult(buffer, "", "p&amp;1");
  EXPECT_EQ(Contents(buffer), "<iq type='result' id='p&amp;1'/>");
  BuildIqServiceUnavailable(buffer, "it's&#233;<&x", "v1");
  EXPECT_EQ(Contents(buffer),
            "<iq type='error' id='v1' to='it&apos;s&#233;&lt;&amp;x'><error type='cancel'>"
            "<service-unavailable xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
}

// The digest is taken over the UTF-8 form of stream id and password; the
// rest of the query comes back through the code page byte for byte.
TEST(Stanzas, DigestQueryKeepsItsBytes) {
  TOutBuffer buffer;
  std::uint16_t counter = 0;
  EXPECT_EQ(QuerySent(buffer, "caf\xE9\x85", "c0ffee\xE9t\xE9", counter, "set"),
            Query("set", 0, "caf&#233;\x85", "a902eac394ebdd3fc1318d867549d406556df172"));
}

// Text that is UTF-8 as it stands goes into the stream and the digest
// unchanged where a command line is UTF-8 (POSIX); elsewhere, like text that
// is not UTF-8, its bytes are read as ISO-8859-1.
#ifdef _WIN32
constexpr bool kUtf8CommandLine = false;
#else
constexpr bool kUtf8CommandLine = true;
#endif

TEST(Stanzas, Utf8TextKeepsItsBytes) {
  TOutBuffer buffer;
  std::uint16_t counter = 0;
  EXPECT_EQ(HeaderSent(buffer, "ch\xC3\xA4t.example"),
            ClientHeader(kUtf8CommandLine ? "ch\xC3\xA4t.example" : "ch&#195;&#164;t.example"));
  EXPECT_EQ(QuerySent(buffer, "j\xC3\xBCrgen", "abcp\xC3\xA4ss", counter, "set"),
            kUtf8CommandLine ? Query("set", 0, "j\xC3\xBCrgen", "8013eb8df054ff262796c73347eef8f88a5a41b6")
                             : Query("set", 0, "j&#195;&#188;rgen", "dcdb4f2a0ba18a88590b209adbcfdba915a73202"));
  // A character is not cut at the body's limit.
  EXPECT_EQ(MessageSent(buffer, "b\xC3\xB6" "b@example.net", std::string(4095, 'a') + "\xC3\xA4", counter),
            Message(kUtf8CommandLine ? "b\xC3\xB6" "b@example.net" : "b&#195;&#182;b@example.net", 1,
                    std::string(4095, 'a') + (kUtf8CommandLine ? "" : "&#195;")));
}

TEST(Stanzas, MessageBodyCut) {
  const std::string recipient = "bob@example.net";
  const std::size_t room = 8192 - Message(recipient, 0, "").size();
  // Fills the room to 3 bytes short, so neither the "&" after it (5 bytes
  // escaped) nor anything behind the "&" may follow.
  const std::size_t wide = (room - 3) / 6;
  const std::size_t narrow = room - 3 - 6 * wide;

  struct Case {
    const char* Name;
    std::string Body;
    std::string ExpectedBody;
  };
  const Case cases[] = {
      {"first 4096 bytes", std::string(5000, 'a'), std::string(4096, 'a')},
      {"exactly 4096 bytes", std::string(4096, 'a'), std::string(4096, 'a')},
      {"escapes kept whole", std::string(4096, '&'), Repeat("&amp;", room / 5)},
      {"shortened from the end",
       std::string(wide, '\xE9') + std::string(narrow, 'a') + "&aaa",
       Repeat("&#233;", wide) + std::string(narrow, 'a')},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TOutBuffer buffer;
    std::uint16_t counter = 0;
    EXPECT_EQ(MessageSent(buffer, recipient, c.Body, counter), Message(recipient, 0, c.ExpectedBody));
    EXPECT_LE(buffer.Len, 8192);
  }
}

// Only the message makes room for itself; other stanzas keep the buffer's
// plain cut.
TEST(Stanzas, OverlongHeaderIsCutByTheBuffer) {
  TOutBuffer buffer;
  BuildStreamHeader(buffer, std::string(9000, 's'));
  EXPECT_EQ(Contents(buffer), ClientHeader(std::string(9000, 's')).substr(0, 8192));
}

}  // namespace
