#pragma once
// A throwaway certificate authority and server certificates for the TLS
// tests, made with the openssl command into a temporary folder the first
// time they are asked for, once per test program, and removed at its end.
// Every server certificate is for "localhost" (as DNS name and XMPP address)
// and "scram.localhost" (the ejabberd fixture's second host) unless its name
// says otherwise, and all share one key.

#include <string>

class TTestCertificates {
 public:
  // The certificates of this test program; throws std::runtime_error, with
  // openssl's output, when they cannot be made.
  static const TTestCertificates& Get();

  std::string Folder() const { return FFolder; }
  std::string CaFile() const { return FFolder + "/ca.pem"; }  // the CA's own certificate
  std::string Key() const { return FFolder + "/server.key"; }
  std::string Valid() const { return FFolder + "/valid.pem"; }          // a year from now
  std::string Expired() const { return FFolder + "/expired.pem"; }      // valid through 2020
  std::string WrongName() const { return FFolder + "/wrong-name.pem"; }  // for wrong.example only
  std::string ExpiresSoon() const { return FFolder + "/soon.pem"; }     // 3 days and 1 hour from now
  std::string SelfSigned() const { return FFolder + "/self-signed.pem"; }
  // A certificate directory as OpenSSL reads one, with the CA alone.
  std::string TrustedDir() const { return FFolder + "/trusted"; }

  // When Expired() and ExpiresSoon() end, as the program writes dates.
  static constexpr const char* kExpiredEnd = "2021-01-01 00:00:00 UTC";
  std::string ExpiresSoonEnd() const { return FExpiresSoonEnd; }

 private:
  TTestCertificates();
  ~TTestCertificates();

  std::string FFolder;
  std::string FExpiresSoonEnd;
};
