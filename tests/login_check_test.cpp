#include "xmpp/login_check.h"

#include <gtest/gtest.h>

#include <tuple>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "net/tls_error.h"
#include "support/case_name.h"
#include "support/memory_stream.h"
#include "text/base64.h"

namespace {

// Where the scripted server can break off instead of answering.
enum class TStage { None, PlainOpening, TlsOpening, Auth, Restart, Bind, Ping };
// What it does there.
enum class TBreak { Silence, StreamError, StreamClose, Drop, Malformed };
// How its SCRAM side misbehaves.
enum class TScramFault { None, SignatureInChallenge, WrongSignature, NoSignature, Error, ForeignNonce, Iterations };

struct TServer {
  std::string Mechanisms = "SCRAM-SHA-1 PLAIN SCRAM-SHA-256";
  std::string Password = "pencil";
  bool Direct = false;  // TLS from the first byte: no plain stream
  bool OffersStartTls = true;
  bool RefusesStartTls = false;
  TScramFault Scram = TScramFault::None;
  std::string Failure;     // sent instead of the SASL outcome
  std::string BindError;     // the condition of a bind error
  std::string SessionError;  // the condition of a session error; it makes the session required
  bool NoDigest = false;     // the legacy login lists the password field only
  bool SessionRequired = false;
  TStage BreakAt = TStage::None;
  TBreak Break = TBreak::Silence;
};

const std::string kHeader =
    "<?xml version='1.0'?><stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams' "
    "id='s1d' from='example.org' version='1.0'>";
const std::string kSasl = " xmlns='urn:ietf:params:xml:ns:xmpp-sasl'";
const std::string kStreamError =
    "<stream:error><conflict xmlns='urn:ietf:params:xml:ns:xmpp-streams'/></stream:error>";

std::string Between(const std::string& Text, const std::string& From, const std::string& To) {
  const auto at = Text.find(From);
  if (at == std::string::npos) return {};
  const auto start = at + From.size();
  return Text.substr(start, Text.find(To, start) - start);
}

// The server's side of one conversation, computed from what the check sends
// (a SCRAM server over the platform's cryptography included).
class TScriptedLogin {
 public:
  TScriptedLogin(TServer Server, TMemoryStream& To) : S(std::move(Server)), FTo(To) {}

  // Answers one stanza, or stays silent.
  void Answer(const std::string& Sent) {
    if (Sent.find("<stream:stream") != std::string::npos) return Opening(++FStreams + (S.Direct ? 1 : 0));
    if (Sent.find("<starttls") != std::string::npos)
      return Reply(TStage::None, S.RefusesStartTls ? "<failure xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>"
                                                   : "<proceed xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>");
    if (Sent.find("<auth ") != std::string::npos) return Reply(TStage::Auth, Auth(Sent));
    if (Sent.find("<response") != std::string::npos) return Reply(TStage::Auth, Response(Sent));
    const std::string id = Between(Sent, "id='", "'");
    if (Sent.find("jabber:iq:auth") != std::string::npos) return Reply(TStage::Auth, Legacy(Sent, id));
    if (Sent.find("<bind") != std::string::npos) return Reply(TStage::Bind, IqAnswer(id, S.BindError));
    if (Sent.find("<session") != std::string::npos) return Reply(TStage::None, IqAnswer(id, S.SessionError));
    if (Sent.find("urn:xmpp:ping") != std::string::npos)
      // Chatter first: a presence, a request to be answered, another iq.
      return Reply(TStage::Ping, "<presence from='b@example.org'/><iq type='get' id='q1' from='example.org'><ping "
                                 "xmlns='urn:xmpp:ping'/></iq><iq type='result' id='other'/><iq type='result' id='" +
                                     id + "'/>");
    if (Sent.find("</stream:stream>") != std::string::npos) return FTo.Push("</stream:stream>");
  }

 private:
  void Opening(int Stream) {
    const TStage stage = Stream == 1 ? TStage::PlainOpening : Stream == 2 ? TStage::TlsOpening : TStage::Restart;
    std::string features;
    if (Stream == 1 && S.OffersStartTls) features = "<starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>";
    if (Stream == 2) {
      features = "<mechanisms" + kSasl + ">";
      for (std::size_t at = 0; at < S.Mechanisms.size();) {
        const std::size_t end = std::min(S.Mechanisms.find(' ', at), S.Mechanisms.size());
        features += "<mechanism>" + S.Mechanisms.substr(at, end - at) + "</mechanism>";
        at = end + 1;
      }
      features += "</mechanisms>";
    }
    if (Stream == 3)
      features = "<bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/><session "
                 "xmlns='urn:ietf:params:xml:ns:xmpp-session'>" +
                 std::string(S.SessionRequired || !S.SessionError.empty() ? "" : "<optional/>") + "</session>";
    FTo.Push(kHeader);
    Reply(stage, "<stream:features>" + features + "</stream:features>");
  }

  // The answer, or at the stage to break at, what breaks it off.
  void Reply(TStage Stage, const std::string& Answer) {
    if (Stage != S.BreakAt || Stage == TStage::None) return FTo.Push(Answer);
    switch (S.Break) {
      case TBreak::Silence: return;
      case TBreak::StreamError: return FTo.Push(kStreamError);
      case TBreak::StreamClose: return FTo.Push("</stream:stream>");
      case TBreak::Drop: return FTo.PushClosed();
      case TBreak::Malformed: return FTo.Push("<!-- x -->");
    }
  }

  std::string Auth(const std::string& Sent) {
    FMechanism = Between(Sent, "mechanism='", "'");
    const std::optional<std::string> initial = Base64Decode(Between(Sent, "'>", "</auth>"));
    if (!S.Failure.empty()) return S.Failure;
    if (FMechanism == "PLAIN")
      return *initial == std::string("\0alice\0", 7) + S.Password ? "<success" + kSasl + "/>" : NotAuthorized();
    FKind = FMechanism == "SCRAM-SHA-256" ? THashKind::Sha256 : THashKind::Sha1;
    FClientFirstBare = initial->substr(3);
    const std::string nonce = S.Scram == TScramFault::ForeignNonce ? "other" : Between(*initial + ",", "r=", ",");
    FServerFirst = "r=" + nonce + "srv,s=" + Base64Encode("salty") +
                   ",i=" + (S.Scram == TScramFault::Iterations ? "10000000" : "4096");
    return "<challenge" + kSasl + ">" + Base64Encode(FServerFirst) + "</challenge>";
  }

  std::string Response(const std::string& Sent) {
    if (FClientFirstBare.empty()) return "<success" + kSasl + "/>";  // the empty answer to a last challenge
    const std::string final = *Base64Decode(Between(Sent, "'>", "</response>"));
    const std::string withoutProof = final.substr(0, final.find(",p="));
    const std::string message = FClientFirstBare + "," + FServerFirst + "," + withoutProof;
    const std::string salted = Pbkdf2(FKind, S.Password, "salty", 4096);
    const std::string clientKey = Hmac(FKind, salted, "Client Key");
    std::string proof = Hmac(FKind, Digest(FKind, clientKey), message);
    for (std::size_t i = 0; i < proof.size(); ++i) proof[i] ^= clientKey[i];
    FClientFirstBare.clear();
    if (Base64Encode(proof) != final.substr(final.find(",p=") + 3)) return NotAuthorized();
    std::string signature = Hmac(FKind, Hmac(FKind, salted, "Server Key"), message);
    if (S.Scram == TScramFault::WrongSignature) signature[0] ^= 1;
    const std::string serverFinal = S.Scram == TScramFault::Error ? "e=invalid-proof" : "v=" + Base64Encode(signature);
    switch (S.Scram) {
      case TScramFault::NoSignature: return "<success" + kSasl + "/>";
      case TScramFault::SignatureInChallenge:
      case TScramFault::Error: return "<challenge" + kSasl + ">" + Base64Encode(serverFinal) + "</challenge>";
      default: return "<success" + kSasl + ">" + Base64Encode(serverFinal) + "</success>";
    }
  }

  // The digest login: the fields, then the SHA-1 of stream id and password.
  std::string Legacy(const std::string& Sent, const std::string& Id) {
    if (Sent.find("type='get'") != std::string::npos)
      return "<iq type='result' id='" + Id + "'><query xmlns='jabber:iq:auth'><username/>" +
             (S.NoDigest ? "<password/>" : "<digest/>") + "<resource/></query></iq>";
    std::string hex;
    for (const char c : Digest(THashKind::Sha1, "s1d" + S.Password)) {
      hex += "0123456789abcdef"[static_cast<unsigned char>(c) >> 4];
      hex += "0123456789abcdef"[c & 15];
    }
    if (Between(Sent, "<digest>", "<") == hex) return "<iq type='result' id='" + Id + "'/>";
    return "<iq type='error' id='" + Id + "'><error code='401' type='auth'><not-authorized "
           "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>";
  }

  // A result, or an error with Condition.
  static std::string IqAnswer(const std::string& Id, const std::string& Condition) {
    if (Condition.empty()) return "<iq type='result' id='" + Id + "'/>";
    return "<iq type='error' id='" + Id + "'><error type='cancel'><" + Condition +
           " xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>";
  }

  static std::string NotAuthorized() { return "<failure" + kSasl + "><not-authorized/></failure>"; }

  TServer S;
  TMemoryStream& FTo;
  int FStreams = 0;
  std::string FMechanism;
  THashKind FKind = THashKind::Sha1;
  std::string FClientFirstBare;
  std::string FServerFirst;
};

struct TOutcome {
  std::string Result;  // "alive", or the reason
  std::string Sent;
  int TlsSteps = 0;
};

TOutcome RunLogin(TServer Server, TLoginMechanism Mechanism = TLoginMechanism::Any,
                  TLoginTls Tls = TLoginTls::StartTls, std::string Password = "pencil") {
  TMemoryStream stream;
  TScriptedLogin server(std::move(Server), stream);
  stream.OnSend = [&](TMemoryStream&, std::string_view sent) { server.Answer(std::string(sent)); };
  TOutcome outcome;
  TLoginCheck check({"example.org", "alice", Password, Mechanism, Tls, 5000},
                    [&](TByteStream& plain, std::int32_t) -> TByteStream& {
                      ++outcome.TlsSteps;
                      return plain;
                    });
  try {
    check.Run(stream);
    outcome.Result = "alive";
  } catch (const EBaseError& failure) {
    outcome.Result = failure.Message();
  }
  check.Close();
  outcome.Sent = stream.Sent;
  return outcome;
}

struct TAliveCase {
  std::string Name;
  std::string Offered;
  TLoginMechanism Forced;
  std::string Chosen;
  TScramFault Scram = TScramFault::None;
};

// The best mechanism offered, or the forced one; the server's signature in
// the success or in a last challenge.
const TAliveCase kAliveCases[] = {
    {"BestIsScramSha256", "PLAIN SCRAM-SHA-1 SCRAM-SHA-256", TLoginMechanism::Any, "SCRAM-SHA-256"},
    {"ThenScramSha1", "PLAIN SCRAM-SHA-1-PLUS SCRAM-SHA-1", TLoginMechanism::Any, "SCRAM-SHA-1"},
    {"ThenPlain", "SCRAM-SHA-256-PLUS X-OAUTH2 PLAIN", TLoginMechanism::Any, "PLAIN"},
    {"ForcedPlain", "SCRAM-SHA-256 PLAIN", TLoginMechanism::Plain, "PLAIN"},
    {"ForcedScramSha1", "SCRAM-SHA-256 SCRAM-SHA-1", TLoginMechanism::ScramSha1, "SCRAM-SHA-1"},
    {"SignatureInChallenge", "SCRAM-SHA-1", TLoginMechanism::Any, "SCRAM-SHA-1", TScramFault::SignatureInChallenge},
};

class LoginAliveTest : public testing::TestWithParam<TAliveCase> {};

TEST_P(LoginAliveTest, LogsInBindsAndPings) {
  TServer server;
  server.Mechanisms = GetParam().Offered;
  server.Scram = GetParam().Scram;
  server.SessionRequired = true;
  const TOutcome outcome = RunLogin(server, GetParam().Forced);
  EXPECT_EQ(outcome.Result, "alive");
  EXPECT_EQ(outcome.TlsSteps, 1);
  EXPECT_NE(outcome.Sent.find("mechanism='" + GetParam().Chosen + "'"), std::string::npos) << outcome.Sent;
  EXPECT_NE(outcome.Sent.find("<resource>tolvane-"), std::string::npos);
  EXPECT_NE(outcome.Sent.find("<session "), std::string::npos);
  // The server's ping is answered, and the stream closed after the check's own.
  EXPECT_NE(outcome.Sent.find("<iq id='q1' to='example.org' type='result'/>"), std::string::npos) << outcome.Sent;
  EXPECT_EQ(outcome.Sent.substr(outcome.Sent.size() - 16), "</stream:stream>");
}

INSTANTIATE_TEST_SUITE_P(Table, LoginAliveTest, testing::ValuesIn(kAliveCases), NameBy(&TAliveCase::Name));

TEST(LoginCheck, LegacyDigestLogin) {
  const TOutcome outcome = RunLogin({}, TLoginMechanism::Legacy);
  EXPECT_EQ(outcome.Result, "alive");
  EXPECT_EQ(outcome.Sent.find("<auth "), std::string::npos);
  EXPECT_EQ(outcome.Sent.find("<bind"), std::string::npos);
  EXPECT_EQ(RunLogin({}, TLoginMechanism::Legacy, TLoginTls::StartTls, "wrong").Result,
            "Login failed. not-authorized");
}

TEST(LoginCheck, DirectTlsComesFirstAndNoOptionalSessionIsAsked) {
  TServer server;
  server.Direct = true;
  const TOutcome outcome = RunLogin(server, TLoginMechanism::Any, TLoginTls::Direct);
  EXPECT_EQ(outcome.Result, "alive");
  EXPECT_EQ(outcome.TlsSteps, 1);
  EXPECT_EQ(outcome.Sent.find("<starttls"), std::string::npos);
  EXPECT_EQ(outcome.Sent.find("<session "), std::string::npos);
}

struct TRefusalCase {
  std::string Name;
  TServer Server;
  std::string Result;
  TLoginMechanism Forced = TLoginMechanism::Any;
};

TServer With(void (*Change)(TServer&)) {
  TServer server;
  Change(server);
  return server;
}

const TRefusalCase kRefusalCases[] = {
    {"WrongPasswordScram", With([](TServer& s) { s.Password = "other"; }), "Login failed. not-authorized"},
    {"WrongPasswordPlain", With([](TServer& s) { s.Password = "other"; }), "Login failed. not-authorized",
     TLoginMechanism::Plain},
    {"FailureWithText",
     With([](TServer& s) {
       s.Failure = "<failure" + kSasl + "><account-disabled/><text xml:lang='en'>Call\r\nus\tnow</text></failure>";
     }),
     "Login failed. account-disabled: Call us now"},
    {"WrongSignature", With([](TServer& s) { s.Scram = TScramFault::WrongSignature; }),
     "Login failed. The server's signature is wrong"},
    {"NoSignature", With([](TServer& s) { s.Scram = TScramFault::NoSignature; }),
     "Login failed. The server's signature is missing"},
    {"ErrorInFinal", With([](TServer& s) { s.Scram = TScramFault::Error; }),
     "Login failed. The server reports an error: invalid-proof"},
    {"ForeignNonce", With([](TServer& s) { s.Scram = TScramFault::ForeignNonce; }),
     "Login failed. The server's nonce does not extend ours"},
    {"TenMillionIterations", With([](TServer& s) { s.Scram = TScramFault::Iterations; }),
     "Login failed. The server asks for 10000000 iterations, more than 1000000"},
    {"NothingUsable", With([](TServer& s) { s.Mechanisms = "SCRAM-SHA-1-PLUS DIGEST-MD5"; }),
     "No usable login mechanism. Offered: SCRAM-SHA-1-PLUS DIGEST-MD5"},
    {"ForcedNotOffered", With([](TServer& s) { s.Mechanisms = "SCRAM-SHA-1 PLAIN"; }),
     "No usable login mechanism. Offered: SCRAM-SHA-1 PLAIN", TLoginMechanism::ScramSha256},
    {"NoneOffered", With([](TServer& s) { s.Mechanisms = ""; }), "No usable login mechanism. Offered: none"},
    {"NoStartTls", With([](TServer& s) { s.OffersStartTls = false; }), "Server does not offer STARTTLS"},
    {"StartTlsRefused", With([](TServer& s) { s.RefusesStartTls = true; }), "Server refused STARTTLS"},
    {"BindError", With([](TServer& s) { s.BindError = "not-allowed"; }), "Resource binding failed. not-allowed"},
    {"SessionError", With([](TServer& s) { s.SessionError = "internal-server-error"; }),
     "Session establishment failed. internal-server-error"},
    {"LegacyWithoutDigest", With([](TServer& s) { s.NoDigest = true; }), "No usable login mechanism. Offered: password",
     TLoginMechanism::Legacy},
};

class LoginRefusalTest : public testing::TestWithParam<TRefusalCase> {};

TEST_P(LoginRefusalTest, GivesTheReason) {
  EXPECT_EQ(RunLogin(GetParam().Server, GetParam().Forced).Result, GetParam().Result);
}

INSTANTIATE_TEST_SUITE_P(Table, LoginRefusalTest, testing::ValuesIn(kRefusalCases), NameBy(&TRefusalCase::Name));

// Every step, and everything that can end it early.
TEST(LoginCheck, EachStepNamesWhatEndedIt) {
  const std::pair<TStage, std::string> kSteps[] = {
      {TStage::PlainOpening, "stream opening"}, {TStage::TlsOpening, "stream opening"}, {TStage::Auth, "login"},
      {TStage::Restart, "stream opening"},      {TStage::Bind, "resource binding"},   {TStage::Ping, "ping"}};
  const std::tuple<TBreak, std::string, std::string> kBreaks[] = {
      {TBreak::Silence, "No answer in time during the ", ""},
      {TBreak::StreamError, "The server ended the stream during the ", "; " + kStreamError},
      {TBreak::StreamClose, "The server closed the stream during the ", "; </stream:stream>"},
      {TBreak::Drop, "The server closed the connection during the ", ""},
      {TBreak::Malformed, "The server sent malformed XML during the ",
       ". XML comments are not allowed in an XMPP stream"}};
  for (const auto& [stage, step] : kSteps) {
    for (const auto& [what, before, after] : kBreaks) {
      TServer server;
      server.BreakAt = stage;
      server.Break = what;
      EXPECT_EQ(RunLogin(server).Result, before + step + after);
    }
  }
}

}  // namespace
