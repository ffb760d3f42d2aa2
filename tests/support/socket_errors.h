#pragma once
// The error numbers and resolver texts that the platform's socket calls
// report, so that socket tests can state the exact message the user sees on
// every platform.

#include <string>

namespace socketerrors {

extern const int kConnectionRefused;
extern const int kConnectionReset;
extern const int kBrokenPipe;
extern const int kNetworkUnreachable;
// The resolver's number for a name no one has.
extern const int kUnknownName;

// The description a failed name look-up carries for its error number.
std::string ResolverText(int number);

}  // namespace socketerrors
