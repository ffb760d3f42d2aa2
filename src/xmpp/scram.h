#pragma once
// The client side of SCRAM (RFC 5802, RFC 7677) without channel binding: pure
// message building and checking over the platform's HMAC and PBKDF2. It knows
// nothing of XMPP: the conversation carries its messages in base64.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/base_error.h"
#include "crypto/crypto.h"

// Iteration counts above this are refused, so that no server can make a
// check spin.
inline constexpr std::uint32_t kScramMaxIterations = 1000000;

// What the client refuses in the server's messages. The message is one of
// the fixed texts of scram.cpp, with the details filled in.
class EScramError : public EBaseError {
 public:
  using EBaseError::EBaseError;
};

class TScramClient {
 public:
  // ClientNonce: printable ASCII without ','; MakeScramNonce gives one.
  // UserName and Password are UTF-8 as given (no SASLprep).
  TScramClient(THashKind Kind, std::string_view UserName, std::string_view Password, std::string ClientNonce);

  // "n,,n=<user, '=' and ',' escaped as =3D and =2C>,r=<nonce>"
  std::string ClientFirst() const;
  // Takes the server-first message and gives the client-final one (with the
  // proof). Raises EScramError for a malformed message, a nonce that does
  // not extend ours, an iteration count of 0 or above kScramMaxIterations,
  // or an "e=" error.
  std::string ClientFinal(std::string_view ServerFirst);
  // Checks the server-final message: "v=" must carry the server signature
  // the password gives. Raises EScramError when it is missing or wrong, or
  // for an "e=" error.
  void CheckServerFinal(std::string_view ServerFinal) const;

 private:
  THashKind FKind;
  std::string FUserName;  // escaped
  std::string FPassword;
  std::string FClientNonce;
  std::string FAuthMessage;
  std::string FServerSignature;
};

// A fresh client nonce from the system's secure random source: 24 random
// bytes in base64 (32 characters).
std::string MakeScramNonce();
