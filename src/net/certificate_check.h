#pragma once
// Judging the server's certificate, the same way on every platform: first
// the chain, then the validity dates, then the name, then the days left.

#include <cstdint>
#include <string>
#include <string_view>

#include "net/tls.h"

// Raises ETlsError for the first problem in that order: not trusted,
// expired, not valid yet, not issued for Domain, or (when CertDays is above
// 0) expiring in less than CertDays days. Now is in seconds since 1970 UTC.
void CheckCertificate(const TPeerCertificate& Certificate, const std::string& Domain, std::int64_t Now,
                      std::int32_t CertDays);

// Whether the certificate names Domain: a subjectAltName DNS name (ASCII
// letters compared without case; "*" only as the whole leftmost label, for
// exactly one label) or an id-on-xmppAddr of the same text. The subject's
// common name counts only in a certificate without subjectAltName.
bool CertificateMatches(const TPeerCertificate& Certificate, std::string_view Domain);

