// The platform-free part of the TLS layer.

#include "net/tls.h"

#include "net/system_error.h"
#include "net/tls_error.h"
#include "net/whole_file.h"

namespace {

// A CA bundle of every public root is a few hundred KiB, one with the
// intermediates too a few MiB; the limit keeps a wrong name from costing much.
constexpr std::size_t kMaxCaFileBytes = 16 << 20;

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";

// DER tags of a subjectAltName: the sequence of names, a dNSName, an
// otherName, and inside it the type, the explicit value and its UTF8String.
constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kDnsName = 0x82;
constexpr unsigned char kOtherName = 0xA0;
constexpr unsigned char kObjectId = 0x06;
constexpr unsigned char kExplicitValue = 0xA0;
constexpr unsigned char kUtf8String = 0x0C;
// id-on-xmppAddr, 1.3.6.1.5.5.7.8.5, as DER contents.
constexpr std::string_view kXmppAddrOid = "\x2B\x06\x01\x05\x05\x07\x08\x05";

// Takes the DER element at the start of Der: its tag and its contents.
// False when it is cut off or its length is malformed.
bool TakeElement(std::string_view& Der, unsigned char& Tag, std::string_view& Contents) {
  if (Der.size() < 2) return false;
  Tag = static_cast<unsigned char>(Der[0]);
  std::size_t length = static_cast<unsigned char>(Der[1]);
  std::size_t at = 2;
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || Der.size() < at + count) return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<unsigned char>(Der[at + i]);
    at += count;
  }
  if (length > Der.size() - at) return false;
  Contents = Der.substr(at, length);
  Der.remove_prefix(at + length);
  return true;
}

}  // namespace

bool IsAddressLiteral(std::string_view Name) {
  if (Name.empty()) return false;
  // A DNS name never holds a colon; every IPv6 literal does.
  if (Name.find(':') != std::string_view::npos) return true;
  for (const char c : Name)
    if ((c < '0' || c > '9') && c != '.') return false;
  return true;
}

std::string SniName(std::string_view ServerName) {
  if (IsAddressLiteral(ServerName)) return {};
  if (!ServerName.empty() && ServerName.back() == '.') ServerName.remove_suffix(1);
  std::string name(ServerName);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

// Read here rather than by the platform's decoder: some decoders reject a
// whole extension for an otherName they do not know.
bool ReadSubjectAltName(std::string_view Der, TPeerCertificate& Certificate) {
  unsigned char tag = 0;
  std::string_view names;
  if (!TakeElement(Der, tag, names) || tag != kSequence) return false;
  while (!names.empty()) {
    std::string_view name;
    if (!TakeElement(names, tag, name)) return false;
    if (tag == kDnsName) {
      Certificate.DnsNames.emplace_back(name);
    } else if (tag == kOtherName) {
      std::string_view type, value, text;
      if (TakeElement(name, tag, type) && tag == kObjectId && type == kXmppAddrOid && TakeElement(name, tag, value) &&
          tag == kExplicitValue && TakeElement(value, tag, text) && tag == kUtf8String)
        Certificate.XmppAddrs.emplace_back(text);
    }
  }
  return true;
}

std::vector<std::string> ReadCaCertificates(const std::string& CaFile) {
  std::string text;
  std::int32_t error = 0;
  switch (ReadWholeFile(CaFile, kMaxCaFileBytes, text, error)) {
    case TFileRead::Done:
      break;
    case TFileRead::SystemError:
      throw ETlsError(tlsErrCaFile, {CaFile, SystemErrorText(error)});
    case TFileRead::NotRegular:
      throw ETlsError(tlsErrCaFile, {CaFile, TlsReasonText(TTlsReason::NotRegularFile)});
    case TFileRead::TooLarge:
      throw ETlsError(tlsErrCaFile, {CaFile, TlsReasonText(TTlsReason::FileTooLarge)});
  }
  // Text around and between the blocks (comments, other PEM objects such as
  // a key) is no business of ours.
  std::vector<std::string> blocks;
  for (std::size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
    const std::size_t end = text.find(kEnd, at);
    if (end == std::string::npos) break;
    blocks.push_back(text.substr(at, end + kEnd.size() - at));
    at = end + kEnd.size();
  }
  if (blocks.empty()) throw ETlsError(tlsErrCaEmpty, {CaFile});
  return blocks;
}
