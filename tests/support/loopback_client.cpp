#include "support/loopback_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

using std::chrono::milliseconds;
using TClock = std::chrono::steady_clock;

namespace {

// Milliseconds left until `deadline`, at least 0, for poll.
int Remaining(TClock::time_point deadline) {
  auto left = std::chrono::ceil<milliseconds>(deadline - TClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TLoopbackClient::TLoopbackClient(uint16_t port) {
  FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FSocket < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::string text = std::string("connect: ") + std::strerror(errno);
    Close();
    throw std::runtime_error(text);
  }
}

TLoopbackClient::~TLoopbackClient() { Close(); }

void TLoopbackClient::Close() {
  if (FSocket >= 0) close(FSocket);
  FSocket = -1;
}

bool TLoopbackClient::Send(const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = send(FSocket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string TLoopbackClient::ReceiveOnce(milliseconds timeout) {
  pollfd entry{FSocket, POLLIN, 0};
  if (poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) return {};
  char buffer[65536];
  ssize_t n = recv(FSocket, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string TLoopbackClient::ReceiveUntil(const std::string& marker, milliseconds timeout) {
  std::string data;
  auto deadline = TClock::now() + timeout;
  while (data.find(marker) == std::string::npos) {
    pollfd entry{FSocket, POLLIN, 0};
    if (poll(&entry, 1, Remaining(deadline)) <= 0) break;
    char buffer[65536];
    ssize_t n = recv(FSocket, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

TLoopbackClient::TEnd TLoopbackClient::ReadToEnd(milliseconds timeout, std::string& data) {
  auto deadline = TClock::now() + timeout;
  for (;;) {
    pollfd entry{FSocket, POLLIN, 0};
    if (poll(&entry, 1, Remaining(deadline)) <= 0) return TEnd::TimedOut;
    char buffer[65536];
    ssize_t n = recv(FSocket, buffer, sizeof buffer, 0);
    if (n == 0) return TEnd::Closed;
    if (n < 0) {
      if (errno == EINTR) continue;
      return TEnd::Reset;
    }
    data.append(buffer, static_cast<size_t>(n));
  }
}
