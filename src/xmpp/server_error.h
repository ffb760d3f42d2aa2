#pragma once
// The classification of a server's error element into the codes of
// EJabberSendError: by its legacy numeric code or by its condition's name.
// Some request errors mean a failed login before the session is
// established and a bad recipient once it is, hence Established.

#include <cstdint>
#include <string>

// The code for the legacy numeric code Code; jabberErrUnexpected for one
// outside the known set.
std::int32_t ClassifyByCode(std::int32_t Code, bool Established);
// The code for the condition ErrorElement names by its first child;
// jabberErrUnexpected when it names none or one outside the lists.
std::int32_t ClassifyByCondition(const std::string& ErrorElement, bool Established);
