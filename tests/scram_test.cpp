#include "xmpp/scram.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TVector {
  const char* Name;
  THashKind Kind;
  std::string ClientNonce;
  std::string ServerFirst;
  std::string ClientFinal;
  std::string ServerFinal;
};

// RFC 5802 §5 and RFC 7677 §3: user "user", password "pencil".
const TVector kSha1 = {
    "Sha1",
    THashKind::Sha1,
    "fyko+d2lbbFgONRv9qkxdawL",
    "r=fyko+d2lbbFgONRv9qkxdawL3rfcNHYJY1ZVvWVs7j,s=QSXCR+Q6sek8bf92,i=4096",
    "c=biws,r=fyko+d2lbbFgONRv9qkxdawL3rfcNHYJY1ZVvWVs7j,p=v0X8v3Bz2T0CJGbJQyF0X+HI4Ts=",
    "v=rmF9pqV8S7suAoZWja4dJRkFsKQ=",
};
const TVector kSha256 = {
    "Sha256",
    THashKind::Sha256,
    "rOprNGfwEbeRWgbNEkqO",
    "r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,s=W22ZaJ0SNY7soEsUEjb6gQ==,i=4096",
    "c=biws,r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,p=dHzbZapWIk4jUhN+Ute9ytag9zjfMHgsqmmiz7AndVQ=",
    "v=6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4=",
};

TEST(Scram, RfcVectors) {
  for (const TVector& v : {kSha1, kSha256}) {
    SCOPED_TRACE(v.Name);
    TScramClient client(v.Kind, "user", "pencil", v.ClientNonce);
    EXPECT_EQ(client.ClientFirst(), "n,,n=user,r=" + v.ClientNonce);
    EXPECT_EQ(client.ClientFinal(v.ServerFirst), v.ClientFinal);
    EXPECT_NO_THROW(client.CheckServerFinal(v.ServerFinal));
  }
}

TEST(Scram, UserNameIsEscaped) {
  EXPECT_EQ(TScramClient(THashKind::Sha1, "a=b,c", "", "N").ClientFirst(), "n,,n=a=3Db=2Cc,r=N");
}

TEST(Scram, NonceIsFreshBase64) {
  const std::string nonce = MakeScramNonce();
  EXPECT_EQ(nonce.size(), 32u);
  EXPECT_EQ(nonce.find(','), std::string::npos);
  EXPECT_NE(nonce, MakeScramNonce());
}

struct TRefusal {
  const char* Name;
  std::string ServerFirst;  // the SHA-1 vector's when empty
  std::string ServerFinal;  // not sent when the server-first is refused
  std::string Expected;
};

class ScramRefusal : public testing::TestWithParam<TRefusal> {};

TEST_P(ScramRefusal, Text) {
  const TRefusal& c = GetParam();
  TScramClient client(kSha1.Kind, "user", "pencil", kSha1.ClientNonce);
  try {
    client.ClientFinal(c.ServerFirst.empty() ? kSha1.ServerFirst : c.ServerFirst);
    client.CheckServerFinal(c.ServerFinal);
    ADD_FAILURE() << "accepted";
  } catch (const EScramError& e) {
    EXPECT_EQ(e.Message(), c.Expected);
  }
}

const std::string kMalformed = "The server's challenge is malformed";
const std::string kSalt = ",s=QSXCR+Q6sek8bf92";
const std::string kNonce = "r=fyko+d2lbbFgONRv9qkxdawL3rfc";

INSTANTIATE_TEST_SUITE_P(
    Cases, ScramRefusal,
    testing::Values(
        TRefusal{"ForeignNonce", "r=3rfcNHYJY1ZVvWVs7j" + kSalt + ",i=4096", "",
                 "The server's nonce does not extend ours"},
        TRefusal{"NonceNotLonger", "r=fyko+d2lbbFgONRv9qkxdawL" + kSalt + ",i=4096", "",
                 "The server's nonce does not extend ours"},
        TRefusal{"TenMillionIterations", kNonce + kSalt + ",i=10000000", "",
                 "The server asks for 10000000 iterations, more than 1000000"},
        TRefusal{"OneMoreThanTheLimit", kNonce + kSalt + ",i=1000001", "",
                 "The server asks for 1000001 iterations, more than 1000000"},
        TRefusal{"ErrorInsteadOfChallenge", "e=other-error", "", "The server reports an error: other-error"},
        TRefusal{"ZeroIterations", kNonce + kSalt + ",i=0", "", kMalformed},
        TRefusal{"LeadingZero", kNonce + kSalt + ",i=04096", "", kMalformed},
        TRefusal{"SignedIterations", kNonce + kSalt + ",i=+4096", "", kMalformed},
        TRefusal{"NoIterations", kNonce + kSalt, "", kMalformed},
        TRefusal{"SaltNotBase64", kNonce + ",s=QSXCR+Q6sek8bf9,i=4096", "", kMalformed},
        TRefusal{"EmptySalt", kNonce + ",s=,i=4096", "", kMalformed},
        TRefusal{"OutOfOrder", kSalt.substr(1) + "," + kNonce + ",i=4096", "", kMalformed},
        TRefusal{"MandatoryExtension", "m=ext," + kNonce + kSalt + ",i=4096", "", kMalformed},
        TRefusal{"NonceWithSpace", kNonce + " x" + kSalt + ",i=4096", "", kMalformed},
        TRefusal{"TrailingComma", kSha1.ServerFirst + ",", "", kMalformed},
        TRefusal{"NotAttributes", "hello", "", kMalformed},
        TRefusal{"FinalNotAttributes", "", "x", "The server's signature is missing"},
        TRefusal{"ErrorInsteadOfSignature", "", "e=invalid-proof", "The server reports an error: invalid-proof"},
        TRefusal{"OtherAttribute", "", "x=rmF9pqV8S7suAoZWja4dJRkFsKQ=", "The server's signature is missing"},
        TRefusal{"NoFinalData", "", "", "The server's signature is missing"},
        TRefusal{"WrongSignature", "", "v=rmF9pqV8S7suAoZWja4dJRkFsKA=", "The server's signature is wrong"},
        TRefusal{"SignatureNotBase64", "", "v=rmF9pqV8S7suAoZWja4dJRkFsKQ", "The server's signature is wrong"},
        TRefusal{"ShortSignature", "", "v=rmF9pqV8", "The server's signature is wrong"}),
    [](const testing::TestParamInfo<TRefusal>& info) { return std::string(info.param.Name); });

}  // namespace
