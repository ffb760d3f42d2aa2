#pragma once
// Telling an XMPP client stream header from anything else a service may say
// at the start of a connection. The probe over TLS judges the server's answer
// by it: a TLS service that is not an XMPP server (a web server, say) must not
// count as alive because some word of its answer looks like XMPP.

#include <string_view>

enum class TStreamHeader {
  Incomplete,  // so far a possible stream header; more bytes must decide
  Xmpp,        // a whole start tag of an XMPP client stream
  NotXmpp,     // anything else
};

// Judges the start of what the server sent: white space and an XML
// declaration may come first, then the start tag <stream:stream ...> must
// declare the prefix "stream" as http://etherx.jabber.org/streams and the
// default namespace as jabber:client. Text after the start tag's ">" is
// not looked at.
TStreamHeader JudgeStreamHeader(std::string_view Text);
