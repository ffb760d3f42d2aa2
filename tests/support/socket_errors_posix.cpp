#include "support/socket_errors.h"

#include <netdb.h>

#include <cerrno>

namespace socketerrors {

const int kConnectionRefused = ECONNREFUSED;
const int kConnectionReset = ECONNRESET;
const int kBrokenPipe = EPIPE;
const int kNetworkUnreachable = ENETUNREACH;
const int kUnknownName = EAI_NONAME;

// The resolver's own numbers and texts, not an errno's.
std::string ResolverText(int number) { return gai_strerror(number); }

}  // namespace socketerrors
