#include "support/test_certificates.h"

#include <stdlib.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "support/program.h"

namespace {

// `openssl ca` needs a configuration; the sections at its end are the
// extensions of the server certificates.
const char kCaConfiguration[] = R"([ca]
default_ca = test
[test]
dir = .
database = index.txt
new_certs_dir = .
serial = serial
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = any
unique_subject = no
email_in_dn = no
[any]
commonName = supplied
[localhost]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, otherName:1.3.6.1.5.5.7.8.5;UTF8:localhost, DNS:scram.localhost
[wrong]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = DNS:wrong.example
)";

std::string Utc(std::time_t t, const char* format) {
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[64];
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

void OpenSsl(const std::string& folder, std::vector<std::string> arguments) {
  // The openssl command works in the folder: every path is relative to it.
  arguments.insert(arguments.begin(), {"-c", "cd \"$0\" && exec openssl \"$@\"", folder});
  const TProgramRun run = RunProgram({"sh"}, arguments);
  if (!run.ExitedWith(0))
    throw std::runtime_error("openssl " + arguments[3] + " failed (Debian package openssl):\n" + run.Output +
                             run.Errors);
}

void Issue(const std::string& folder, const std::string& out, const std::string& extensions,
           std::vector<std::string> validity) {
  std::vector<std::string> arguments{"ca",         "-config", "ca.cnf", "-batch",      "-notext", "-in",
                                     "server.csr", "-out",    out,      "-extensions", extensions};
  arguments.insert(arguments.end(), validity.begin(), validity.end());
  OpenSsl(folder, arguments);
}

}  // namespace

const TTestCertificates& TTestCertificates::Get() {
  static const TTestCertificates certificates;
  return certificates;
}

TTestCertificates::TTestCertificates() {
  char pattern[] = "/tmp/tolvane-certs-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  FFolder = pattern;
  std::ofstream(FFolder + "/ca.cnf") << kCaConfiguration;
  std::ofstream(FFolder + "/index.txt");
  std::ofstream(FFolder + "/serial") << "1000\n";
  OpenSsl(FFolder, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days",
                    "3650", "-subj", "/CN=tolvane test CA", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                    "keyUsage=critical,keyCertSign,cRLSign"});
  OpenSsl(FFolder, {"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                    "-subj", "/CN=localhost"});
  const std::time_t soon = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()) + 3 * 86400 + 3600;
  FExpiresSoonEnd = Utc(soon, "%Y-%m-%d %H:%M:%S UTC");
  Issue(FFolder, "valid.pem", "localhost", {"-days", "365"});
  Issue(FFolder, "expired.pem", "localhost", {"-startdate", "20200101000000Z", "-enddate", "20210101000000Z"});
  Issue(FFolder, "wrong-name.pem", "wrong", {"-days", "365"});
  Issue(FFolder, "soon.pem", "localhost", {"-enddate", Utc(soon, "%Y%m%d%H%M%SZ")});
  std::filesystem::create_directory(TrustedDir());
  std::filesystem::copy_file(CaFile(), TrustedDir() + "/ca.pem");
  OpenSsl(FFolder, {"rehash", "trusted"});
  OpenSsl(FFolder, {"req", "-x509", "-key", "server.key", "-out", "self-signed.pem", "-days", "365", "-subj",
                    "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"});
}

TTestCertificates::~TTestCertificates() {
  std::error_code ignored;
  std::filesystem::remove_all(FFolder, ignored);
}
