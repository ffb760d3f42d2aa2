// crypto.h with BCrypt (CNG), the system's own cryptography.

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <mutex>

#include "base/fill_text.h"
#include "crypto/crypto.h"

namespace {

// The reasons of ECryptoError; "{}" stands for the call, then the status.
constexpr const char* kCallFailed = "{} failed with status {}";
constexpr const char* kTooLarge = "{} cannot take that much data";

void Check(NTSTATUS Status, const char* Call) {
  if (BCRYPT_SUCCESS(Status)) return;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(Status));
  throw ECryptoError(FillText(kCallFailed, {Call, code}));
}

ULONG Length(std::size_t Size, const char* Call) {
  if (Size > ULONG_MAX) throw ECryptoError(FillText(kTooLarge, {Call}));
  return static_cast<ULONG>(Size);
}

// BCrypt takes its input through non-const pointers without writing to it.
PUCHAR Bytes(std::string_view Text) {
  static UCHAR nothing = 0;
  return Text.empty() ? &nothing : reinterpret_cast<PUCHAR>(const_cast<char*>(Text.data()));
}

PUCHAR Bytes(std::string& Buffer) { return reinterpret_cast<PUCHAR>(Buffer.data()); }

// The algorithm providers, opened on first use and kept for the life of the
// process (opening one costs far more than a hash): one for plain digests
// and one for HMAC and PBKDF2, per hash kind; a failed open is tried again
// by the next call.
BCRYPT_ALG_HANDLE Provider(THashKind Kind, bool Keyed) {
  static std::mutex opening;
  static BCRYPT_ALG_HANDLE providers[2][2] = {};
  std::lock_guard<std::mutex> lock(opening);
  BCRYPT_ALG_HANDLE& provider = providers[Kind == THashKind::Sha1 ? 0 : 1][Keyed ? 1 : 0];
  const wchar_t* algorithm = Kind == THashKind::Sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_SHA256_ALGORITHM;
  if (!provider)
    Check(BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, Keyed ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0),
          "BCryptOpenAlgorithmProvider");
  return provider;
}

// A digest, or with Keyed an HMAC under Key.
std::string Hash(THashKind Kind, bool Keyed, std::string_view Key, std::string_view Data) {
  std::string result(DigestSize(Kind), '\0');
  BCRYPT_HASH_HANDLE hash = nullptr;
  Check(BCryptCreateHash(Provider(Kind, Keyed), &hash, nullptr, 0, Keyed ? Bytes(Key) : nullptr,
                         Keyed ? Length(Key.size(), "BCryptCreateHash") : 0, 0),
        "BCryptCreateHash");
  NTSTATUS status = BCryptHashData(hash, Bytes(Data), Length(Data.size(), "BCryptHashData"), 0);
  const char* call = "BCryptHashData";
  if (BCRYPT_SUCCESS(status)) {
    status = BCryptFinishHash(hash, Bytes(result), static_cast<ULONG>(result.size()), 0);
    call = "BCryptFinishHash";
  }
  BCryptDestroyHash(hash);
  Check(status, call);
  return result;
}

}  // namespace

std::string Digest(THashKind Kind, std::string_view Data) { return Hash(Kind, false, {}, Data); }

std::string Hmac(THashKind Kind, std::string_view Key, std::string_view Data) { return Hash(Kind, true, Key, Data); }

std::string Pbkdf2(THashKind Kind, std::string_view Password, std::string_view Salt, std::uint32_t Iterations) {
  std::string result(DigestSize(Kind), '\0');
  const char* call = "BCryptDeriveKeyPBKDF2";
  Check(BCryptDeriveKeyPBKDF2(Provider(Kind, true), Bytes(Password), Length(Password.size(), call), Bytes(Salt),
                              Length(Salt.size(), call), Iterations, Bytes(result), static_cast<ULONG>(result.size()),
                              0),
        call);
  return result;
}

std::string RandomBytes(std::size_t Count) {
  std::string result(Count, '\0');
  for (std::size_t done = 0; done < Count;) {
    const ULONG part = static_cast<ULONG>(std::min<std::size_t>(Count - done, ULONG_MAX));
    Check(BCryptGenRandom(nullptr, Bytes(result) + done, part, BCRYPT_USE_SYSTEM_PREFERRED_RNG), "BCryptGenRandom");
    done += part;
  }
  return result;
}
