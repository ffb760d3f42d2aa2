#pragma once
// A throwaway certificate authority and server certificates for the TLS
// tests, made with the openssl command into a temporary folder the first
// time they are asked for, once per test program, and removed at its end.
// Every server certificate is for "localhost" (as DNS name and XMPP address)
// and "scram.localhost" (the ejabberd fixture's second host) unless its name
// says otherwise, and all share one key.

#include <string>

#include "support/server_process.h"

class TTestCertificates {
 public:
  // The certificates of this test program; throws std::runtime_error, with
  // openssl's output, when they cannot be made.
  static const TTestCertificates& Get();

  std::string Folder() const { return FFolder.Path().string(); }
  std::string CaFile() const { return Folder() + "/ca.pem"; }  // the CA's own certificate
  std::string Key() const { return Folder() + "/server.key"; }
  std::string Valid() const { return Folder() + "/valid.pem"; }          // a year from now
  std::string Expired() const { return Folder() + "/expired.pem"; }      // valid through 2020
  std::string WrongName() const { return Folder() + "/wrong-name.pem"; }  // for wrong.example only
  std::string ExpiresSoon() const { return Folder() + "/soon.pem"; }     // 3 days and 1 hour from now
  std::string SelfSigned() const { return Folder() + "/self-signed.pem"; }
  // A certificate directory as OpenSSL reads one, with the CA alone.
  std::string TrustedDir() const { return Folder() + "/trusted"; }

  // When Expired() and ExpiresSoon() end, as the program writes dates.
  static constexpr const char* kExpiredEnd = "2021-01-01 00:00:00 UTC";
  std::string ExpiresSoonEnd() const { return FExpiresSoonEnd; }

 private:
  TTestCertificates();

  serverprocess::TFolder FFolder{"certs"};
  std::string FExpiresSoonEnd;
};
