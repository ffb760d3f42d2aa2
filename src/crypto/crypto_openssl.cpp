// crypto.h with OpenSSL 3's libcrypto.
//
// libcrypto is loaded on first use, not when the program starts, for the
// reason src/net/tls_openssl.cpp gives for libssl: loading it costs more than
// a whole plain check, and most checks never log in. So the program is not
// linked against it; OpenSSL's headers give the prototypes, and every call
// goes through the table below. Where libssl is already loaded, dlopen gives
// the same libcrypto it brought along.

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "base/loaded_library.h"
#include "crypto/crypto.h"

namespace {

// The soname of OpenSSL 3's libcrypto.
constexpr const char* kLibrary = "libcrypto.so.3";

// The reasons of ECryptoError; "{}" stands for the call or the detail.
constexpr const char* kCallFailed = "{} failed. ";
constexpr const char* kMissingCall = "libcrypto.so.3 lacks {}";
constexpr const char* kNoReason = "The library gave no reason";
constexpr const char* kTooLarge = "{} cannot take that much data";

#define TOLVANE_CRYPTO_CALLS(X) \
  X(EVP_sha1)                   \
  X(EVP_sha256)                 \
  X(EVP_Digest)                 \
  X(HMAC)                       \
  X(PKCS5_PBKDF2_HMAC)          \
  X(RAND_bytes)                 \
  X(ERR_get_error)              \
  X(ERR_clear_error)            \
  X(ERR_reason_error_string)

// The libcrypto calls the program makes.
struct TLibCrypto {
  TOLVANE_CRYPTO_CALLS(TOLVANE_CALL_POINTER)
  template <typename F>
  void Resolve(F&& Call) {
    TOLVANE_CRYPTO_CALLS(TOLVANE_RESOLVE_CALL)
  }
};

std::string Fill(const char* Text, const std::string& Value) {
  std::string result(Text);
  const std::size_t at = result.find("{}");
  if (at != std::string::npos) result.replace(at, 2, Value);
  return result;
}

const TLibCrypto& LibCrypto() {
  TLoadFailure failure;
  const TLibCrypto* calls = LoadCalls<TLibCrypto>(kLibrary, failure);
  if (calls) return *calls;
  if (!failure.Missing.empty()) throw ECryptoError(Fill(kMissingCall, failure.Missing));
  throw ECryptoError(failure.Reason.empty() ? kNoReason : failure.Reason);
}

// A failed call, with the reason of the oldest error queued, which is
// usually the cause; the queue is emptied.
[[noreturn]] void Fail(const TLibCrypto& crypto, const char* call) {
  const unsigned long error = crypto.ERR_get_error();
  crypto.ERR_clear_error();
  std::string reason = kNoReason;
  if (error != 0) {
    const char* text = crypto.ERR_reason_error_string(error);
    if (text) {
      reason = text;
      // OpenSSL's reasons are written in lower case; ours are sentences.
      if (reason[0] >= 'a' && reason[0] <= 'z') reason[0] = static_cast<char>(reason[0] - 'a' + 'A');
    } else {
      char code[32];
      std::snprintf(code, sizeof code, "Error %08lX", error);
      reason = code;
    }
  }
  throw ECryptoError(Fill(kCallFailed, call) + reason);
}

// OpenSSL takes many lengths as int.
int IntLength(std::size_t size, const char* call) {
  if (size > static_cast<std::size_t>(INT_MAX)) throw ECryptoError(Fill(kTooLarge, call));
  return static_cast<int>(size);
}

const EVP_MD* Method(const TLibCrypto& crypto, THashKind Kind) {
  const EVP_MD* method = Kind == THashKind::Sha1 ? crypto.EVP_sha1() : crypto.EVP_sha256();
  if (!method) Fail(crypto, Kind == THashKind::Sha1 ? "EVP_sha1" : "EVP_sha256");
  return method;
}

// A valid pointer for a buffer that may be empty: OpenSSL reads a null key
// as "no key given" rather than as a key of zero bytes.
const unsigned char* Bytes(std::string_view text) {
  static const unsigned char kNothing = 0;
  return text.empty() ? &kNothing : reinterpret_cast<const unsigned char*>(text.data());
}

unsigned char* Bytes(std::string& buffer) { return reinterpret_cast<unsigned char*>(buffer.data()); }

}  // namespace

std::string Digest(THashKind Kind, std::string_view Data) {
  const TLibCrypto& crypto = LibCrypto();
  std::string result(DigestSize(Kind), '\0');
  unsigned int size = 0;
  if (crypto.EVP_Digest(Bytes(Data), Data.size(), Bytes(result), &size, Method(crypto, Kind), nullptr) != 1 ||
      size != result.size())
    Fail(crypto, "EVP_Digest");
  return result;
}

std::string Hmac(THashKind Kind, std::string_view Key, std::string_view Data) {
  const TLibCrypto& crypto = LibCrypto();
  std::string result(DigestSize(Kind), '\0');
  unsigned int size = 0;
  if (!crypto.HMAC(Method(crypto, Kind), Bytes(Key), IntLength(Key.size(), "HMAC"), Bytes(Data), Data.size(),
                   Bytes(result), &size) ||
      size != result.size())
    Fail(crypto, "HMAC");
  return result;
}

std::string Pbkdf2(THashKind Kind, std::string_view Password, std::string_view Salt, std::uint32_t Iterations) {
  const TLibCrypto& crypto = LibCrypto();
  std::string result(DigestSize(Kind), '\0');
  const char* call = "PKCS5_PBKDF2_HMAC";
  if (crypto.PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(Bytes(Password)), IntLength(Password.size(), call),
                               Bytes(Salt), IntLength(Salt.size(), call), IntLength(Iterations, call),
                               Method(crypto, Kind), static_cast<int>(result.size()), Bytes(result)) != 1)
    Fail(crypto, call);
  return result;
}

std::string RandomBytes(std::size_t Count) {
  const TLibCrypto& crypto = LibCrypto();
  std::string result(Count, '\0');
  for (std::size_t done = 0; done < Count;) {
    const int part = static_cast<int>(std::min<std::size_t>(Count - done, INT_MAX));
    if (crypto.RAND_bytes(Bytes(result) + done, part) != 1) Fail(crypto, "RAND_bytes");
    done += static_cast<std::size_t>(part);
  }
  return result;
}
