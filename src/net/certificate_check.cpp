// The verdict on the server's certificate, from the facts the TLS library
// reported. Platform-free, so that every platform judges alike.

#include "net/certificate_check.h"

#include "net/tls_error.h"
#include "text/utc_time.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

char Lower(char Char) { return Char >= 'A' && Char <= 'Z' ? static_cast<char>(Char - 'A' + 'a') : Char; }

bool SameText(std::string_view Left, std::string_view Right) {
  if (Left.size() != Right.size()) return false;
  for (std::size_t i = 0; i < Left.size(); ++i)
    if (Lower(Left[i]) != Lower(Right[i])) return false;
  return true;
}

// A DNS name from a certificate against the domain. "*" stands for exactly
// one whole label, and only as the leftmost label of a name that keeps at
// least two labels beside it, so "*.example.org" names "xmpp.example.org"
// but neither "example.org" nor "a.b.example.org", and "x*.example.org" or
// "*.org" name nothing.
bool DnsNameMatches(std::string_view Pattern, std::string_view Domain) {
  if (Pattern.empty() || Domain.empty()) return false;
  if (Pattern.substr(0, 2) != "*.") return SameText(Pattern, Domain);
  const std::string_view base = Pattern.substr(2);
  if (base.find('.') == std::string_view::npos || base.front() == '.' || base.back() == '.') return false;
  if (base.find('*') != std::string_view::npos || IsAddressLiteral(Domain)) return false;
  const std::size_t dot = Domain.find('.');
  if (dot == 0 || dot == std::string_view::npos) return false;
  return SameText(Domain.substr(dot + 1), base);
}

}  // namespace

bool CertificateMatches(const TPeerCertificate& Certificate, std::string_view Domain) {
  // A fully qualified name may end in a dot; certificates never do.
  if (!Domain.empty() && Domain.back() == '.') Domain.remove_suffix(1);
  for (const std::string& name : Certificate.DnsNames)
    if (DnsNameMatches(name, Domain)) return true;
  for (const std::string& address : Certificate.XmppAddrs)
    if (!address.empty() && SameText(address, Domain)) return true;
  if (!Certificate.HasSubjectAltName) return DnsNameMatches(Certificate.CommonName, Domain);
  return false;
}

void CheckCertificate(const TPeerCertificate& Certificate, const std::string& Domain, std::int64_t Now,
                      std::int32_t CertDays) {
  if (!Certificate.Trusted) throw ETlsError(tlsErrNotTrusted, {Certificate.TrustProblem});
  if (Now > Certificate.NotAfter) throw ETlsError(tlsErrExpired, {FormatUtc(Certificate.NotAfter)});
  if (Now < Certificate.NotBefore) throw ETlsError(tlsErrNotYetValid, {FormatUtc(Certificate.NotBefore)});
  if (!CertificateMatches(Certificate, Domain)) throw ETlsError(tlsErrNameMismatch, {Domain});
  const std::int64_t left = Certificate.NotAfter - Now;
  if (CertDays > 0 && left < CertDays * kSecondsPerDay)
    throw ETlsError(tlsErrExpiresSoon, {TlsDaysText(left / kSecondsPerDay), FormatUtc(Certificate.NotAfter)});
}
