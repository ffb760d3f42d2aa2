#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>

using std::chrono::milliseconds;
using TClock = std::chrono::steady_clock;

namespace {

// Every wait is cut into slices this long so that a stopping server is
// noticed quickly.
constexpr milliseconds kSlice{20};
// The pause after each chunk. On loopback the peer's kernel has the bytes at
// once; the pause gives the peer's program time to take them in one receive
// before the next chunk lands behind them.
constexpr milliseconds kChunkPause{50};
// How long a sent chunk may take to be acknowledged by the peer's kernel.
constexpr milliseconds kAckBound{2000};

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

namespace script {
TScriptStep WaitBytes(size_t count, milliseconds timeout) {
  return {TScriptStep::TKind::WaitBytes, "", count, timeout};
}
TScriptStep WaitFor(std::string marker, milliseconds timeout) {
  return {TScriptStep::TKind::WaitMarker, std::move(marker), 0, timeout};
}
TScriptStep Send(std::string chunk) { return {TScriptStep::TKind::Send, std::move(chunk), 0, {}}; }
TScriptStep Sleep(milliseconds duration) { return {TScriptStep::TKind::Sleep, "", 0, duration}; }
TScriptStep Close() { return {TScriptStep::TKind::Close, "", 0, {}}; }
TScriptStep Reset() { return {TScriptStep::TKind::Reset, "", 0, {}}; }
TScriptStep Silent() { return {TScriptStep::TKind::Silent, "", 0, {}}; }
TScriptStep NeverRead() { return {TScriptStep::TKind::NeverRead, "", 0, {}}; }
}  // namespace script

struct TScriptedServer::TConnection {
  int Socket = -1;
  std::string Received;  // guarded by the server's mutex, like the two below
  std::string Failure;
  bool Finished = false;
  bool PeerClosed = false;  // touched by the connection's worker only
};

TScriptedServer::TScriptedServer(TScript script, int receiveBufferBytes)
    : TScriptedServer(std::vector<TScript>{std::move(script)}, receiveBufferBytes) {}

TScriptedServer::TScriptedServer(std::vector<TScript> scripts, int receiveBufferBytes)
    : FScripts(std::move(scripts)), FReceiveBuffer(receiveBufferBytes) {
  if (FScripts.empty()) FScripts.emplace_back();
  FListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FListener < 0) throw std::runtime_error(ErrnoText("scripted server: socket"));
  // Accepted sockets inherit the buffer size; it must be set before listen
  // to shape the advertised window.
  if (FReceiveBuffer > 0)
    setsockopt(FListener, SOL_SOCKET, SO_RCVBUF, &FReceiveBuffer, sizeof FReceiveBuffer);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(FListener, 16) != 0 ||
      getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::string text = ErrnoText("scripted server: bind/listen");
    close(FListener);
    throw std::runtime_error(text);
  }
  FPort = ntohs(address.sin_port);
  FAcceptor = std::thread([this] { AcceptLoop(); });
}

TScriptedServer::~TScriptedServer() {
  FStop = true;
  FAcceptor.join();
  for (std::thread& worker : FWorkers) worker.join();
  close(FListener);
}

void TScriptedServer::AcceptLoop() {
  while (!FStop) {
    pollfd entry{FListener, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(kSlice.count())) <= 0) continue;
    int peer = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) continue;
    int on = 1;
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    TConnection* connection;
    size_t index;
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FConnections.push_back(std::make_unique<TConnection>());
      connection = FConnections.back().get();
      connection->Socket = peer;
      index = FConnections.size() - 1;
    }
    FChanged.notify_all();
    const TScript& script = FScripts[index < FScripts.size() ? index : FScripts.size() - 1];
    FWorkers.emplace_back([this, connection, &script] { Serve(*connection, script); });
  }
}

namespace {

enum class TPumpResult { Done, TimedOut, PeerClosed, Stopped };

}  // namespace

void TScriptedServer::Serve(TConnection& connection, const TScript& script) {
  const int fd = connection.Socket;
  size_t markerCursor = 0;

  // Records whatever arrives until `done` holds, `deadline` passes, the peer
  // closes or the server stops. Once the peer has closed it only waits.
  auto pump = [&](TClock::time_point deadline, const std::function<bool()>& done) {
    char buffer[65536];
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(FMutex);
        if (done && done()) return TPumpResult::Done;
      }
      if (FStop) return TPumpResult::Stopped;
      auto now = TClock::now();
      if (now >= deadline) return TPumpResult::TimedOut;
      auto slice = std::min<milliseconds>(kSlice, std::chrono::ceil<milliseconds>(deadline - now));
      if (connection.PeerClosed) {
        if (done) return TPumpResult::PeerClosed;
        std::this_thread::sleep_for(slice);
        continue;
      }
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, static_cast<int>(slice.count())) <= 0) continue;
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        {
          std::lock_guard<std::mutex> lock(FMutex);
          connection.Received.append(buffer, static_cast<size_t>(n));
        }
        FChanged.notify_all();
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        connection.PeerClosed = true;
      }
    }
  };
  const auto forever = TClock::time_point::max();
  auto fail = [&](std::string text) {
    std::lock_guard<std::mutex> lock(FMutex);
    if (connection.Failure.empty()) connection.Failure = std::move(text);
  };
  auto why = [](TPumpResult result, const std::string& what) {
    return what + (result == TPumpResult::PeerClosed ? ": the peer closed first" : ": timed out");
  };

  // Sends a whole chunk (several writes only when the socket buffer is full),
  // recording meanwhile so that neither side can block the other.
  auto sendChunk = [&](const std::string& chunk) {
    size_t sent = 0;
    char buffer[65536];
    while (sent < chunk.size()) {
      if (FStop) return false;
      pollfd entry{fd, POLLOUT | POLLIN, 0};
      if (poll(&entry, 1, static_cast<int>(kSlice.count())) <= 0) continue;
      if ((entry.revents & POLLIN) && !connection.PeerClosed) {
        ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
          std::lock_guard<std::mutex> lock(FMutex);
          connection.Received.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
          connection.PeerClosed = true;
        }
      }
      if (!(entry.revents & (POLLOUT | POLLERR | POLLHUP))) continue;
      ssize_t n = send(fd, chunk.data() + sent, chunk.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        fail(ErrnoText("send"));
        return false;
      }
      if (n > 0) sent += static_cast<size_t>(n);
    }
    FChanged.notify_all();
    // Wait until the peer's kernel holds the whole chunk, then pause.
    auto ackDeadline = TClock::now() + kAckBound;
    for (;;) {
      int unsent = 0;
      if (ioctl(fd, SIOCOUTQ, &unsent) != 0 || unsent == 0 || connection.PeerClosed ||
          TClock::now() >= ackDeadline)
        break;
      pump(TClock::now() + milliseconds(1), nullptr);
    }
    pump(TClock::now() + kChunkPause, nullptr);
    return true;
  };

  bool open = true;
  bool abort = false;
  for (const TScriptStep& step : script) {
    if (!open || FStop) break;
    using K = TScriptStep::TKind;
    switch (step.Kind) {
      case K::WaitBytes: {
        auto result = pump(TClock::now() + step.Duration,
                           [&] { return connection.Received.size() >= step.Count; });
        if (result != TPumpResult::Done) {
          if (result != TPumpResult::Stopped)
            fail(why(result, "waiting for " + std::to_string(step.Count) + " bytes"));
          open = false;
        }
        break;
      }
      case K::WaitMarker: {
        auto result = pump(TClock::now() + step.Duration, [&] {
          size_t at = connection.Received.find(step.Text, markerCursor);
          if (at == std::string::npos) return false;
          markerCursor = at + step.Text.size();
          return true;
        });
        if (result != TPumpResult::Done) {
          if (result != TPumpResult::Stopped) fail(why(result, "waiting for \"" + step.Text + "\""));
          open = false;
        }
        break;
      }
      case K::Send:
        open = sendChunk(step.Text);
        break;
      case K::Sleep:
        pump(TClock::now() + step.Duration, nullptr);
        break;
      case K::Close:
        open = false;
        break;
      case K::Reset:
        abort = true;
        open = false;
        break;
      case K::Silent:
        pump(forever, [&] { return connection.PeerClosed; });
        open = false;
        break;
      case K::NeverRead:
        while (!FStop) std::this_thread::sleep_for(kSlice);
        open = false;
        break;
    }
  }

  if (abort) {
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  } else if (!FStop) {
    // A normal close: send our FIN, then record until the peer closes too,
    // so that nothing it still sends is lost and no reset is provoked.
    shutdown(fd, SHUT_WR);
    pump(forever, [&] { return connection.PeerClosed; });
  }
  close(fd);
  {
    std::lock_guard<std::mutex> lock(FMutex);
    connection.Finished = true;
  }
  FChanged.notify_all();
}

TScriptedServer::TConnection* TScriptedServer::Find(size_t index) const {
  return index < FConnections.size() ? FConnections[index].get() : nullptr;
}

size_t TScriptedServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FConnections.size();
}

bool TScriptedServer::WaitFinished(size_t index, milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(FMutex);
  return FChanged.wait_for(lock, timeout, [&] {
    TConnection* connection = Find(index);
    return connection && connection->Finished;
  });
}

std::string TScriptedServer::Received(size_t index) const {
  std::lock_guard<std::mutex> lock(FMutex);
  TConnection* connection = Find(index);
  return connection ? connection->Received : std::string();
}

std::string TScriptedServer::Failure(size_t index) const {
  std::lock_guard<std::mutex> lock(FMutex);
  TConnection* connection = Find(index);
  return connection ? connection->Failure : std::string();
}
