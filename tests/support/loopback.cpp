#include "support/loopback.h"

#include <algorithm>
#include <stdexcept>

#include "net/system_error.h"

namespace loopback {

namespace {

netplatform::Address LoopbackAddress(bool ipv6) {
  netplatform::Address address;
  address.family = ipv6 ? netplatform::Family::V6 : netplatform::Family::V4;
  address.bytes[0] = ipv6 ? 0 : 127;
  address.bytes[ipv6 ? 15 : 3] = 1;
  return address;
}

// Milliseconds left until `deadline`, at least 0.
milliseconds Left(Clock::time_point deadline) {
  return std::max(milliseconds(0), std::chrono::ceil<milliseconds>(deadline - Clock::now()));
}

// One receive appended to `data`: 1 for data, 0 for a close, -1 for a failure.
int ReceiveInto(Handle s, std::string& data) {
  char buffer[65536];
  const int n = netplatform::Receive(s, buffer, sizeof buffer);
  if (n > 0) data.append(buffer, static_cast<std::size_t>(n));
  return n > 0 ? 1 : n;
}

// platform::Bind on loopback; throws, naming the address, when it fails.
Socket Bound(bool ipv6, std::uint16_t& port, int receiveBuffer, int backlog) {
  Socket s(netplatform::OpenSocket(1, ipv6 ? netplatform::Family::V6 : netplatform::Family::V4));
  if (!s.Valid() || !platform::Bind(s.Get(), LoopbackAddress(ipv6), port, receiveBuffer, backlog)) throw std::runtime_error(FailureText(std::string("bind to ") + (ipv6 ? "::1" : "127.0.0.1")));
  return s;
}

}  // namespace

bool Ready(Handle socket, netplatform::WaitFor what, milliseconds timeout) {
  // The platform layer waits without limit for 0 and looks once for -1.
  const auto ms = timeout.count();
  return netplatform::Wait(socket, what, ms > 0 ? static_cast<int>(ms) : -1) == 1;
}

std::string FailureText(const std::string& what) { return what + ": " + SystemErrorText(netplatform::LastError()); }

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Reset(other.FHandle);
    other.FHandle = netplatform::kInvalidSocket;
  }
  return *this;
}

void Socket::Reset(Handle handle) {
  if (Valid()) netplatform::CloseSocket(FHandle);
  FHandle = handle;
}

bool Socket::Send(std::string_view data) const {
  while (!data.empty()) {
    const int n = netplatform::Send(FHandle, data.data(), static_cast<int>(data.size()));
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string Socket::ReceiveOnce(milliseconds timeout) const {
  std::string data;
  if (Ready(FHandle, netplatform::WaitFor::Read, timeout)) ReceiveInto(FHandle, data);
  return data;
}

std::string Socket::ReceiveUntil(std::string_view marker, milliseconds timeout) const {
  std::string data;
  const auto deadline = Clock::now() + timeout;
  while (data.find(marker) == std::string::npos && Ready(FHandle, netplatform::WaitFor::Read, Left(deadline)) &&
         ReceiveInto(FHandle, data) == 1) {
  }
  return data;
}

TEnd Socket::ReadToEnd(milliseconds timeout, std::string& data) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (!Ready(FHandle, netplatform::WaitFor::Read, Left(deadline))) return TEnd::TimedOut;
    const int received = ReceiveInto(FHandle, data);
    if (received <= 0) return received == 0 ? TEnd::Closed : TEnd::Reset;
  }
}

Socket Connect(std::uint16_t port) {
  Socket s(netplatform::OpenSocket(1, netplatform::Family::V4));
  if (!s.Valid() || netplatform::Connect(s.Get(), LoopbackAddress(false), port) != 0)
    throw std::runtime_error(FailureText("connect to 127.0.0.1:" + std::to_string(port)));
  return s;
}

Listener::Listener(int backlog, bool ipv6, int receiveBuffer) : FSocket(Bound(ipv6, FPort, receiveBuffer, backlog)) {}

RefusedPort::RefusedPort(bool ipv6, std::uint16_t port) : FPort(port), FSocket(Bound(ipv6, FPort, 0, -1)) {}

Socket Listener::Accept(milliseconds timeout) {
  if (!Ready(FSocket.Get(), netplatform::WaitFor::Read, timeout)) return Socket();
  return Socket(platform::Accept(FSocket.Get()));
}

FullBacklogListener::FullBacklogListener() : FListener(0) {
  // The system keeps a few more completed connections than the backlog asks
  // for; keep connecting until one attempt goes unanswered.
  for (int i = 0; i < 64 && !FFull; ++i) {
    Socket s(netplatform::OpenSocket(1, netplatform::Family::V4));
    if (!s.Valid() || netplatform::SetNonBlocking(s.Get(), true) != 0 ||
        netplatform::StartConnect(s.Get(), LoopbackAddress(false), Port()) != 0)
      continue;
    int error = 0;
    FFull = netplatform::WaitConnect(s.Get(), 300, error) == 0;
    FFillers.push_back(std::move(s));
  }
}

bool HasIpv6Loopback() {
  try {
    RefusedPort probe(true);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

}  // namespace loopback
