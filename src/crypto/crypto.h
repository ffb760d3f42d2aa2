#pragma once
// The cryptography a login needs, from the platform's own library: libcrypto
// (OpenSSL 3, loaded at run time like libssl, so a check without a login pays
// nothing) on POSIX, BCrypt (CNG) on Windows; one file each beside this
// header. Nothing here is written by hand.
//
// Every function raises ECryptoError when the library cannot be loaded or a
// call into it fails.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/base_error.h"

// The hash functions SCRAM is defined over.
enum class THashKind { Sha1, Sha256 };

// Output size in bytes: 20 for SHA-1, 32 for SHA-256.
std::size_t DigestSize(THashKind Kind);

// Digest of Data, as raw bytes.
std::string Digest(THashKind Kind, std::string_view Data);

// HMAC of Data under Key, as raw bytes.
std::string Hmac(THashKind Kind, std::string_view Key, std::string_view Data);

// PBKDF2 with HMAC of Kind: a key of DigestSize(Kind) bytes.
std::string Pbkdf2(THashKind Kind, std::string_view Password, std::string_view Salt, std::uint32_t Iterations);

// Count bytes from the system's secure random source.
std::string RandomBytes(std::size_t Count);

// The library cannot be used, or one of its calls failed; the message is
// "Cryptography is not available. " followed by the library's reason.
class ECryptoError : public EBaseError {
 public:
  explicit ECryptoError(const std::string& Reason);
};
