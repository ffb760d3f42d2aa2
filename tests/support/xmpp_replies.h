#pragma once
// Stanzas that tests stage on the scripted server, and what the program
// sends, spelled out byte for byte rather than built by the program's own
// builders.

#include <chrono>
#include <cstdint>
#include <string>

#include "support/loopback.h"
#include "support/scripted_server.h"

namespace xmpp_replies {

// The end of every stream header the program sends: a script waits for it.
inline const std::string kHeaderEnd = "streams'>";

// The stream header the program sends to `host`.
inline std::string ClientHeader(const std::string& host) {
  return "<?xml version='1.0' encoding='UTF-8'?><stream:stream to='" + host +
         "' xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams'>";
}

inline const std::string kStreamClose = "</stream:stream>";

// A server's stream header with the stream id "abc".
inline const std::string kServerHeader =
    "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams' id='abc' from='localhost'>";

inline const std::string kHostUnknown =
    "<stream:error><host-unknown xmlns='urn:ietf:params:xml:ns:xmpp-streams'/></stream:error>";
inline const std::string kConflict =
    "<stream:error><conflict xmlns='urn:ietf:params:xml:ns:xmpp-streams'/></stream:error>";

// The legacy login's field lists, with the digest field and without it, and
// the server's answers to the "get" and the "set" query.
inline const std::string kDigestFields = "<query xmlns='jabber:iq:auth'><username/><digest/><resource/></query>";
inline const std::string kPasswordFields = "<query xmlns='jabber:iq:auth'><username/><password/><resource/></query>";
inline const std::string kAuthFields = "<iq type='result' id='sw_0'>" + kDigestFields + "</iq>";
inline const std::string kAuthDone = "<iq type='result' id='sw_1'/>";

// What a server on 127.0.0.1:`port` answers a client stream for "localhost"
// with, up to its default namespace: what a real server shows that it is up
// with. Throws std::runtime_error while nothing listens there.
inline std::string StreamAnswer(std::uint16_t port) {
  const loopback::Socket client = loopback::Connect(port);
  client.Send(ClientHeader("localhost"));
  return client.ReceiveUntil("jabber:client", std::chrono::seconds(5));
}

// A server that answers the stream header and closes its stream when the
// client closes its own.
inline TScript PoliteServer() {
  using namespace script;
  return {WaitFor(kHeaderEnd), Send(kServerHeader), WaitFor(kStreamClose), Send(kStreamClose), Close()};
}

// The steps `before`, then steps that keep sending, for about `duration`, a
// message addressed to someone else: chunks that settle nothing, so only a
// bound on the whole wait ends it.
inline std::vector<TScriptStep> Chatter(std::vector<TScriptStep> before, std::chrono::milliseconds duration) {
  using namespace script;
  const std::string aside = "<message from='carol@localhost' to='dave@localhost'><body>hi</body></message>";
  std::vector<TScriptStep> steps = std::move(before);
  for (auto spent = std::chrono::milliseconds(0); spent < duration; spent += std::chrono::milliseconds(100)) {
    steps.push_back(Send(aside));
    steps.push_back(Sleep(std::chrono::milliseconds(50)));
  }
  return steps;
}

}  // namespace xmpp_replies
