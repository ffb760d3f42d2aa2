// The texts of the TLS codes and of the reasons the program gives itself.

#include "net/tls_error.h"

#include <iterator>

namespace {

// "{}" stands for the next value.
const TCodeText kTexts[] = {
    {tlsErrLibrary, "TLS is not available. {}"},
    {tlsErrCaFile, "Cannot read CA file {}. {}"},
    {tlsErrCaEmpty, "CA file {} holds no PEM certificate"},
    {tlsErrNoStartTls, "Server does not offer STARTTLS"},
    {tlsErrStartTlsRefused, "Server refused STARTTLS"},
    {tlsErrHandshake, "TLS handshake failed. {}"},
    {tlsErrNotTrusted, "Certificate is not trusted. {}"},
    {tlsErrExpired, "Certificate has expired ({})"},
    {tlsErrNotYetValid, "Certificate is not valid yet ({})"},
    {tlsErrNameMismatch, "Certificate does not match {}"},
    {tlsErrExpiresSoon, "Certificate expires in {} ({})"},
    {tlsErrConnection, "TLS connection failed. {}"},
};

// Indexed by TTlsReason.
const char* const kReasonTexts[] = {
    "The server closed the connection",
    "The server did not answer in time",
    "The server sent no certificate",
    "The TLS library gave no reason",
    "It is not a regular file",
    "It is larger than 16 MiB",
    "It holds a certificate that cannot be decoded",
    "Its issuer is not known",
    "Its chain ends in a root that is not trusted",
    "A signature in its chain is not valid",
    "It has been revoked",
    "A certificate in its chain is not valid at this time",
    "It is not issued for servers",
    "Its chain is not valid",
    "1 day",
    "{} days",
    "less than a day",
};
static_assert(std::size(kReasonTexts) == static_cast<std::size_t>(TTlsReason::LessThanADay) + 1);

}  // namespace

constinit const TErrorFamily kTlsErrors{kTexts, tlsErrConnection, ""};

const char* TlsReasonText(TTlsReason Reason) { return kReasonTexts[static_cast<int>(Reason)]; }

std::string TlsDaysText(std::int64_t Days) {
  if (Days < 1) return TlsReasonText(TTlsReason::LessThanADay);
  if (Days == 1) return TlsReasonText(TTlsReason::Day);
  return FillText(TlsReasonText(TTlsReason::Days), {std::to_string(Days)});
}

ETlsError::ETlsError(std::int32_t ACode, const std::vector<std::string>& Values)
    : ECodedError(kTlsErrors, ACode, Values, "") {}
