#include "text/sec_hash.h"

#include <cstring>

#include "text/codepage.h"
#include "text/xml_text.h"

namespace {

std::uint32_t RotateLeft(std::uint32_t Word, int Bits) { return (Word << Bits) | (Word >> (32 - Bits)); }

void StoreBigEndian64(unsigned char* To, std::uint64_t Value) {
  for (int i = 7; i >= 0; --i) {
    To[i] = static_cast<unsigned char>(Value);
    Value >>= 8;
  }
}

}  // namespace

void TSecHash::HashBuffer(const void* Data, std::int32_t Size, TSha1Digest& Digest) {
  Hash(static_cast<const unsigned char*>(Data), Size > 0 ? static_cast<std::uint64_t>(Size) : 0, Digest);
}

void TSecHash::HashString(const std::string& Text, TSha1Digest& Digest) {
  // Hashed under its full length, so a text beyond the 32-bit count of
  // HashBuffer is not silently cut.
  Hash(reinterpret_cast<const unsigned char*>(Text.data()), Text.size(), Digest);
}

void TSecHash::Hash(const unsigned char* Data, std::uint64_t Size, TSha1Digest& Digest) {
  Reset();
  std::uint64_t offset = 0;
  for (; Size - offset >= 64; offset += 64) {
    std::memcpy(Block, Data + offset, 64);
    Transform();
  }
  const auto rest = static_cast<std::size_t>(Size - offset);
  if (rest > 0) std::memcpy(Block, Data + offset, rest);
  Block[rest] = 0x80;
  std::memset(Block + rest + 1, 0, 63 - rest);
  if (rest >= 56) {
    // No room left for the length: it goes into an extra block.
    Transform();
    std::memset(Block, 0, 56);
  }
  StoreBigEndian64(Block + 56, Size * 8);
  Transform();
  Digest = TSha1Digest{{H0, H1, H2, H3, H4}};
}

void TSecHash::Reset() {
  H0 = 0x67452301;
  H1 = 0xEFCDAB89;
  H2 = 0x98BADCFE;
  H3 = 0x10325476;
  H4 = 0xC3D2E1F0;
  static constexpr std::uint32_t StepGroupConstants[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};
  for (int t = 0; t < 80; ++t) K[t] = StepGroupConstants[t / 20];
}

void TSecHash::Transform() {
  for (int t = 0; t < 16; ++t) {
    const unsigned char* p = Block + 4 * t;
    W[t] = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
  }
  for (int t = 16; t < 80; ++t) W[t] = RotateLeft(W[t - 3] ^ W[t - 8] ^ W[t - 14] ^ W[t - 16], 1);
  A = H0;
  B = H1;
  C = H2;
  D = H3;
  E = H4;
  for (int t = 0; t < 80; ++t) {
    std::uint32_t f;
    if (t < 20)
      f = (B & C) | (~B & D);
    else if (t < 40 || t >= 60)
      f = B ^ C ^ D;
    else
      f = (B & C) | (B & D) | (C & D);
    const std::uint32_t temp = RotateLeft(A, 5) + f + E + W[t] + K[t];
    E = D;
    D = C;
    C = RotateLeft(B, 30);
    B = A;
    A = temp;
  }
  H0 += A;
  H1 += B;
  H2 += C;
  H3 += D;
  H4 += E;
}

std::u16string Sha1Hex(const std::u16string& Text) { return Sha1HexOfUtf8(Latin1ToUtf8(WideToAnsi(Text))); }

std::u16string Sha1HexOfUtf8(const std::string& Utf8) {
  TSecHash hash;
  TSha1Digest digest;
  hash.HashString(Utf8, digest);
  static constexpr char16_t HexDigits[] = u"0123456789abcdef";
  std::u16string result;
  result.reserve(40);
  for (const std::uint32_t word : digest.H)
    for (int shift = 28; shift >= 0; shift -= 4) result += HexDigits[(word >> shift) & 15];
  return result;
}
