#include "support/loopback_client.h"

#include "support/test_socket.h"

using std::chrono::milliseconds;
using TClock = std::chrono::steady_clock;

namespace {

// Milliseconds left until `deadline`, at least 0, for a wait.
int Remaining(TClock::time_point deadline) {
  auto left = std::chrono::ceil<milliseconds>(deadline - TClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TLoopbackClient::TLoopbackClient(uint16_t port) : FSocket(testsocket::ConnectLoopback(port)) {}

TLoopbackClient::~TLoopbackClient() { Close(); }

void TLoopbackClient::Close() {
  if (FSocket != testsocket::kNoSocket) testsocket::Close(FSocket);
  FSocket = testsocket::kNoSocket;
}

bool TLoopbackClient::Send(const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    long n = testsocket::Send(FSocket, data.data() + sent, data.size() - sent);
    if (n < 0 && testsocket::FailureWasRetry()) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string TLoopbackClient::ReceiveOnce(milliseconds timeout) {
  if (!testsocket::Wait(FSocket, true, false, static_cast<int>(timeout.count())).Readable) return {};
  char buffer[65536];
  long n = testsocket::Receive(FSocket, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string TLoopbackClient::ReceiveUntil(const std::string& marker, milliseconds timeout) {
  std::string data;
  auto deadline = TClock::now() + timeout;
  while (data.find(marker) == std::string::npos) {
    if (!testsocket::Wait(FSocket, true, false, Remaining(deadline)).Readable) break;
    char buffer[65536];
    long n = testsocket::Receive(FSocket, buffer, sizeof buffer);
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

TLoopbackClient::TEnd TLoopbackClient::ReadToEnd(milliseconds timeout, std::string& data) {
  auto deadline = TClock::now() + timeout;
  for (;;) {
    if (!testsocket::Wait(FSocket, true, false, Remaining(deadline)).Readable) return TEnd::TimedOut;
    char buffer[65536];
    long n = testsocket::Receive(FSocket, buffer, sizeof buffer);
    if (n == 0) return TEnd::Closed;
    if (n < 0) {
      if (testsocket::FailureWasRetry()) continue;
      return TEnd::Reset;
    }
    data.append(buffer, static_cast<size_t>(n));
  }
}
