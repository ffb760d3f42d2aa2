// What both platform files of crypto.h share: the sizes and the error.

#include "crypto/crypto.h"

namespace {

constexpr const char* kNotAvailable = "Cryptography is not available. ";

}  // namespace

std::size_t DigestSize(THashKind Kind) { return Kind == THashKind::Sha1 ? 20 : 32; }

ECryptoError::ECryptoError(const std::string& Reason) : EBaseError(kNotAvailable + Reason) {}
