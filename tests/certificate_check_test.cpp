#include "net/certificate_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/tls_error.h"
#include "support/case_name.h"
#include "text/utc_time.h"

namespace {

const std::int64_t kNow = UtcSeconds(2026, 12, 7, 12, 0, 0);
constexpr std::int64_t kDay = 86400;

TPeerCertificate Good() {
  TPeerCertificate c;
  c.Trusted = true;
  c.HasSubjectAltName = true;
  c.DnsNames = {"xmpp.example.org"};
  c.NotBefore = kNow - 30 * kDay;
  c.NotAfter = kNow + 60 * kDay;
  return c;
}

// The message CheckCertificate raises, or "" when it accepts.
std::string Verdict(const TPeerCertificate& c, std::int32_t certDays = 0,
                    const std::string& domain = "xmpp.example.org") {
  try {
    CheckCertificate(c, domain, kNow, certDays);
    return "";
  } catch (const ETlsError& e) {
    return e.Message();
  }
}

TEST(CertificateCheck, ProblemsAreReportedInOneOrder) {
  TPeerCertificate c = Good();
  c.Trusted = false;
  c.TrustProblem = "Self-signed certificate";
  c.NotAfter = UtcSeconds(2021, 1, 1, 0, 0, 0);
  c.DnsNames = {"other.example.org"};
  EXPECT_EQ(Verdict(c, 400), "Certificate is not trusted. Self-signed certificate");
  c.Trusted = true;
  EXPECT_EQ(Verdict(c, 400), "Certificate has expired (2021-01-01 00:00:00 UTC)");
  c.NotAfter = kNow + 2 * kDay;
  c.NotBefore = kNow + 1;
  EXPECT_EQ(Verdict(c, 400), "Certificate is not valid yet (2026-12-07 12:00:01 UTC)");
  c.NotBefore = kNow - kDay;
  EXPECT_EQ(Verdict(c, 400), "Certificate does not match xmpp.example.org");
  c.DnsNames = {"xmpp.example.org"};
  EXPECT_EQ(Verdict(c, 400), "Certificate expires in 2 days (2026-12-09 12:00:00 UTC)");
  EXPECT_EQ(Verdict(c), "");
}

TEST(CertificateCheck, DaysLeft) {
  TPeerCertificate c = Good();
  c.NotAfter = kNow + 5 * kDay;
  EXPECT_EQ(Verdict(c, 5), "");  // exactly five days left is not within five days
  EXPECT_EQ(Verdict(c, 6), "Certificate expires in 5 days (2026-12-12 12:00:00 UTC)");
  c.NotAfter = kNow + kDay + 3600;
  EXPECT_EQ(Verdict(c, 2), "Certificate expires in 1 day (2026-12-08 13:00:00 UTC)");
  c.NotAfter = kNow;  // the last second of its validity
  EXPECT_EQ(Verdict(c, 1), "Certificate expires in less than a day (2026-12-07 12:00:00 UTC)");
  EXPECT_EQ(Verdict(c, 0), "");
  EXPECT_EQ(Verdict(c, -3), "");
  c.NotAfter = kNow + 100000 * kDay;
  EXPECT_EQ(Verdict(c, 2147483647), "Certificate expires in 100000 days (2300-09-22 12:00:00 UTC)");
}

struct TNameCase {
  const char* Name;
  std::vector<std::string> DnsNames;
  std::string Domain;
  bool Matches;
};

const TNameCase kNameCases[] = {
    {"Exact", {"xmpp.example.org"}, "xmpp.example.org", true},
    {"InAnyCase", {"XMPP.Example.ORG"}, "xmpp.example.org", true},
    {"DomainWithFinalDot", {"xmpp.example.org"}, "xmpp.example.org.", true},
    {"SecondName", {"mail.example.org", "xmpp.example.org"}, "xmpp.example.org", true},
    {"ParentDomain", {"example.org"}, "xmpp.example.org", false},
    {"LongerName", {"xmpp.example.org.evil"}, "xmpp.example.org", false},
    {"Wildcard", {"*.example.org"}, "xmpp.example.org", true},
    {"WildcardWithoutItsLabel", {"*.example.org"}, "example.org", false},
    {"WildcardForTwoLabels", {"*.example.org"}, "a.xmpp.example.org", false},
    {"WildcardForAnEmptyLabel", {"*.example.org"}, ".example.org", false},
    {"PartialWildcard", {"x*.example.org"}, "xmpp.example.org", false},
    {"TwoWildcards", {"*.*.org"}, "xmpp.example.org", false},
    {"WildcardUnderTheTopLevel", {"*.org"}, "example.org", false},
    {"WildcardInTheMiddle", {"xmpp.*.org"}, "xmpp.example.org", false},
    {"WildcardForAnAddress", {"*.0.0.1"}, "127.0.0.1", false},
    {"Address", {"127.0.0.1"}, "127.0.0.1", true},
    {"Empty", {""}, "", false},
};

class CertificateNameTest : public testing::TestWithParam<TNameCase> {};

TEST_P(CertificateNameTest, Matches) {
  TPeerCertificate c = Good();
  c.DnsNames = GetParam().DnsNames;
  EXPECT_EQ(CertificateMatches(c, GetParam().Domain), GetParam().Matches) << GetParam().Domain;
}

INSTANTIATE_TEST_SUITE_P(Table, CertificateNameTest, testing::ValuesIn(kNameCases), NameBy(&TNameCase::Name));

// The XMPP address form names the domain exactly; the common name counts
// only without any subjectAltName.
TEST(CertificateCheck, XmppAddressAndCommonName) {
  TPeerCertificate c = Good();
  c.DnsNames.clear();
  c.XmppAddrs = {"Xmpp.Example.org"};
  c.CommonName = "other.example.org";
  EXPECT_TRUE(CertificateMatches(c, "xmpp.example.org"));
  EXPECT_FALSE(CertificateMatches(c, "other.example.org"));
  c.XmppAddrs = {"*.example.org"};
  EXPECT_FALSE(CertificateMatches(c, "xmpp.example.org"));
  c.XmppAddrs.clear();
  c.HasSubjectAltName = false;
  EXPECT_TRUE(CertificateMatches(c, "other.example.org"));
  EXPECT_FALSE(CertificateMatches(c, "xmpp.example.org"));
}

}  // namespace
