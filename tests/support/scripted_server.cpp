#include "support/scripted_server.h"

#include <functional>
#include <stdexcept>

#include "support/test_socket.h"

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
  testsocket::Handle Socket = testsocket::kNoSocket;
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
  FListener = testsocket::ListenLoopback(FPort, FReceiveBuffer);
  FAcceptor = std::thread([this] { AcceptLoop(); });
}

TScriptedServer::~TScriptedServer() {
  FStop = true;
  FAcceptor.join();
  for (std::thread& worker : FWorkers) worker.join();
  testsocket::Close(FListener);
}

void TScriptedServer::AcceptLoop() {
  while (!FStop) {
    if (!testsocket::Wait(FListener, true, false, static_cast<int>(kSlice.count())).Readable) continue;
    testsocket::Handle peer = testsocket::AcceptNonBlocking(FListener);
    if (peer == testsocket::kNoSocket) continue;
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
  const testsocket::Handle fd = connection.Socket;
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
      if (!testsocket::Wait(fd, true, false, static_cast<int>(slice.count())).Readable) continue;
      long n = testsocket::Receive(fd, buffer, sizeof buffer);
      if (n > 0) {
        {
          std::lock_guard<std::mutex> lock(FMutex);
          connection.Received.append(buffer, static_cast<size_t>(n));
        }
        FChanged.notify_all();
      } else if (n == 0 || !testsocket::FailureWasRetry()) {
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
      const testsocket::TReady ready = testsocket::Wait(fd, true, true, static_cast<int>(kSlice.count()));
      if (ready.Readable && !connection.PeerClosed) {
        long n = testsocket::Receive(fd, buffer, sizeof buffer);
        if (n > 0) {
          std::lock_guard<std::mutex> lock(FMutex);
          connection.Received.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
          connection.PeerClosed = true;
        }
      }
      if (!ready.Writable) continue;
      long n = testsocket::Send(fd, chunk.data() + sent, chunk.size() - sent);
      if (n < 0 && !testsocket::FailureWasRetry()) {
        fail(testsocket::FailureText("send"));
        return false;
      }
      if (n > 0) sent += static_cast<size_t>(n);
    }
    FChanged.notify_all();
    // Wait until the peer's kernel holds the whole chunk (where the system
    // tells), then pause.
    auto ackDeadline = TClock::now() + kAckBound;
    for (;;) {
      if (testsocket::UnacknowledgedBytes(fd) <= 0 || connection.PeerClosed || TClock::now() >= ackDeadline)
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
    testsocket::ResetOnClose(fd);
  } else if (!FStop) {
    // A normal close: send our FIN, then record until the peer closes too,
    // so that nothing it still sends is lost and no reset is provoked.
    testsocket::ShutdownWrite(fd);
    pump(forever, [&] { return connection.PeerClosed; });
  }
  testsocket::Close(fd);
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
