#pragma once
// A scripted server that lets one user log in, and a sender logged in to it:
// the starting point of the tests that need an established full session.

#include <memory>
#include <string>
#include <vector>

#include "support/scripted_server.h"
#include "support/xmpp_replies.h"
#include "xmpp/jabber_send.h"
#include "xmpp/jabber_send_error.h"

namespace login {

// A server that answers the stream header and both login queries, then
// plays `more`.
inline TScript LoginThen(std::vector<TScriptStep> more) {
  using namespace script;
  using namespace xmpp_replies;
  TScript steps{WaitFor(kHeaderEnd), Send(kServerHeader), WaitFor("</iq>"), Send(kAuthFields),
                WaitFor("</iq>"), Send(kAuthDone)};
  steps.insert(steps.end(), more.begin(), more.end());
  return steps;
}

// alice, password "secret", logged in to `server`.
inline std::unique_ptr<TJabberSend> LoggedIn(const TScriptedServer& server) {
  auto sender = std::make_unique<TJabberSend>("alice", "secret");
  sender->Server = "127.0.0.1";
  sender->Port = server.Port();
  sender->ResponseTimeout = 5000;
  sender->Connect();
  return sender;
}

// The message of the session error that ends `sender`'s Connect; empty when
// the session is established.
inline std::string Failure(TJabberSend& sender) {
  try {
    sender.Connect();
  } catch (const EJabberSendError& failure) {
    return failure.Message();
  }
  return "";
}

}  // namespace login
