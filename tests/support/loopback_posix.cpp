// What the loopback endpoints need of POSIX beyond the platform layer.

#include "support/loopback.h"

#include <dirent.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/socket_address.h"
#include "support/loopback_bind.h"

namespace loopback {

using netplatform::Native;

const int kConnectionRefused = ECONNREFUSED;
const int kConnectionReset = ECONNRESET;
const int kBrokenPipe = EPIPE;
const int kUnknownName = EAI_NONAME;
const int kWouldBlock = EWOULDBLOCK;

// The resolver's own numbers and texts, not an errno's.
std::string ResolverText(int number) { return gai_strerror(number); }

bool ReceiveReportsResetAsClose() { return false; }

int CountOpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = -1;  // the directory stream's own descriptor is not counted
  while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

DefaultPipeSignal::DefaultPipeSignal() : FPrevious(signal(SIGPIPE, SIG_DFL)) {}

DefaultPipeSignal::~DefaultPipeSignal() { signal(SIGPIPE, FPrevious); }

void Socket::ShutdownWrite() const { shutdown(Native(FHandle), SHUT_WR); }

int Socket::UnacknowledgedBytes() const {
  int unsent = 0;
  return ioctl(Native(FHandle), SIOCOUTQ, &unsent) == 0 ? unsent : -1;
}

void Socket::CloseWithReset() {
  const linger hard{1, 0};
  setsockopt(Native(FHandle), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  Reset();
}

namespace platform {

bool Bind(Handle s, const netplatform::Address& address, std::uint16_t& port, int receiveBuffer, int backlog) {
  if (receiveBuffer > 0) setsockopt(Native(s), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  return BindAndListen(s, address, port, backlog);
}

Handle Accept(Handle listener) {
  const int fd = accept4(Native(listener), nullptr, nullptr, SOCK_CLOEXEC);
  const int on = 1;
  if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd >= 0 ? static_cast<Handle>(fd) : netplatform::kInvalidSocket;
}

}  // namespace platform

}  // namespace loopback
