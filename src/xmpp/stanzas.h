#pragma once
// The builders of every stanza the XMPP session sends. Each empties the
// buffer and fills it with exactly one stanza, ready for one send. Values
// placed inside attributes are escaped for their apostrophe delimiters as
// well; element content is escaped with XmlEscape.

#include <cstdint>
#include <string>

#include "text/out_buffer.h"

// The client stream header addressed to Server, without version or sender;
// the stream element is left open.
void BuildStreamHeader(TOutBuffer& Buffer, const std::string& Server);

// The same header with version='1.0', for a stream that negotiates TLS:
// servers offer stream features only on such streams.
void BuildVersionedStreamHeader(TOutBuffer& Buffer, const std::string& Server);

// The server-to-server stream header addressed to To, with dialback's
// namespace declared and version='1.0'; From, when not empty, names the
// domain the stream comes from.
void BuildServerStreamHeader(TOutBuffer& Buffer, const std::string& To, const std::string& From);

// The request to start TLS on the stream.
void BuildStartTls(TOutBuffer& Buffer);

// A jabber:iq:auth query of type IqType with id "sw_<Counter>". With an empty
// DigestSource it asks for the login fields; otherwise it carries the SHA-1
// of DigestSource (stream id followed by password) and the resource. Counter
// is incremented afterwards, wrapping from 65535 to 0.
void BuildAuthQuery(TOutBuffer& Buffer, const std::string& UserName, const std::string& DigestSource,
                    std::uint16_t& Counter, const std::string& IqType);

// The stream close, the same 16 bytes every time.
void BuildStreamClose(TOutBuffer& Buffer);

// The id BuildMessage gives the message it builds with Counter.
std::string MessageId(std::uint16_t Counter);

// A message to Recipient with id MessageId(Counter) that asks for offline
// and delivered events. It names no sender: the server stamps the session's
// own address, and may end the stream over any other. The body is cut to its
// first 4096 bytes, and further by whole bytes until the complete stanza fits
// the buffer. Counter is incremented afterwards, wrapping from 65535 to 0.
void BuildMessage(TOutBuffer& Buffer, const std::string& Recipient, const std::string& Body,
                  std::uint16_t& Counter);

// The answers to a server's iq request: an empty result (a ping's answer),
// or the error for a request this sender does not serve. To and Id are the
// request's "from" and "id" values as received, entities and all; an empty
// To leaves the attribute out.
void BuildIqResult(TOutBuffer& Buffer, const std::string& To, const std::string& Id);
void BuildIqServiceUnavailable(TOutBuffer& Buffer, const std::string& To, const std::string& Id);
