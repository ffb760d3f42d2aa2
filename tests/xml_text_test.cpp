#include "text/xml_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
  std::string Input;
  std::string Expected;
};

TEST(XmlText, XmlEscape) {
  const Case cases[] = {
      {"", ""},
      {"'''", "'''"},
      {"a\"b&c<d>e", "a&quot;b&amp;c&lt;d&gt;e"},
      {"&amp;", "&amp;amp;"},
      {"\xE9", "&#233;"},
      {"\xA0", "&#160;"},
      {"\xFF", "&#255;"},
      {"\x9F", "\x9F"},
      {"\x80\t\r\n", "\x80\t\r\n"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(XmlEscape(c.Input), c.Expected) << "input: " << c.Input;
}

TEST(XmlText, IsValidUtf8) {
  for (const std::string valid : {"", "plain", "ch\xC3\xA4t", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"})
    EXPECT_TRUE(IsValidUtf8(valid)) << valid;
  // Latin-1, a stray continuation, a cut sequence, overlong forms, a
  // surrogate, beyond U+10FFFF.
  for (const std::string invalid : {"caf\xE9", "\x85", "\xC3", "a\xE2\x82", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                                    "\xF4\x90\x80\x80", "\xC3\xA4\xFF"})
    EXPECT_FALSE(IsValidUtf8(invalid)) << invalid;
  EXPECT_EQ(XmlEscapeUtf8("a&\"<>'\xC3\xA9\xE9"), "a&amp;&quot;&lt;&gt;'\xC3\xA9\xE9");
}

TEST(XmlText, Latin1ToUtf8) {
  const Case cases[] = {
      {"", ""},
      {"plain ASCII", "plain ASCII"},
      {"\xE9", "\xC3\xA9"},
      {"\x80", "\xC2\x80"},
      {"\xFF", "\xC3\xBF"},
      {"a\xE9z\xA0", "a\xC3\xA9z\xC2\xA0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Latin1ToUtf8(c.Input), c.Expected) << "input: " << c.Input;
}

TEST(XmlText, Latin1ToUtf8GrowsByTheHighBytes) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Latin1ToUtf8(all).size(), 256u + 128u);
}

struct AttributeCase {
  const char* Name;
  const char* Text;
  const char* Expected;
};

TEST(XmlText, GetAttribute) {
  const AttributeCase cases[] = {
      // "id" first occurs inside the sender address: the real attribute wins.
      {"id", "<stream:stream from='android.example.org' id='c2s_42' xmlns='jabber:client'>", "c2s_42"},
      {"to", "<message from='x@y' to='a b'>", "a b"},
      {"from", "<message to='from@x' from='y@z'>", "y@z"},
      {"id", "<iq id = 'spaced'/>", "spaced"},
      {"id", "<iq\n\tid=\r\n'broken'/>", "broken"},
      {"id", "<iq id=\"double\"/>", "double"},
      {"id", "<iq id=\"it's\"/>", "it's"},
      {"id", "<iq id='say \"hi\"'/>", "say \"hi\""},
      {"id", "<iq id=''/>", ""},
      {"id", "<iq type='get'/>", ""},
      {"id", "<iq id='unclosed", ""},
      {"id", "<iq id=unquoted/>", ""},
      {"id", "<iq xid='no' id='yes'/>", "yes"},
      {"id", "<iq idx='no' id='yes'/>", "yes"},
      {"code", "<error code='404' type='cancel'>", "404"},
      {"code", "<error Code='404'>", ""},
      {"", "<iq ='x'/>", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(GetAttribute(c.Name, c.Text), c.Expected) << c.Name << " in " << c.Text;
}

TEST(XmlText, GetElement) {
  const AttributeCase cases[] = {
      {"message", "<?xml version='1.0'?><stream:stream id='1' xmlns='jabber:client'>"
                  "<message from='a@b' to='c@d'><body>hi</body></message><presence/>",
       "<message from='a@b' to='c@d'><body>hi</body></message>"},
      {"error", "</error><error code='1'>x</error>", ""},
      {"error", "<error code='1'>x", ""},
      {"error", "no element here", ""},
      {"stream:error", "<stream:error><host-unknown/></stream:error></stream:stream>",
       "<stream:error><host-unknown/></stream:error>"},
      // Nested elements of the same name are not counted.
      {"a", "<a><a>x</a></a>", "<a><a>x</a>"},
  };
  for (const auto& c : cases) EXPECT_EQ(GetElement(c.Name, c.Text), c.Expected) << c.Name << " in " << c.Text;
}

TEST(XmlText, GetFirstChildName) {
  const Case cases[] = {
      {"<stream:error>\r\n    <host-unknown xmlns='urn:ietf:params:xml:ns:xmpp-streams'/>\r\n</stream:error>",
       "host-unknown"},
      {"<stream:error><host-unknown/></stream:error>", "host-unknown"},
      {"<failure xmlns='x'><not-authorized></not-authorized></failure>", "not-authorized"},
      {"<error>\n<conflict\n/></error>", "conflict"},
      {"<error>text<conflict/></error>", ""},
      {"<error></error>", ""},
      {"<error>", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(GetFirstChildName(c.Input), c.Expected) << "input: " << c.Input;
}

}  // namespace
