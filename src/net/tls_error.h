#pragma once
// ETlsError: a failure of TLS or of the server's certificate. Its code says
// what failed; the message is the code's fixed text with the details filled
// in (the library's reason, a date, the domain), so every TLS text the user
// can see stands in one table.

#include <cstdint>
#include <string>
#include <vector>

#include "base/coded_error.h"

enum : std::int32_t {
  // Settings that make a TLS check impossible: the TLS library cannot be
  // used, the CA file cannot be read, it holds no certificate.
  tlsErrLibrary = -1, tlsErrCaFile = -2, tlsErrCaEmpty = -3,
  // The server's side; tlsErrConnection is a record after the handshake.
  tlsErrNoStartTls = -4, tlsErrStartTlsRefused = -5, tlsErrHandshake = -6,
  tlsErrNotTrusted = -7, tlsErrExpired = -8, tlsErrNotYetValid = -9,
  tlsErrNameMismatch = -10, tlsErrExpiresSoon = -11, tlsErrConnection = -12,
};

// Every detail has its "{}" in the code's text; a code outside the table
// gets the text of tlsErrConnection.
extern const TErrorFamily kTlsErrors;

// Reasons the program gives itself where the library has none.
enum class TTlsReason {
  ServerClosed,
  NoAnswer,
  NoCertificate,
  NoLibraryReason,
  NotRegularFile,
  FileTooLarge,
  DamagedCertificate,
  UnknownIssuer,
  UntrustedRoot,
  BadSignature,
  Revoked,
  IssuerNotValidNow,
  WrongUsage,
  BadChain,
  Day,
  Days,
  LessThanADay,
};
const char* TlsReasonText(TTlsReason Reason);
// "1 day", "5 days" or "less than a day" for a whole number of days left.
std::string TlsDaysText(std::int64_t Days);

class ETlsError : public ECodedError {
 public:
  // Values fill the placeholders of the code's text in order.
  explicit ETlsError(std::int32_t ACode, const std::vector<std::string>& Values = {});
};
