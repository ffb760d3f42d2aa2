#include "support/scripted_server.h"

#include <algorithm>
#include <stdexcept>

using loopback::Clock;
using netplatform::WaitFor;
using std::chrono::milliseconds;

namespace {

// Every wait is cut into slices this long, so that a stop is noticed quickly.
constexpr milliseconds kSlice{20};
// The pause after each chunk. On loopback the peer's kernel has the bytes at
// once; the pause gives the peer's program time to take them in one receive
// before the next chunk lands behind them.
constexpr milliseconds kChunkPause{50};
constexpr milliseconds kTakenBound{2000};  // for the peer to take a sent chunk

}  // namespace

struct TScriptedServer::TConnection {
  loopback::Socket Socket;  // touched by the connection's player only
  std::string Received;     // guarded by the server's mutex, like the two below
  std::string Failure;
  bool Finished = false;
};

// Plays one script on one connection, on the connection's own thread.
class TScriptedServer::TPlayer {
 public:
  TPlayer(TScriptedServer& server, TConnection& connection)
      : FServer(server), FConnection(connection), FSocket(connection.Socket.Get()) {}
  void Play(const TScript& script);

 private:
  enum class TResult { Done, TimedOut, PeerClosed, Stopped };

  bool Stopping() const { return FServer.FStop; }

  // Records whatever arrives until `done` holds, `deadline` passes, the peer
  // closes or the server stops. Once the peer has closed it only waits.
  TResult Record(Clock::time_point deadline, const std::function<bool()>& done) {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(FServer.FMutex);
        if (done && done()) return TResult::Done;
      }
      if (Stopping()) return TResult::Stopped;
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return TResult::TimedOut;
      if (FPeerClosed) {
        if (done) return TResult::PeerClosed;
        std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, left));
        continue;
      }
      const auto slice = std::min(kSlice, std::chrono::floor<milliseconds>(left));
      // With less than a wait's unit left: one look, then sleep it off, so
      // that a Sleep ends on time.
      if (loopback::Ready(FSocket, WaitFor::Read, slice)) TakeIn();
      if (slice < milliseconds(1)) std::this_thread::sleep_until(deadline);
    }
  }

  // A wait step: false, with the reason recorded, unless `done` came to hold.
  bool Await(const TScriptStep& step, const std::function<bool()>& done, const std::string& what) {
    const TResult result = Record(Clock::now() + step.Duration, done);
    if (result == TResult::TimedOut || result == TResult::PeerClosed)
      Fail(what + (result == TResult::PeerClosed ? ": the peer closed first" : ": timed out"));
    return result == TResult::Done;
  }

  // Takes in what has arrived, without waiting.
  void TakeIn() {
    char buffer[65536];
    const int n = netplatform::Receive(FSocket, buffer, sizeof buffer);
    if (n > 0) {
      {
        std::lock_guard<std::mutex> lock(FServer.FMutex);
        FConnection.Received.append(buffer, static_cast<size_t>(n));
      }
      FServer.FChanged.notify_all();
    } else if (n == 0 || netplatform::LastError() != loopback::kWouldBlock) {
      FPeerClosed = true;
    }
  }

  // Sends a whole chunk (several writes only when the socket buffer is
  // full), recording meanwhile so that neither side can block the other,
  // then waits until the peer has taken it.
  bool SendChunk(const std::string& chunk) {
    for (size_t sent = 0; sent < chunk.size();) {
      if (Stopping()) return false;
      if (!FPeerClosed) TakeIn();
      if (!loopback::Ready(FSocket, WaitFor::Write, kSlice)) continue;
      const int n = netplatform::Send(FSocket, chunk.data() + sent, static_cast<int>(chunk.size() - sent));
      if (n < 0 && netplatform::LastError() != loopback::kWouldBlock) {
        Fail(loopback::FailureText("send"));
        return false;
      }
      sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    FSent += chunk.size();
    const auto deadline = Clock::now() + kTakenBound;
    if (FServer.FOptions.Taken) {
      while (!Stopping() && Clock::now() < deadline && !FServer.FOptions.Taken(FSocket, FSent)) {
        if (!FPeerClosed) TakeIn();
        std::this_thread::yield();
      }
      return true;
    }
    // Until the peer's system holds the whole chunk (where the system
    // tells), then the pause.
    while (FConnection.Socket.UnacknowledgedBytes() > 0 && !FPeerClosed && Clock::now() < deadline)
      Record(Clock::now() + milliseconds(1), nullptr);
    Record(Clock::now() + kChunkPause, nullptr);
    return true;
  }

  void Fail(const std::string& text) {
    std::lock_guard<std::mutex> lock(FServer.FMutex);
    if (FConnection.Failure.empty()) FConnection.Failure = text;
  }

  TScriptedServer& FServer;
  TConnection& FConnection;
  const loopback::Handle FSocket;
  bool FPeerClosed = false;
  std::uint64_t FSent = 0;
  size_t FMarkerCursor = 0;
};

void TScriptedServer::TPlayer::Play(const TScript& script) {
  const auto forever = Clock::time_point::max();
  const auto peerClosed = [this] { return FPeerClosed; };
  if (FServer.FOptions.Taken) FServer.FOptions.Taken(FSocket, 0);
  bool open = true;
  bool abort = false;
  for (auto step = script.begin(); open && !Stopping() && step != script.end(); ++step) {
    switch (step->Kind) {
      case script::K::WaitBytes:
        open = Await(*step, [&] { return FConnection.Received.size() >= step->Count; },
                     "waiting for " + std::to_string(step->Count) + " bytes");
        break;
      case script::K::WaitMarker:
        open = Await(
            *step,
            [&] {
              const size_t at = FConnection.Received.find(step->Text, FMarkerCursor);
              if (at != std::string::npos) FMarkerCursor = at + step->Text.size();
              return at != std::string::npos;
            },
            "waiting for \"" + step->Text + "\"");
        break;
      case script::K::Send:
        open = SendChunk(step->Text);
        break;
      case script::K::Sleep:
        Record(Clock::now() + step->Duration, nullptr);
        break;
      case script::K::Reset:
        abort = true;
        [[fallthrough]];
      case script::K::Close:
        open = false;
        break;
      case script::K::Silent:
        Record(forever, peerClosed);
        open = false;
        break;
      case script::K::NeverRead:
        while (!Stopping()) std::this_thread::sleep_for(kSlice);
        open = false;
        break;
    }
  }

  if (!abort && !Stopping()) {
    // A normal close: send our FIN, then record until the peer closes too,
    // so that nothing it still sends is lost and no reset is provoked.
    FConnection.Socket.ShutdownWrite();
    Record(forever, peerClosed);
  }
  if (abort || FServer.FOptions.ResetAtEnd) {
    FConnection.Socket.CloseWithReset();
  } else {
    FConnection.Socket.Reset();
  }
  {
    std::lock_guard<std::mutex> lock(FServer.FMutex);
    FConnection.Finished = true;
  }
  FServer.FChanged.notify_all();
}

TScriptedServer::TScriptedServer(std::vector<TScript> scripts, TServerOptions options)
    : FScripts(std::move(scripts)), FOptions(std::move(options)), FListener(16, false, FOptions.ReceiveBufferBytes) {
  if (FScripts.empty()) FScripts.emplace_back();
  FAcceptor = std::thread([this] { AcceptLoop(); });
}

TScriptedServer::TScriptedServer(TScript script, int receiveBufferBytes)
    : TScriptedServer(std::vector<TScript>{std::move(script)}, TServerOptions{receiveBufferBytes, {}, false, false}) {}

TScriptedServer::~TScriptedServer() {
  FStop = true;
  // A connection of our own wakes the accept thread at once, rather than at
  // the end of its wait.
  loopback::Socket wake;
  try {
    wake = loopback::Connect(Port());
  } catch (const std::runtime_error&) {
  }
  FAcceptor.join();
  if (wake.Valid()) wake.CloseWithReset();
  for (std::thread& worker : FWorkers) worker.join();
}

void TScriptedServer::AcceptLoop() {
  while (!FStop) {
    loopback::Socket peer = FListener.Accept(kSlice);
    if (!peer.Valid()) continue;
    if (FStop) {
      peer.CloseWithReset();  // the wake-up call
      break;
    }
    netplatform::SetNonBlocking(peer.Get(), true);
    TConnection* connection;
    const TScript* script;
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FConnections.push_back(std::make_unique<TConnection>());
      connection = FConnections.back().get();
      connection->Socket = std::move(peer);
      script = &FScripts[std::min(FConnections.size(), FScripts.size()) - 1];
    }
    FChanged.notify_all();
    if (FOptions.Serial) {
      TPlayer(*this, *connection).Play(*script);
    } else {
      FWorkers.emplace_back([this, connection, script] { TPlayer(*this, *connection).Play(*script); });
    }
  }
}

void TScriptedServer::Restart(std::vector<TScript> scripts) {
  std::lock_guard<std::mutex> lock(FMutex);
  FScripts = std::move(scripts);
  if (FScripts.empty()) FScripts.emplace_back();
  FConnections.clear();
}

size_t TScriptedServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FConnections.size();
}

bool TScriptedServer::WaitFinished(size_t index, milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(FMutex);
  return FChanged.wait_for(lock, timeout,
                           [&] { return index < FConnections.size() && FConnections[index]->Finished; });
}

std::string TScriptedServer::Read(size_t index, std::string TConnection::*field) const {
  std::lock_guard<std::mutex> lock(FMutex);
  return index < FConnections.size() ? FConnections[index].get()->*field : std::string();
}

std::string TScriptedServer::Received(size_t index) const { return Read(index, &TConnection::Received); }

std::string TScriptedServer::Failure(size_t index) const { return Read(index, &TConnection::Failure); }
