#pragma once
// SHA-1 (FIPS 180-1) for the digest login: the digest of the stream
// identifier followed by the password, written as 40 lower-case hex digits.

#include <cstddef>
#include <cstdint>
#include <string>

// A SHA-1 result: the state words H0 to H4 in this order. The standard's
// 20-byte digest is these words written most significant byte first.
struct TSha1Digest {
  std::uint32_t H[5];
};

// Computes SHA-1 over a buffer in one call. Every call starts afresh; the
// block, the schedule and the step constants live in the object, so nothing
// is allocated while hashing.
class TSecHash {
 public:
  // The SHA-1 of the Size bytes at Data (a negative Size counts as 0).
  void HashBuffer(const void* Data, std::int32_t Size, TSha1Digest& Digest);

  // The SHA-1 of all bytes of Text.
  void HashString(const std::string& Text, TSha1Digest& Digest);

 private:
  void Hash(const unsigned char* Data, std::uint64_t Size, TSha1Digest& Digest);
  void Reset();
  void Transform();

  std::uint32_t A = 0, B = 0, C = 0, D = 0, E = 0;
  std::uint32_t H0 = 0, H1 = 0, H2 = 0, H3 = 0, H4 = 0;
  unsigned char Block[64] = {};
  std::uint32_t W[80] = {};
  std::uint32_t K[80] = {};
};

// The 40 lower-case hex digits of the SHA-1 of Text, taken to 8-bit text in
// the ANSI code page and then read as ISO-8859-1 into UTF-8.
std::u16string Sha1Hex(const std::u16string& Text);
// The same of UTF-8 text, digested byte for byte.
std::u16string Sha1HexOfUtf8(const std::string& Utf8);
