#include "xmpp/element_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHeader =
    "<?xml version='1.0'?><stream:stream xml:lang='en' xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams' from='localhost' id='82fe' version='1.0'>";
const std::string kFeatures =
    "<stream:features><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'><mechanism>PLAIN</mechanism>"
    "<mechanism>SCRAM-SHA-1</mechanism></mechanisms></stream:features>";
const std::string kSasl = "urn:ietf:params:xml:ns:xmpp-sasl";

// Text in one line: CR and LF shown as \r and \n.
std::string Shown(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return out;
}

// An element in one line: name, {namespace}, [attributes], "text", (children).
std::string Describe(const TXmlElement& e) {
  std::string out = e.Name + "{" + e.Namespace + "}";
  for (const auto& [name, value] : e.Attributes) out += "[" + name + "=" + Shown(value) + "]";
  if (!e.Text.empty()) out += "\"" + Shown(e.Text) + "\"";
  if (!e.Children.empty()) {
    out += "(";
    for (const auto& child : e.Children) out += Describe(child) + (&child == &e.Children.back() ? ")" : " ");
  }
  return out;
}

// Every event the reader gives until it wants more bytes, one per line; a
// fault ends the list with "error: " and its text.
std::string Drain(TElementReader& reader) {
  std::string out;
  try {
    for (;;) {
      TXmlElement e;
      switch (reader.Next(e)) {
        case TElementReader::TEvent::None: return out;
        case TElementReader::TEvent::StreamOpen: out += "open " + Describe(e) + "\n"; break;
        case TElementReader::TEvent::Element: out += Describe(e) + "\n"; break;
        case TElementReader::TEvent::StreamClose: return out + "close\n";
      }
    }
  } catch (const EXmlError& error) {
    return out + "error: " + error.Message();
  }
}

std::string Read(const std::string& stream) {
  TElementReader reader;
  reader.Feed(stream);
  return Drain(reader);
}

// The first top-level element after kHeader, or the fault.
std::string FirstElement(const std::string& body) {
  const std::string events = Read(kHeader + body);
  const auto line = events.find('\n');
  return events.substr(line + 1, events.find('\n', line + 1) - line - 1);
}

TEST(ElementReader, RealServerStreamAndRestart) {
  TElementReader reader;
  TXmlElement e;
  reader.Feed(kHeader + "\n" + kFeatures.substr(0, 40));
  ASSERT_EQ(reader.Next(e), TElementReader::TEvent::StreamOpen);
  EXPECT_EQ(e.Name, "stream:stream");
  EXPECT_EQ(e.Namespace, "http://etherx.jabber.org/streams");
  EXPECT_EQ(e.Attribute("id"), "82fe");
  EXPECT_EQ(e.Raw, kHeader.substr(21));
  EXPECT_EQ(reader.Next(e), TElementReader::TEvent::None);
  reader.Feed(kFeatures.substr(40) + "<success xmlns='" + kSasl + "'>dj1ybUY=</success>");
  ASSERT_EQ(reader.Next(e), TElementReader::TEvent::Element);
  EXPECT_EQ(e.Raw, kFeatures);
  const TXmlElement* mechanisms = e.Child("mechanisms", kSasl);
  ASSERT_NE(mechanisms, nullptr);
  EXPECT_EQ(e.Child("mechanisms", "jabber:client"), nullptr);
  ASSERT_EQ(mechanisms->Children.size(), 2u);
  EXPECT_EQ(mechanisms->Children[1].Text, "SCRAM-SHA-1");
  ASSERT_EQ(reader.Next(e), TElementReader::TEvent::Element);
  EXPECT_EQ(Describe(e), "success{" + kSasl + "}[xmlns=" + kSasl + "]\"dj1ybUY=\"");

  // The new stream after SASL: a header of its own, declaring only the default namespace.
  reader.Feed("<stream:features/>");
  reader.Restart();
  reader.Feed("<?xml version='1.0'?><stream:stream xmlns:stream='http://etherx.jabber.org/streams' "
              "xmlns='jabber:server'><stream:features><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/>"
              "</stream:features><stream:error><conflict xmlns='urn:ietf:params:xml:ns:xmpp-streams'/>"
              "</stream:error></stream:stream><late/>");
  EXPECT_EQ(Drain(reader),
            "open stream:stream{http://etherx.jabber.org/streams}[xmlns:stream=http://etherx.jabber.org/streams]"
            "[xmlns=jabber:server]\n"
            "stream:features{http://etherx.jabber.org/streams}(bind{urn:ietf:params:xml:ns:xmpp-bind}"
            "[xmlns=urn:ietf:params:xml:ns:xmpp-bind])\n"
            "stream:error{http://etherx.jabber.org/streams}(conflict{urn:ietf:params:xml:ns:xmpp-streams}"
            "[xmlns=urn:ietf:params:xml:ns:xmpp-streams])\n"
            "close\n");
  // The close stays; what follows it is not read.
  EXPECT_EQ(reader.Next(e), TElementReader::TEvent::StreamClose);
}

TEST(ElementReader, EverySplitGivesTheSameEvents) {
  const std::string stream = "\r\n" + kHeader + " " + kFeatures +
                             "\n<message a=\"x&amp;'\"><body>1 &lt; 2\r\nok&#x263A;</body></message>"
                             "<stream:error><x xmlns='urn:ietf:params:xml:ns:xmpp-streams'/></stream:error>"
                             "</stream:stream >";
  const std::string whole = Read(stream);
  ASSERT_EQ(whole.substr(whole.size() - 6), "close\n");
  for (std::size_t split = 1; split < stream.size(); ++split) {
    TElementReader reader;
    reader.Feed(stream.substr(0, split));
    std::string events = Drain(reader);
    reader.Feed(stream.substr(split));
    events += Drain(reader);
    ASSERT_EQ(events, whole) << "split at " << split;
  }
  TElementReader bytewise;
  std::string events;
  for (const char c : stream) {
    bytewise.Feed(std::string(1, c));
    events += Drain(bytewise);
  }
  EXPECT_EQ(events, whole);
}

struct Case {
  const char* Name;
  std::string Body;
  std::string Expected;
};

TEST(ElementReader, DecodesEntitiesCharacterReferencesAndLineEnds) {
  const Case cases[] = {
      {"predefined entities", "<a>&lt;&gt;&amp;&apos;&quot;</a>", "a{jabber:client}\"<>&'\"\""},
      {"decimal and hex references", "<a>&#65;&#x42;&#0000067;&#x00e9;</a>", "a{jabber:client}\"ABC\xC3\xA9\""},
      {"four UTF-8 bytes", "<a>&#x1F600;</a>", "a{jabber:client}\"\xF0\x9F\x98\x80\""},
      {"line ends in text", "<a>1\r\n2\r3\n</a>", "a{jabber:client}\"1\\n2\\n3\\n\""},
      {"attributes in either quote", "<a x='\"' y=\"'&#13;\t\r\n&lt;\"/>", "a{jabber:client}[x=\"][y='\\r  <]"},
      {"text around a child", "<a>x<b>y</b>z</a>", "a{jabber:client}\"xz\"(b{jabber:client}\"y\")"},
      {"UTF-8 passes as it is", "<\xC3\xA9 a='\xE2\x82\xAC'>\xF0\x9F\x98\x80</\xC3\xA9>",
       "\xC3\xA9{jabber:client}[a=\xE2\x82\xAC]\"\xF0\x9F\x98\x80\""},
      {"white space references between elements", "&#32;&#x0A;<a/>", "a{jabber:client}"},
  };
  for (const auto& c : cases) EXPECT_EQ(FirstElement(c.Body), c.Expected) << c.Name;
}

TEST(ElementReader, ResolvesNamespacesInScope) {
  const Case cases[] = {
      {"the header's default", "<iq/>", "iq{jabber:client}"},
      {"the header's prefix", "<stream:error/>", "stream:error{http://etherx.jabber.org/streams}"},
      {"the xml prefix", "<a xml:lang='de'/>", "a{jabber:client}[xml:lang=de]"},
      {"default redeclared in a child", "<a><b xmlns='urn:b'><c/></b><d/></a>",
       "a{jabber:client}(b{urn:b}[xmlns=urn:b](c{urn:b}) d{jabber:client})"},
      {"default undeclared", "<a xmlns=''/>", "a{}[xmlns=]"},
      {"a prefix of a child's own", "<p:a xmlns:p='urn:p'><p:b p:x='1'/></p:a>",
       "p:a{urn:p}[xmlns:p=urn:p](p:b{urn:p}[p:x=1])"},
      {"a prefix redeclared", "<p:a xmlns:p='urn:1'><p:b xmlns:p='urn:2'/></p:a>",
       "p:a{urn:1}[xmlns:p=urn:1](p:b{urn:2}[xmlns:p=urn:2])"},
      {"a prefix out of scope", "<a><b xmlns:p='urn:p'/><p:c/></a>", "error: Undeclared XML namespace prefix: p"},
  };
  for (const auto& c : cases) EXPECT_EQ(FirstElement(c.Body), c.Expected) << c.Name;
}

TEST(ElementReader, RefusesWithTheReason) {
  const Case cases[] = {
      {"comment", "<a><!-- x --></a>", "XML comments are not allowed in an XMPP stream"},
      {"processing instruction", "<?php x?>", "XML processing instructions are not allowed in an XMPP stream"},
      {"DTD", "<!DOCTYPE a>", "DTDs are not allowed in an XMPP stream"},
      {"CDATA", "<a><![CDATA[x]]></a>", "CDATA sections are not allowed in an XMPP stream"},
      {"unknown entity", "<a>&nbsp;</a>", "Unknown XML entity: &nbsp;"},
      {"bare ampersand", "<a>x & y</a>", "Bare '&' in XML"},
      {"empty reference", "<a>&;</a>", "Bare '&' in XML"},
      {"malformed character reference", "<a>&#x;</a>", "Malformed XML character reference"},
      {"entity with a colon", "<a>&a:b;</a>", "Malformed XML entity reference"},
      {"character reference to NUL", "<a>&#0;</a>", "XML character reference to a character XML does not allow"},
      {"character reference past Unicode", "<a>&#x110000;</a>",
       "XML character reference to a character XML does not allow"},
      {"surrogate", "<a>&#xD800;</a>", "XML character reference to a character XML does not allow"},
      {"control byte", "<a>\x01</a>", "Invalid character in XML"},
      {"CDATA end in text", "<a>]]></a>", "']]>' in XML text"},
      {"duplicate attribute", "<a x='1' x='2'/>", "Duplicate XML attribute: x"},
      {"duplicate by namespace", "<a xmlns:p='urn:q' stream:x='1' p:x='2' xmlns:stream='urn:q'/>",
       "Duplicate XML attribute: x"},
      {"'<' in an attribute", "<a x='<'/>", "'<' in an XML attribute value"},
      {"unquoted attribute", "<a x=1/>", "Malformed XML attribute"},
      {"attributes without space", "<a x='1'y='2'/>", "Malformed XML start tag"},
      {"undeclared prefix", "<p:a/>", "Undeclared XML namespace prefix: p"},
      {"undeclared attribute prefix", "<a p:x='1'/>", "Undeclared XML namespace prefix: p"},
      {"prefix undeclared", "<a xmlns:p=''/>", "Bad XML namespace declaration: xmlns:p"},
      {"xml prefix rebound", "<a xmlns:xml='urn:x'/>", "Bad XML namespace declaration: xmlns:xml"},
      {"two colons", "<a:b:c/>", "Malformed XML name: a:b:"},
      {"end tag mismatch", "<a><b></a>", "XML end tag </a> does not match <b>"},
      {"stray end tag", "</a>", "XML end tag </a> does not match <stream:stream>"},
      {"text between elements", " x", "Text between the XMPP stream's elements"},
      {"entity between elements", "&amp;", "Text between the XMPP stream's elements"},
      {"tag without a name", "< a/>", "Malformed XML start tag"},
      {"end tag without a name", "<a></ a>", "Malformed XML end tag"},
      {"second declaration", "<?xml version='1.0'?>",
       "XML processing instructions are not allowed in an XMPP stream"},
  };
  const std::string open = Read(kHeader);
  for (const auto& c : cases) {
    TElementReader reader;
    reader.Feed(kHeader + c.Body);
    EXPECT_EQ(Drain(reader), open + "error: " + c.Expected) << c.Name;
    // Every later call raises the same fault.
    EXPECT_EQ(Drain(reader), "error: " + c.Expected) << c.Name;
  }
}

TEST(ElementReader, RefusesBeforeTheHeader) {
  const Case cases[] = {
      {"text", " x<stream:stream>", "error: Text before the XMPP stream header"},
      {"an encoding not UTF-8", "<?xml version='1.0' encoding='ISO-8859-1'?>",
       "error: XML declaration names an encoding other than UTF-8"},
      {"declaration without a version", "<?xml encoding='UTF-8'?>", "error: Malformed XML declaration"},
      {"end tag first", "</stream:stream>", "error: XML end tag before the XMPP stream header"},
      {"comment", "<!-- -->", "error: XML comments are not allowed in an XMPP stream"},
      {"undeclared stream prefix", "<stream:stream>", "error: Undeclared XML namespace prefix: stream"},
      {"self-closing header: open and close", "\n<?xml version=\"1.0\" encoding='utf-8' standalone='yes' ?><s/>",
       "open s{}\nclose\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.Body), c.Expected) << c.Name;
}

TEST(ElementReader, Limits) {
  // Nested to the limit, and one level more.
  std::string deep;
  std::string deepEnd;
  for (std::size_t i = 0; i < TElementReader::kMaxDepth; ++i) {
    deep += "<a>";
    deepEnd += "</a>";
  }
  EXPECT_EQ(FirstElement(deep + deepEnd).substr(0, 16), "a{jabber:client}");
  EXPECT_EQ(FirstElement(deep + "<a>"), "error: XML elements nested deeper than 64 levels");

  // An element of the largest size, fed a byte at a time, then one a byte larger.
  const std::string tags = "<a></a>";
  const std::string largest = "<a>" + std::string(TElementReader::kMaxElementSize - tags.size(), 'x') + "</a>";
  TElementReader reader;
  TXmlElement e;
  reader.Feed(kHeader);
  ASSERT_EQ(reader.Next(e), TElementReader::TEvent::StreamOpen);
  std::size_t elements = 0;
  for (const char c : largest + " " + largest) {
    reader.Feed(std::string_view(&c, 1));
    while (reader.Next(e) == TElementReader::TEvent::Element) ++elements;
  }
  EXPECT_EQ(elements, 2u);
  EXPECT_EQ(e.Raw, largest);
  EXPECT_EQ(FirstElement("<a>x" + largest.substr(3)), "error: XML element larger than 1048576 bytes");
}

}  // namespace
