// The SCRAM client: message building and checking over crypto.h.

#include "xmpp/scram.h"

#include <optional>
#include <vector>

#include "base/coded_error.h"
#include "text/base64.h"

namespace {

constexpr std::int32_t scramMalformed = 1;
constexpr std::int32_t scramForeignNonce = 2;
constexpr std::int32_t scramTooManyIterations = 3;
constexpr std::int32_t scramServerError = 4;
constexpr std::int32_t scramNoSignature = 5;
constexpr std::int32_t scramWrongSignature = 6;

// "{}" stands for the next detail.
const TCodeText kTexts[] = {
    {scramMalformed, "The server's challenge is malformed"},
    {scramForeignNonce, "The server's nonce does not extend ours"},
    {scramTooManyIterations, "The server asks for {} iterations, more than {}"},
    {scramServerError, "The server reports an error: {}"},
    {scramNoSignature, "The server's signature is missing"},
    {scramWrongSignature, "The server's signature is wrong"},
};

[[noreturn]] void Refuse(std::int32_t Code, const std::vector<std::string>& Details = {}) {
  throw EScramError(FillText(TextOf(kTexts, Code, scramMalformed), Details));
}

// "=" and "," would be read as the syntax of the message.
std::string EscapeName(std::string_view Name) {
  std::string escaped;
  for (const char c : Name) {
    if (c == '=')
      escaped += "=3D";
    else if (c == ',')
      escaped += "=2C";
    else
      escaped += c;
  }
  return escaped;
}

struct TAttribute {
  char Name;
  std::string_view Value;
};

// The message's attributes, "a=value" separated by ","; nothing when one is
// not of that shape.
std::optional<std::vector<TAttribute>> Attributes(std::string_view Message) {
  std::vector<TAttribute> attributes;
  for (;;) {
    const std::size_t end = Message.find(',');
    const std::string_view part = Message.substr(0, end);
    const char name = part.empty() ? '\0' : part[0];
    if (part.size() < 2 || part[1] != '=' || !((name >= 'a' && name <= 'z') || (name >= 'A' && name <= 'Z')))
      return std::nullopt;
    attributes.push_back({name, part.substr(2)});
    if (end == std::string_view::npos) return attributes;
    Message.remove_prefix(end + 1);
  }
}

// A nonce is printable ASCII without ",".
bool IsPrintable(std::string_view Text) {
  for (const char c : Text)
    if (c < 0x21 || c > 0x7E || c == ',') return false;
  return true;
}

// A positive decimal number without leading zeros, as the server wrote it.
bool IsPositiveNumber(std::string_view Text) {
  if (Text.empty() || Text[0] == '0') return false;
  for (const char c : Text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string Xor(std::string a, std::string_view b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) a[i] = static_cast<char>(a[i] ^ b[i]);
  return a;
}

}  // namespace

TScramClient::TScramClient(THashKind Kind, std::string_view UserName, std::string_view Password,
                           std::string ClientNonce)
    : FKind(Kind), FUserName(EscapeName(UserName)), FPassword(Password), FClientNonce(std::move(ClientNonce)) {}

std::string TScramClient::ClientFirst() const { return "n,,n=" + FUserName + ",r=" + FClientNonce; }

std::string TScramClient::ClientFinal(std::string_view ServerFirst) {
  const auto attributes = Attributes(ServerFirst);
  if (attributes && attributes->front().Name == 'e') Refuse(scramServerError, {std::string(attributes->front().Value)});
  // A mandatory extension ("m=" first) is one this client cannot know.
  if (!attributes || attributes->size() < 3 || (*attributes)[0].Name != 'r' || (*attributes)[1].Name != 's' ||
      (*attributes)[2].Name != 'i')
    Refuse(scramMalformed);
  const std::string_view nonce = (*attributes)[0].Value;
  const std::optional<std::string> salt = Base64Decode((*attributes)[1].Value);
  const std::string_view iterations = (*attributes)[2].Value;
  if (!IsPrintable(nonce) || !salt || salt->empty() || !IsPositiveNumber(iterations)) Refuse(scramMalformed);
  if (nonce.size() <= FClientNonce.size() || nonce.compare(0, FClientNonce.size(), FClientNonce) != 0)
    Refuse(scramForeignNonce);
  const std::string limit = std::to_string(kScramMaxIterations);
  if (iterations.size() > limit.size() || (iterations.size() == limit.size() && iterations > limit))
    Refuse(scramTooManyIterations, {std::string(iterations), limit});

  const auto count = static_cast<std::uint32_t>(std::stoul(std::string(iterations)));
  const std::string salted = Pbkdf2(FKind, FPassword, *salt, count);
  const std::string clientKey = Hmac(FKind, salted, "Client Key");
  const std::string storedKey = Digest(FKind, clientKey);
  // "biws" is "n,," in base64: the gs2 header, without channel binding.
  const std::string withoutProof = "c=biws,r=" + std::string(nonce);
  FAuthMessage = ClientFirst().substr(3) + "," + std::string(ServerFirst) + "," + withoutProof;
  const std::string proof = Xor(clientKey, Hmac(FKind, storedKey, FAuthMessage));
  FServerSignature = Hmac(FKind, Hmac(FKind, salted, "Server Key"), FAuthMessage);
  return withoutProof + ",p=" + Base64Encode(proof);
}

void TScramClient::CheckServerFinal(std::string_view ServerFinal) const {
  const auto attributes = Attributes(ServerFinal);
  if (attributes && attributes->front().Name == 'e') Refuse(scramServerError, {std::string(attributes->front().Value)});
  if (!attributes || attributes->front().Name != 'v') Refuse(scramNoSignature);
  const std::optional<std::string> signature = Base64Decode(attributes->front().Value);
  if (FServerSignature.empty() || signature != FServerSignature) Refuse(scramWrongSignature);
}

std::string MakeScramNonce() { return Base64Encode(RandomBytes(24)); }
