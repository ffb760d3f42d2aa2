// TJabberSend against the scripted server's scripts: what it sends, and how
// it reads the replies that only the sender (not the result line) shows: the
// login, the confirmed message, the error codes and the session's state
// afterwards. The conversation's cases play the scripts on a memory stream;
// the probe's Check, the close and the time-outs play them over TCP.

#include "xmpp/jabber_send.h"

#include <gtest/gtest.h>

#include <memory>

#include "net/sock_error.h"
#include "support/case_name.h"
#include "support/login.h"
#include "support/memory_stream.h"
#include "support/scripted_server.h"
#include "support/xmpp_replies.h"
#include "xmpp/jabber_send_error.h"

using namespace std::chrono_literals;
using namespace script;
using namespace xmpp_replies;
using login::LoginThen;

namespace {

// The login of alice with the password "secret" on the stream "abc"; the
// digest is the SHA-1 of "abcsecret".
const std::string kGetQuery =
    "<iq type='get' id='sw_0'><query xmlns='jabber:iq:auth'><username>alice</username></query></iq>";
const std::string kSetQuery =
    "<iq type='set' id='sw_1'><query xmlns='jabber:iq:auth'><username>alice</username>"
    "<digest>de0a408ef519cd62e7379039634152874895c50c</digest><resource>Sentrowl</resource></query></iq>";
// The message event a recipient's server sends back, about the message with
// the id `id` (the first one sent after the login).
std::string Event(const std::string& from, const std::string& to, const std::string& events,
                  const std::string& id = "mir_sw_2") {
  return "<message from='" + from + "' to='" + to + "'><x xmlns='jabber:x:event'>" + events + "<id>" + id +
         "</id></x></message>";
}

// The answers to the server's ping and to a request the sender does not serve.
const std::string kPingAnswer = "<iq type='result' id='s2c1' to='localhost'/>";
std::string ServiceUnavailable(const std::string& id, const std::string& to) {
  return "<iq type='error' id='" + id + "' to='" + to +
         "'><error type='cancel'><service-unavailable xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>";
}

// alice, password "secret", logged in over `stream`, which plays `script`
// and must outlive the sender.
std::unique_ptr<TJabberSend> LoggedIn(TMemoryStream& stream, TScript script) {
  stream.Play(std::move(script));
  auto sender = std::make_unique<TJabberSend>("alice", "secret");
  sender->Server = "127.0.0.1";
  sender->Open(stream);
  return sender;
}

// The message of the session error that ends the login over `stream`;
// empty when the session is established.
std::string Failure(TJabberSend& sender, TMemoryStream& stream) {
  sender.Server = "127.0.0.1";
  try {
    sender.Open(stream);
  } catch (const EJabberSendError& failure) {
    return failure.Message();
  }
  return "";
}

}  // namespace

TEST(JabberSend, ProbeIsEstablishedByTheAnswerAndCloseSessionEndsBothStreams) {
  TScriptedServer server(PoliteServer());
  TJabberSend probe("", "");
  probe.Check("127.0.0.1", server.Port());
  EXPECT_TRUE(probe.Connected);
  EXPECT_EQ(probe.LastError, "");
  probe.CloseSession();
  EXPECT_FALSE(probe.Connected);
  EXPECT_FALSE(probe.ProbeMode);
  EXPECT_FALSE(probe.Socket->Connected());
  ASSERT_TRUE(server.WaitFinished(0, 5s));
  EXPECT_EQ(server.Received(0), ClientHeader("127.0.0.1") + kStreamClose);
  EXPECT_EQ(server.Failure(0), "");
}

TEST(JabberSend, FullLoginSendsGetThenSetWithTheDigestOfStreamIdAndPassword) {
  TMemoryStream stream;
  auto sender = LoggedIn(stream, LoginThen({Silent()}));
  EXPECT_TRUE(sender->Connected);
  EXPECT_EQ(sender->StreamId, "abc");
  EXPECT_EQ(sender->StanzaCounter, 2);
  sender.reset();
  EXPECT_TRUE(stream.Played());
  EXPECT_EQ(stream.Sent, ClientHeader("127.0.0.1") + kGetQuery + kSetQuery);
}

TEST(JabberSend, RequestErrorMeansABadLoginBeforeTheSession) {
  TMemoryStream stream;
  stream.Play({WaitFor(kHeaderEnd), Send(kServerHeader), WaitFor("</iq>"),
               Send("<iq type='error' id='sw_0'><error code='404'>Not Found</error></iq>")});
  TJabberSend sender("alice", "secret");
  sender.Server = "127.0.0.1";
  try {
    sender.Open(stream);
    FAIL() << "the login succeeded";
  } catch (const EJabberSendError& failure) {
    EXPECT_EQ(failure.Code, jabberErrAuth);
    EXPECT_STREQ(failure.what(), "Your username or password is incorrect; <error code='404'>Not Found</error>");
  }
  EXPECT_EQ(sender.ErrorCode, jabberErrAuth);
  EXPECT_EQ(stream.CloseCount, 1);
}

// Each login query goes out once at most, whatever the server answers: a
// server that lists no digest field, or lists the fields again in answer to
// the "set" query, ends the login at once instead of drawing query after query.
TEST(JabberSend, LoginQueriesAreNeverRepeated) {
  const std::string listing = "<iq type='result' id='sw_0'>" + kPasswordFields + "</iq>";
  struct {
    const char* Name;
    TScript Replies;
    std::string Sent;
    std::int32_t Code;
    std::string Message;
  } cases[] = {
      {"no digest on offer", {Send(listing), Send(listing)}, kGetQuery, jabberErrServer,
       "Server offers no digest login; " + kPasswordFields},
      {"fields listed again",
       {Send(kAuthFields), WaitFor("</iq>"), Send("<iq type='result'>" + kDigestFields + "</iq>")},
       kGetQuery + kSetQuery, jabberErrRefused, "Connection refused by server; " + kDigestFields},
      {"stream header again", {Send(kServerHeader)}, kGetQuery, jabberErrServer, "Server error; " + kServerHeader},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TScript steps{WaitFor(kHeaderEnd), Send(kServerHeader), WaitFor("</iq>")};
    steps.insert(steps.end(), c.Replies.begin(), c.Replies.end());
    steps.push_back(Silent());
    TMemoryStream stream;
    stream.Play(steps);
    TJabberSend sender("alice", "secret");
    EXPECT_EQ(Failure(sender, stream), c.Message);
    EXPECT_EQ(sender.ErrorCode, c.Code);
    EXPECT_EQ(stream.CloseCount, 1);
    EXPECT_TRUE(stream.Played());
    EXPECT_EQ(stream.Sent, ClientHeader("127.0.0.1") + c.Sent);
  }
}

// A stream error ends the session: when the server has not closed its stream
// in the same chunk, the sender closes the session itself before it raises.
TEST(JabberSend, StreamErrorClosesTheSessionUnlessTheServerAlreadyDid) {
  for (bool serverCloses : {true, false}) {
    TScriptedServer server(
        {WaitFor(kHeaderEnd), Send(kServerHeader + kHostUnknown + (serverCloses ? kStreamClose : ""))});
    TJabberSend probe("", "");
    probe.Check("127.0.0.1", server.Port());
    EXPECT_FALSE(probe.Connected);
    EXPECT_EQ(probe.ErrorCode, jabberErrRecipient);
    EXPECT_EQ(probe.LastError, "Invalid recipient or recipient unavailable; " + kHostUnknown);
    EXPECT_EQ(probe.ProbeMode, serverCloses) << "serverCloses " << serverCloses;
  }
}

struct TMessageCase {
  const char* Name;
  std::vector<TScriptStep> Replies;
  bool Confirmed;
  std::string LastError;
  int32_t ErrorCode;
};

class SendMessageTest : public testing::TestWithParam<TMessageCase> {};

TEST_P(SendMessageTest, ConfirmsOrSaysWhyAndKeepsTheSession) {
  const TMessageCase& c = GetParam();
  std::vector<TScriptStep> steps{WaitFor("</message>")};
  steps.insert(steps.end(), c.Replies.begin(), c.Replies.end());
  steps.push_back(Silent());
  TMemoryStream stream;
  auto sender = LoggedIn(stream, LoginThen(steps));
  sender->SendMessage("bob@localhost", "hi");
  EXPECT_EQ(sender->Confirmed, c.Confirmed);
  EXPECT_EQ(sender->LastError, c.LastError);
  EXPECT_EQ(sender->ErrorCode, c.ErrorCode);
  EXPECT_TRUE(sender->Connected);
  EXPECT_EQ(stream.CloseCount, 0);
  EXPECT_NE(stream.Sent.find("to='bob@localhost' type='normal' id='mir_sw_2'"), std::string::npos);
}

const std::string kOffline = Event("bob@localhost/home", "alice@localhost/Sentrowl", "<offline/>");
const std::string kNotFound = "<message from='bob@localhost' type='error'><error code='404'>Not Found</error></message>";

INSTANTIATE_TEST_SUITE_P(
    Replies, SendMessageTest,
    testing::Values(
        TMessageCase{"Delivered", {Send(Event("bob@localhost/home", "alice@localhost/Sentrowl", "<delivered/>"))},
                     true, "", 0},
        TMessageCase{"DeliveryWinsOverOffline",
                     {Send(Event("bob@localhost/home", "alice@localhost/Sentrowl", "<offline/><delivered/>"))},
                     true, "", 0},
        TMessageCase{"Offline", {Send(kOffline)}, false,
                     "You are trying to send message to offline client; " + kOffline, jabberErrOffline},
        TMessageCase{"NoAnswer", {}, false, "Message has not been confirmed", jabberErrNotConfirmed},
        TMessageCase{"FromSomeoneElse",
                     {Send(Event("carol@localhost/home", "alice@localhost/Sentrowl", "<delivered/>"))}, false,
                     "Message has not been confirmed", jabberErrNotConfirmed},
        TMessageCase{"ToSomeoneElse",
                     {Send(Event("bob@localhost/home", "dave@localhost/Sentrowl", "<delivered/>"))}, false,
                     "Message has not been confirmed", jabberErrNotConfirmed},
        TMessageCase{"EventAboutAnEarlierMessage",
                     {Send(Event("bob@localhost/home", "alice@localhost/Sentrowl", "<delivered/>", "mir_sw_1"))},
                     false, "Message has not been confirmed", jabberErrNotConfirmed},
        TMessageCase{"OfflineAboutAnEarlierMessage",
                     {Send(Event("bob@localhost/home", "alice@localhost/Sentrowl", "<offline/>", "mir_sw_20"))},
                     false, "Message has not been confirmed", jabberErrNotConfirmed},
        TMessageCase{"LateEventAndTheAwaitedOneInOneChunk",
                     {Send(Event("bob@localhost/home", "alice@localhost/Sentrowl", "<delivered/>", "mir_sw_1") +
                           Event("bob@localhost/home", "alice@localhost/Sentrowl", "<delivered/>"))},
                     true, "", 0},
        TMessageCase{"RecipientNotFoundInTheSession", {Send(kNotFound)}, false,
                     "Invalid recipient or recipient unavailable; <error code='404'>Not Found</error>",
                     jabberErrRecipient}),
    NameBy(&TMessageCase::Name));

// A stream error in an established session is classified as one of the
// session, not of the login; the session is gone afterwards, and a further
// message says so instead of failing at the closed socket.
TEST(JabberSend, StreamErrorEndsAnEstablishedSessionAndLaterMessagesSaySo) {
  const std::string invalidFrom =
      "<stream:error><invalid-from xmlns='urn:ietf:params:xml:ns:xmpp-streams'/></stream:error>";
  TMemoryStream stream;
  auto sender = LoggedIn(stream, LoginThen({WaitFor("</message>"), Send(invalidFrom), WaitFor(kStreamClose),
                                            Send(kStreamClose), Close()}));
  sender->SendMessage("bob@localhost", "hi");
  EXPECT_EQ(sender->LastError, "Invalid recipient or recipient unavailable; " + invalidFrom);
  EXPECT_EQ(sender->ErrorCode, jabberErrRecipient);
  EXPECT_FALSE(sender->Connected);
  EXPECT_EQ(stream.CloseCount, 1);
  sender->SendMessage("bob@localhost", "again");
  EXPECT_EQ(sender->LastError, "The server has ended the session; " + invalidFrom);
  EXPECT_EQ(sender->ErrorCode, jabberErrRecipient);
  EXPECT_FALSE(sender->Confirmed);
  EXPECT_TRUE(stream.Played());
  EXPECT_EQ(stream.Sent.find("again"), std::string::npos);
}

// A server that closes its stream without an error has ended the session
// too: the message waiting for its confirmation and every later one say so,
// and the sender closes its own stream. A confirmation in the same chunk as
// the close still counts.
TEST(JabberSend, StreamCloseEndsAnEstablishedSessionAndLaterMessagesSaySo) {
  const std::string ended = "The server has ended the session; </stream:stream>";
  TMemoryStream stream;
  auto sender =
      LoggedIn(stream, LoginThen({WaitFor("</message>"), Send(kStreamClose), WaitFor(kStreamClose), Close()}));
  sender->SendMessage("bob@localhost", "hi");
  EXPECT_EQ(sender->LastError, ended);
  EXPECT_EQ(sender->ErrorCode, jabberErrUnavailable);
  EXPECT_FALSE(sender->Connected);
  EXPECT_EQ(stream.CloseCount, 1);
  sender->SendMessage("bob@localhost", "again");
  EXPECT_EQ(sender->LastError, ended);
  EXPECT_TRUE(stream.Played());
  EXPECT_EQ(stream.Sent.find("again"), std::string::npos);

  TMemoryStream confirming;
  sender = LoggedIn(confirming, LoginThen({WaitFor("</message>"),
                                           Send(Event("bob@localhost/home", "alice@localhost/Sentrowl",
                                                      "<delivered/>") +
                                                kStreamClose),
                                           Silent()}));
  sender->SendMessage("bob@localhost", "hi");
  EXPECT_TRUE(sender->Confirmed);
  EXPECT_EQ(sender->LastError, "");
  sender->SendMessage("bob@localhost", "again");
  EXPECT_EQ(sender->LastError, ended);

  // After the close, in the same chunk, nothing belongs to the stream.
  for (const std::string after : {"<delivered/>", "<offline/>"}) {
    SCOPED_TRACE(after);
    TMemoryStream late;
    const std::string event = Event("bob@localhost/home", "alice@localhost/Sentrowl", after);
    sender = LoggedIn(late, LoginThen({WaitFor("</message>"), Send(kStreamClose + event), Silent()}));
    sender->SendMessage("bob@localhost", "hi");
    EXPECT_FALSE(sender->Confirmed);
    EXPECT_EQ(sender->LastError, ended);
    EXPECT_EQ(sender->ErrorCode, jabberErrUnavailable);
  }
}

// Requests, presence and white space during the wait settle nothing; the
// requests are answered, so a server that pings its clients is not left
// waiting, and the confirmation still counts.
TEST(JabberSend, RequestsDuringTheWaitAreAnsweredAndTheMessageIsStillConfirmed) {
  const std::string ping = "<iq from='localhost' to='alice@localhost/Sentrowl' type='get' id='s2c1'>"
                           "<ping xmlns='urn:xmpp:ping'/></iq>";
  const std::string version = "<iq from='carol@localhost/x' type='get' id='v1'><query xmlns='jabber:iq:version'/></iq>";
  const std::string versionAnswer = ServiceUnavailable("v1", "carol@localhost/x");
  TMemoryStream stream;
  const std::string delivered = Event("bob@localhost/home", "alice@localhost/Sentrowl", "<delivered/>");
  auto sender = LoggedIn(stream, LoginThen({WaitFor("</message>"), Send(ping), WaitFor(kPingAnswer),
                                            Send("<presence from='bob@localhost/home'/>" + version),
                                            WaitFor(versionAnswer), Send("\n"), Send(delivered), Silent()}));
  sender->SendMessage("bob@localhost", "hi");
  EXPECT_TRUE(sender->Confirmed) << sender->LastError;
  EXPECT_EQ(sender->LastError, "");
  sender.reset();
  EXPECT_TRUE(stream.Played());
  const std::string received = stream.Sent;
  EXPECT_EQ(received.substr(received.find("</message>") + 10), kPingAnswer + versionAnswer);
}

// The same chunks while the login waits for its answers settle nothing
// either, instead of failing the login.
TEST(JabberSend, RequestsDuringTheLoginAreAnsweredAndTheLoginGoesOn) {
  const std::string ping = "<iq from='localhost' type='get' id='s2c1'><ping xmlns='urn:xmpp:ping'/></iq>";
  const std::string setAnswer = ServiceUnavailable("r1", "localhost");
  const std::string roster = "<iq from='localhost' type='set' id='r1'><query xmlns='jabber:iq:roster'/></iq>";
  TMemoryStream stream;
  auto sender = LoggedIn(stream, {WaitFor(kHeaderEnd), Send(kServerHeader), WaitFor("</iq>"), Send(ping),
                                  WaitFor(kPingAnswer), Send("<presence from='bob@localhost/home'/>"), Send(roster),
                                  WaitFor(setAnswer), Send(kAuthFields), WaitFor("</iq>"), Send(ping),
                                  WaitFor(kPingAnswer), Send(kAuthDone), Silent()});
  EXPECT_TRUE(sender->Connected);
  sender.reset();
  EXPECT_TRUE(stream.Played());
  EXPECT_EQ(stream.Sent,
            ClientHeader("127.0.0.1") + kGetQuery + kPingAnswer + setAnswer + kSetQuery + kPingAnswer);
}

// However much one receive of the stream delivers (TLS hands out all its
// plaintext at once), the conversation judges chunks of at most 20480 bytes,
// as it does on the socket: a stream error cut at that boundary stays
// unrecognised instead of being classified whole.
TEST(JabberSend, RepliesAreJudgedInChunksOfAtMost20480Bytes) {
  const std::string cut = "<stream:error><host-unk";
  TMemoryStream stream;
  stream.Push(kServerHeader + std::string(20480 - kServerHeader.size() - cut.size(), ' ') + cut +
              "nown xmlns='urn:ietf:params:xml:ns:xmpp-streams'/></stream:error></stream:stream>");
  TJabberSend probe("", "");
  probe.ProbeMode = true;
  try {
    probe.Open(stream);
    FAIL() << "the probe was established";
  } catch (const EJabberSendError& failure) {
    EXPECT_EQ(failure.Code, jabberErrUnexpected) << failure.what();
  }
  EXPECT_EQ(stream.ReceiveCount, 1);
}

TEST(JabberSend, SendMessageWithoutAConnectionFailsAtTheSendAndPassesItOn) {
  TJabberSend sender("alice", "secret");
  try {
    sender.SendMessage("bob@localhost", "hi");
    FAIL() << "the message was sent";
  } catch (const EVHSyncSockError& failure) {
    EXPECT_EQ(failure.Code, sockErrWinSock);
  }
  EXPECT_EQ(sender.LastError, "Winsock error");
}

// A stream error that arrives while the session is being closed ends that
// close rather than starting another inside it, so a server that keeps
// sending them cannot exhaust the stack.
TEST(JabberSend, StreamErrorsWhileClosingEndTheCloseWithoutNestingAnother) {
  TScriptedServer server({WaitFor(kHeaderEnd), Send(kServerHeader), WaitFor(kStreamClose), Send(kConflict),
                          Send(kConflict), Send(kConflict), Silent()});
  TJabberSend probe("", "");
  probe.ResponseTimeout = 2000;
  probe.Check("127.0.0.1", server.Port());
  ASSERT_TRUE(probe.Connected);
  probe.CloseSession();
  EXPECT_FALSE(probe.Connected);
  EXPECT_EQ(probe.ErrorCode, jabberErrUnavailable);
  ASSERT_TRUE(server.WaitFinished(0, 5s));
  EXPECT_EQ(server.Received(0), ClientHeader("127.0.0.1") + kStreamClose);
}

// Chunks that settle nothing must not hold a wait past its time-out: not the
// probe's, not the close's, not a message's confirmation.
TEST(JabberSend, ChunksThatSettleNothingDoNotExtendAWait) {
  const auto start = std::chrono::steady_clock::now();
  const auto since = [&] { return std::chrono::steady_clock::now() - start; };
  {
    TScriptedServer server(Chatter({WaitFor(kHeaderEnd)}, 6s));
    TJabberSend probe("", "");
    probe.ResponseTimeout = 500;
    probe.Check("127.0.0.1", server.Port());
    EXPECT_FALSE(probe.Connected);
    EXPECT_EQ(probe.LastError, "Cannot read data");
    EXPECT_LT(since(), 3s);
  }
  {
    TScriptedServer server(Chatter({WaitFor(kHeaderEnd), Send(kServerHeader), WaitFor(kStreamClose)}, 6s));
    TJabberSend probe("", "");
    probe.ResponseTimeout = 500;
    probe.Check("127.0.0.1", server.Port());
    ASSERT_TRUE(probe.Connected) << probe.LastError;
    const auto closing = std::chrono::steady_clock::now();
    probe.CloseSession();
    EXPECT_FALSE(probe.Connected);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 3s);
  }
  {
    TScriptedServer server(LoginThen(Chatter({}, 6s)));
    auto sender = login::LoggedIn(server);
    sender->ConfirmTimeout = 500;
    const auto sending = std::chrono::steady_clock::now();
    sender->SendMessage("bob@localhost", "hello");
    EXPECT_EQ(sender->LastError, "Message has not been confirmed");
    EXPECT_TRUE(sender->Connected);
    EXPECT_LT(std::chrono::steady_clock::now() - sending, 3s);
  }
}
