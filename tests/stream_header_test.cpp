#include "xmpp/stream_header.h"

#include <gtest/gtest.h>

#include <string>

#include "support/case_name.h"

namespace {

struct THeaderCase {
  const char* Name;
  std::string Text;
  TStreamHeader Expected;
};

const std::string kNamespaces = " xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams'";

class StreamHeaderTest : public testing::TestWithParam<THeaderCase> {};

TEST_P(StreamHeaderTest, Judges) { EXPECT_EQ(JudgeStreamHeader(GetParam().Text), GetParam().Expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, StreamHeaderTest,
    testing::Values(
        THeaderCase{"Plain", "<stream:stream" + kNamespaces + " id='a>b' version=\"1.0\">", TStreamHeader::Xmpp},
        THeaderCase{"DeclarationAndSpaceFirst",
                    "\r\n <?xml version='1.0'?>\n<stream:stream\nfrom='x'" + kNamespaces + "><stream:features>",
                    TStreamHeader::Xmpp},
        THeaderCase{"Empty", "", TStreamHeader::Incomplete},
        THeaderCase{"CutInDeclaration", "<?xm", TStreamHeader::Incomplete},
        THeaderCase{"CutInName", "<?xml version='1.0'?><stream:str", TStreamHeader::Incomplete},
        THeaderCase{"CutInValue", "<stream:stream xmlns='jabber:cl", TStreamHeader::Incomplete},
        THeaderCase{"CutBeforeEnd", "<stream:stream" + kNamespaces, TStreamHeader::Incomplete},
        THeaderCase{"Http", "HTTP/1.1 400 Bad Request\r\n\r\n{\"result\": 1}", TStreamHeader::NotXmpp},
        THeaderCase{"OtherElement", "<html xmlns='jabber:client'>", TStreamHeader::NotXmpp},
        THeaderCase{"LongerName", "<stream:streams" + kNamespaces + ">", TStreamHeader::NotXmpp},
        THeaderCase{"ServerNamespace",
                    "<stream:stream xmlns='jabber:server' xmlns:stream='http://etherx.jabber.org/streams'>",
                    TStreamHeader::NotXmpp},
        THeaderCase{"NoStreamPrefix", "<stream:stream xmlns='jabber:client'>", TStreamHeader::NotXmpp},
        THeaderCase{"PrefixTwice", "<stream:stream" + kNamespaces + " xmlns:stream='x'>", TStreamHeader::NotXmpp},
        THeaderCase{"Unquoted", "<stream:stream xmlns=jabber:client>", TStreamHeader::NotXmpp},
        THeaderCase{"NoSpaceBetween",
                    "<stream:stream xmlns='jabber:client'xmlns:stream='http://etherx.jabber.org/streams'>",
                    TStreamHeader::NotXmpp},
        THeaderCase{"SelfClosed", "<stream:stream" + kNamespaces + "/>", TStreamHeader::NotXmpp}),
    NameBy(&THeaderCase::Name));

}  // namespace
