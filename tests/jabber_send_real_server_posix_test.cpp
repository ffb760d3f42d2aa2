// The full sender against real servers: the digest login, messages and the
// close against ejabberd, with a second client of the test's own as the
// recipient; the login against Prosody, whose legacy login has no digest.

#include "xmpp/jabber_send.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "support/ejabberd.h"
#include "support/login.h"
#include "support/loopback.h"
#include "support/prosody.h"
#include "support/xmpp_replies.h"
#include "text/xml_text.h"
#include "xmpp/jabber_send_error.h"

using namespace std::chrono_literals;

namespace {

// A second client, logged in to ejabberd as user@localhost/home and
// available, that answers each message it receives with a delivered event:
// about that message, or about the one before it (none for the first), as a
// recipient that confirms too late would.
class TRecipient {
 public:
  enum class TAnswer { AboutIt, AboutThePrevious };

  TRecipient(uint16_t port, const std::string& user, const std::string& password, TAnswer answer)
      : FClient(loopback::Connect(port)), FAnswer(answer) {
    FClient.Send(xmpp_replies::ClientHeader("localhost"));
    Expect("jabber:client");
    FClient.Send("<iq type='set' id='r1'><query xmlns='jabber:iq:auth'><username>" + user +
                 "</username><password>" + password + "</password><resource>home</resource></query></iq>");
    Expect("type='result' id='r1'");
    // Until its presence is back, the server would store messages for it.
    FClient.Send("<presence/>");
    FPending = Expect("<presence");
    FThread = std::thread([this] { Serve(); });
  }

  ~TRecipient() {
    FStop = true;
    FThread.join();
  }

 private:
  std::string Expect(const std::string& marker) {
    const std::string text = FClient.ReceiveUntil(marker, 10s);
    if (text.find(marker) == std::string::npos) throw std::runtime_error("recipient: no " + marker + " in " + text);
    return text;
  }

  void Serve() {
    const std::string end = "</message>";
    std::string previous;
    while (!FStop) {
      const std::string chunk = FClient.ReceiveOnce(100ms);
      if (chunk.empty()) std::this_thread::sleep_for(10ms);  // also after a close, which returns at once
      FPending += chunk;
      for (auto at = FPending.find("<message"); at != std::string::npos; at = FPending.find("<message")) {
        const auto close = FPending.find(end, at);
        if (close == std::string::npos) break;
        const std::string tag = FPending.substr(at, FPending.find('>', at) + 1 - at);
        FPending.erase(0, close + end.size());
        const std::string id = GetAttribute("id", tag);
        const std::string about = FAnswer == TAnswer::AboutIt ? id : previous;
        previous = id;
        if (about.empty()) continue;
        FClient.Send("<message to='" + GetAttribute("from", tag) + "'><x xmlns='jabber:x:event'><delivered/><id>" +
                     about + "</id></x></message>");
      }
    }
  }

  loopback::Socket FClient;
  TAnswer FAnswer;
  std::string FPending;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

std::unique_ptr<TJabberSend> Sender(uint16_t port, const std::string& user, const std::string& password) {
  auto sender = std::make_unique<TJabberSend>(user, password);
  sender->Server = "localhost";
  sender->Port = port;
  sender->ResponseTimeout = 10000;
  return sender;
}

}  // namespace

TEST(JabberSendEjabberd, ProbeLoginAndCloseAndTheLoginsThatFail) {
  TEjabberdServer& server = TEjabberdServer::Shared();
  server.Register("alice", "secret");

  TJabberSend probe("", "");
  probe.Check("localhost", server.Port());
  EXPECT_TRUE(probe.Connected) << probe.LastError;
  probe.CloseSession();

  // Accepted, the digest was that of the stream id followed by the password.
  auto sender = Sender(server.Port(), "alice", "secret");
  sender->Connect();
  EXPECT_TRUE(sender->Connected);
  EXPECT_FALSE(sender->StreamId.empty());
  // Ended by the server's own stream close: long before the wait could run
  // out, and with no error met.
  const auto closing = std::chrono::steady_clock::now();
  sender->CloseSession();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, 5s);
  EXPECT_FALSE(sender->Connected);
  EXPECT_EQ(sender->ErrorCode, 0);

  for (const auto& [user, password] : {std::pair{"alice", "wrong"}, std::pair{"nobody", "secret"}}) {
    SCOPED_TRACE(user);
    auto refused = Sender(server.Port(), user, password);
    EXPECT_EQ(login::Failure(*refused),
              "Your username or password is incorrect; <error type='auth'>"
              "<not-authorized xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error>");
    EXPECT_EQ(refused->ErrorCode, jabberErrAuth);
  }
}

// One session carries all the messages. The server pings a session idle for
// a second, so the two-second waits meet pings too.
TEST(JabberSendEjabberd, MessagesAreConfirmedOrSayWhyNot) {
  TEjabberdServer& server = TEjabberdServer::Shared();
  for (const char* user : {"alice", "bob", "carol", "dave"}) server.Register(user, "secret");
  TRecipient bob(server.Port(), "bob", "secret", TRecipient::TAnswer::AboutIt);
  TRecipient carol(server.Port(), "carol", "secret", TRecipient::TAnswer::AboutThePrevious);
  auto sender = Sender(server.Port(), "alice", "secret");
  sender->Connect();
  sender->ConfirmTimeout = 2000;

  const std::string offlineFront = "You are trying to send message to offline client; <message ";
  struct {
    const char* Name;
    const char* Recipient;
    std::int32_t Code;
    std::string LastError;  // its start, for the offline event, whose attributes are the server's
  } cases[] = {
      {"online recipient", "bob@localhost", 0, ""},
      {"offline recipient", "dave@localhost", jabberErrOffline, offlineFront},
      {"unknown recipient", "nobody@localhost", jabberErrRecipient,
       "Invalid recipient or recipient unavailable; <error type='cancel'>"
       "<service-unavailable xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error>"},
      {"silent recipient", "carol@localhost", jabberErrNotConfirmed, "Message has not been confirmed"},
      {"event about the message before", "carol@localhost", jabberErrNotConfirmed, "Message has not been confirmed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string id = "mir_sw_" + std::to_string(sender->StanzaCounter);
    sender->ErrorCode = 0;
    sender->SendMessage(c.Recipient, "hello");
    EXPECT_EQ(sender->Confirmed, c.Code == 0);
    EXPECT_EQ(sender->ErrorCode, c.Code);
    if (c.Code == jabberErrOffline) {
      EXPECT_EQ(sender->LastError.substr(0, offlineFront.size()), offlineFront);
      EXPECT_NE(sender->LastError.find("<offline/><id>" + id + "</id>"), std::string::npos) << sender->LastError;
    } else {
      EXPECT_EQ(sender->LastError, c.LastError);
    }
    ASSERT_TRUE(sender->Connected);
  }
  sender->CloseSession();
  EXPECT_FALSE(sender->Connected);
}

// Prosody's legacy login lists no digest field; the login ends at that list,
// where once every answer drew another "set" query.
TEST(JabberSendProsody, DigestLoginEndsAtAFieldListWithoutDigest) {
  TProsodyServer server({.LegacyAuth = true, .LogStanzas = true});
  auto sender = Sender(server.Port(), "alice", "secret");
  EXPECT_EQ(login::Failure(*sender),
            "Server offers no digest login; <query xmlns='jabber:iq:auth'><username/><password/><resource/></query>");
  EXPECT_EQ(sender->ErrorCode, jabberErrServer);
  const std::string log = server.Log();
  auto count = [&](const std::string& type) {
    std::size_t n = 0;
    for (auto at = log.find("Received[c2s_unauthed]: <iq"); at != std::string::npos;
         at = log.find("Received[c2s_unauthed]: <iq", at + 1)) {
      n += log.compare(log.find("type=", at), type.size(), type) == 0;
    }
    return n;
  };
  EXPECT_EQ(count("type='get'"), 1u) << log;
  EXPECT_LE(count("type='set'"), 1u);
}
