#include "xmpp/stream_header.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kNamespaces = " xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams'";

TEST(StreamHeader, JudgesTheStartTagOnly) {
  const struct {
    std::string Text;
    TStreamHeader Expected;
  } cases[] = {
      {"\r\n<?xml version='1.0'?>\n<stream:stream id='a>b'" + kNamespaces + "><stream:features>", TStreamHeader::Xmpp},
      {"<?xm", TStreamHeader::Incomplete},
      {"<stream:stream xmlns='jabber:cl", TStreamHeader::Incomplete},
      {"<stream:stream" + kNamespaces, TStreamHeader::Incomplete},
      {"HTTP/1.1 400 Bad Request\r\n\r\n{\"result\": 1}", TStreamHeader::NotXmpp},
      {"<stream:streams" + kNamespaces + ">", TStreamHeader::NotXmpp},
      {"<stream:stream xmlns='jabber:server' xmlns:stream='http://etherx.jabber.org/streams'>", TStreamHeader::NotXmpp},
      {"<stream:stream xmlns='jabber:client'>", TStreamHeader::NotXmpp},
      {"<stream:stream" + kNamespaces + " xmlns:stream='x'>", TStreamHeader::NotXmpp},
      {"<stream:stream" + kNamespaces + "/>", TStreamHeader::NotXmpp},
  };
  for (const auto& c : cases) EXPECT_EQ(JudgeStreamHeader(c.Text), c.Expected) << c.Text;
}

}  // namespace
