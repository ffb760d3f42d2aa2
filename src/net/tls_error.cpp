// TLS error codes, their texts and the composition of the message.

#include "net/tls_error.h"

namespace {

// "{}" stands for the next value. Indexed by -Code - 1.
const char* const kTexts[] = {
    "TLS is not available. {}",       "Cannot read CA file {}. {}",     "CA file {} holds no PEM certificate",
    "Server does not offer STARTTLS", "Server refused STARTTLS",        "TLS handshake failed. {}",
    "Certificate is not trusted. {}", "Certificate has expired ({})",   "Certificate is not valid yet ({})",
    "Certificate does not match {}",  "Certificate expires in {} ({})", "TLS connection failed. {}",
};
constexpr std::int32_t kLastCode = tlsErrConnection;

const char* const kReasons[] = {
    "The server closed the connection",
    "The server did not answer in time",
    "The server sent no certificate",
    "The TLS library gave no reason",
    "It is not a regular file",
    "It is larger than 1 MiB",
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

std::string Fill(const std::string& Text, const std::vector<std::string>& Values) {
  std::string result;
  std::size_t next = 0;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    if (Text.compare(i, 2, "{}") == 0) {
      if (next < Values.size()) result += Values[next++];
      ++i;
    } else {
      result += Text[i];
    }
  }
  return result;
}

const char* CodeText(std::int32_t Code) {
  if (Code > tlsErrLibrary || Code < kLastCode) Code = tlsErrConnection;
  return kTexts[-Code - 1];
}

}  // namespace

const char* TlsReasonText(TTlsReason Reason) { return kReasons[static_cast<int>(Reason)]; }

std::string TlsDaysText(std::int64_t Days) {
  if (Days < 1) return TlsReasonText(TTlsReason::LessThanADay);
  if (Days == 1) return TlsReasonText(TTlsReason::Day);
  return Fill(TlsReasonText(TTlsReason::Days), {std::to_string(Days)});
}

ETlsError::ETlsError(std::int32_t ACode, const std::vector<std::string>& Values)
    : EBaseError(Fill(CodeText(ACode), Values)), Code(ACode) {}
