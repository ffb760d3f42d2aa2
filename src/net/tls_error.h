#pragma once
// ETlsError: a failure of TLS or of the server's certificate. Its code says
// what failed; the message is the code's fixed text with the details filled
// in (the library's reason, a date, the domain), so every TLS text the user
// can see stands in one table.

#include <cstdint>
#include <string>
#include <vector>

#include "base/base_error.h"

// Settings that make a TLS check impossible.
inline constexpr std::int32_t tlsErrLibrary = -1;    // the TLS library cannot be used
inline constexpr std::int32_t tlsErrCaFile = -2;     // the CA file cannot be read
inline constexpr std::int32_t tlsErrCaEmpty = -3;    // the CA file holds no certificate
// The server's side.
inline constexpr std::int32_t tlsErrNoStartTls = -4;
inline constexpr std::int32_t tlsErrStartTlsRefused = -5;
inline constexpr std::int32_t tlsErrHandshake = -6;
inline constexpr std::int32_t tlsErrNotTrusted = -7;
inline constexpr std::int32_t tlsErrExpired = -8;
inline constexpr std::int32_t tlsErrNotYetValid = -9;
inline constexpr std::int32_t tlsErrNameMismatch = -10;
inline constexpr std::int32_t tlsErrExpiresSoon = -11;
inline constexpr std::int32_t tlsErrConnection = -12;  // a record after the handshake

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

class ETlsError : public EBaseError {
 public:
  // Values fill the placeholders of the code's text in order.
  explicit ETlsError(std::int32_t ACode, const std::vector<std::string>& Values = {});

  std::int32_t Code;
};
