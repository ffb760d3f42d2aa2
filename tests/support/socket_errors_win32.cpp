#include "support/socket_errors.h"

#include <winsock2.h>

#include "net/system_error.h"

namespace socketerrors {

const int kConnectionRefused = WSAECONNREFUSED;
const int kConnectionReset = WSAECONNRESET;
// WinSock has no broken pipe of its own: a send to a dropped peer is a reset
// or an aborted connection.
const int kBrokenPipe = WSAECONNABORTED;
const int kNetworkUnreachable = WSAENETUNREACH;
const int kUnknownName = WSAHOST_NOT_FOUND;

// WinSock's resolver errors are ordinary WinSock numbers with system texts.
std::string ResolverText(int number) { return SystemErrorText(number); }

}  // namespace socketerrors
