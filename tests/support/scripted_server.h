#pragma once
// A scripted XMPP server on a free port of 127.0.0.1, for the tests, the fuzz
// targets and the benchmark: each connection plays a script, so that every
// reply a client must cope with (delays, split chunks, errors, silence,
// closes, resets) can be staged exactly, and records what it receives.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"

// One step of a connection's script; build steps with the functions below.
struct TScriptStep {
  enum class TKind { WaitBytes, WaitMarker, Send, Sleep, Close, Reset, Silent, NeverRead };
  TKind Kind;
  std::string Text{};     // the chunk to send, or the marker to wait for
  size_t Count = 0;       // the byte count to wait for
  std::chrono::milliseconds Duration{0};  // a wait's bound, or a sleep's length
};

// The steps a connection plays in order; after the last, an open connection
// is closed normally.
using TScript = std::vector<TScriptStep>;

namespace script {
using K = TScriptStep::TKind;
using std::chrono::milliseconds;
// Waits until the connection has received at least `count` bytes in all.
inline TScriptStep WaitBytes(size_t count, milliseconds timeout = std::chrono::seconds(10)) {
  return {K::WaitBytes, "", count, timeout};
}
// Waits until `marker` arrives. Each marker wait searches on from the end of
// the previous match, so the same marker can be awaited twice in a row.
inline TScriptStep WaitFor(std::string marker, milliseconds timeout = std::chrono::seconds(10)) {
  return {K::WaitMarker, std::move(marker), 0, timeout};
}
// Sends `chunk` as one write, then waits until the peer has taken it (see
// TServerOptions::Taken), so that the peer receives it by itself.
inline TScriptStep Send(std::string chunk) { return {K::Send, std::move(chunk)}; }
// Records for `duration`, sending nothing; ends on time to within a millisecond.
inline TScriptStep Sleep(milliseconds duration) { return {K::Sleep, "", 0, duration}; }
// End the script: a normal close (FIN), or one the peer sees as a reset.
inline TScriptStep Close() { return {K::Close}; }
inline TScriptStep Reset() { return {K::Reset}; }
// Keeps recording without sending until the peer closes or the server stops.
inline TScriptStep Silent() { return {K::Silent}; }
// Stops reading altogether and holds the connection open until the server
// stops, so the client's data piles up in the receive window.
inline TScriptStep NeverRead() { return {K::NeverRead}; }
}  // namespace script

// How the server plays beyond its scripts.
struct TServerOptions {
  // A positive value shrinks the accepted sockets' receive buffer.
  int ReceiveBufferBytes = 0;
  // Whether the peer has taken the `sent` bytes the connection `socket` has
  // sent in all, or is gone; a chunk is followed by waiting for it. It is
  // asked first, with `sent` 0, as the connection begins. Without it, the
  // wait is for the peer's system to acknowledge the chunk (where the system
  // tells), then a pause that gives the peer's program time to read it.
  std::function<bool(loopback::Handle socket, std::uint64_t sent)> Taken;
  // Ends each connection with a reset once both sides have closed: no TIME_WAIT.
  bool ResetAtEnd = false;
  // Plays the connections one after the other on the accepting thread
  // instead of each on a thread of its own (see Restart).
  bool Serial = false;
};

// The server: it listens and serves from its constructor on and stops, within
// a bounded time, in its destructor. Connection i plays scripts[i];
// connections beyond the list play the last.
class TScriptedServer {
 public:
  explicit TScriptedServer(std::vector<TScript> scripts, TServerOptions options = {});
  // Every connection plays `script`.
  explicit TScriptedServer(TScript script, int receiveBufferBytes = 0);
  ~TScriptedServer();
  TScriptedServer(const TScriptedServer&) = delete;
  TScriptedServer& operator=(const TScriptedServer&) = delete;

  uint16_t Port() const { return FListener.Port(); }
  size_t ConnectionCount() const;  // accepted so far
  // Waits until connection `index` has been accepted and its script has ended
  // (the peer's close ends a wait or Silent). False when `timeout` passes first.
  bool WaitFinished(size_t index, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Everything connection `index` has received so far; empty if not accepted.
  std::string Received(size_t index) const;
  // Why connection `index` left its script early (a wait that timed out, the
  // peer closing during a wait, a failed send); empty when it ran through.
  std::string Failure(size_t index) const;
  // Forgets the connections so far and has those that come next play
  // `scripts`, counted from 0 again: one server then serves one run after
  // another. No connection may be in play.
  void Restart(std::vector<TScript> scripts);

 private:
  struct TConnection;
  class TPlayer;
  void AcceptLoop();
  // A field of connection `index`; empty if it has not been accepted.
  std::string Read(size_t index, std::string TConnection::*field) const;

  std::vector<TScript> FScripts;
  TServerOptions FOptions;
  loopback::Listener FListener;
  std::atomic<bool> FStop{false};
  mutable std::mutex FMutex;
  mutable std::condition_variable FChanged;
  std::vector<std::unique_ptr<TConnection>> FConnections;  // guarded by FMutex
  std::vector<std::thread> FWorkers;                        // touched by the accept thread only
  std::thread FAcceptor;
};
