#include "support/test_certificates.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <stdexcept>

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

// Makes them all in the folder $0; $1 is when soon.pem ends.
const char kScript[] = R"(set -e; cd "$0"; : >index.txt; echo 1000 >serial
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 -subj "/CN=tolvane test CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
openssl req -new -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=localhost
issue() { out=$1 extensions=$2; shift 2
  openssl ca -config ca.cnf -batch -notext -in server.csr -out "$out" -extensions "$extensions" "$@"; }
issue valid.pem localhost -days 365
issue expired.pem localhost -startdate 20200101000000Z -enddate 20210101000000Z
issue wrong-name.pem wrong -days 365
issue soon.pem localhost -enddate "$1"
mkdir trusted; cp ca.pem trusted/; openssl rehash trusted
openssl req -x509 -key server.key -out self-signed.pem -days 365 -subj /CN=localhost \
  -addext subjectAltName=DNS:localhost
)";

}  // namespace

const TTestCertificates& TTestCertificates::Get() {
  static const TTestCertificates certificates;
  return certificates;
}

TTestCertificates::TTestCertificates() {
  std::ofstream(FFolder / "ca.cnf") << kCaConfiguration;
  const std::time_t soon = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()) + 3 * 86400 + 3600;
  FExpiresSoonEnd = Utc(soon, "%Y-%m-%d %H:%M:%S UTC");
  const TProgramRun run = RunProgram({"sh", "-c", kScript, Folder(), Utc(soon, "%Y%m%d%H%M%SZ")}, {});
  if (!run.ExitedWith(0))
    throw std::runtime_error("openssl failed (Debian package openssl):\n" + run.Output + run.Errors);
}
