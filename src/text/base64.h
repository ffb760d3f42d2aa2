#pragma once
// Base64 (RFC 4648, the standard alphabet, with padding), as SASL carries
// its messages in XMPP.

#include <optional>
#include <string>
#include <string_view>

std::string Base64Encode(std::string_view Bytes);

// The bytes Text stands for; nothing when Text is not canonical base64
// (a character outside the alphabet, white space, a wrong length or padding).
// An empty text is zero bytes.
std::optional<std::string> Base64Decode(std::string_view Text);
