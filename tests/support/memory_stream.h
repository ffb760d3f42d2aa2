#pragma once
// A byte stream in memory, for conversation tests and fuzzing: what Receive
// meets is queued up front (chunks of bytes, a time-out, the end of the
// stream, a failure to raise), and everything the conversation sends is
// kept. A reply hook lets a test answer what was sent, as a server whose
// answer depends on it (one that echoes the client's nonce) would; a
// scripted server's script can be played as well.

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/byte_stream.h"
#include "support/scripted_server.h"

class TMemoryStream : public TByteStream {
 public:
  // What the next Receive meets, in order. An empty chunk is dropped.
  void Push(std::string Chunk) {
    if (!Chunk.empty()) FEvents.push_back({TEvent::TKind::Chunk, std::move(Chunk), nullptr});
  }
  void PushTimedOut() { FEvents.push_back({TEvent::TKind::TimedOut, {}, nullptr}); }
  // The end: it stays at the head of the queue, so every later Receive
  // says Closed as a real stream does (and nothing queued after it comes).
  void PushClosed() { FEvents.push_back({TEvent::TKind::Closed, {}, nullptr}); }
  // Receive raises it (an EVHSyncSockError, an ETlsError...).
  void PushFailure(std::exception_ptr Failure) { FEvents.push_back({TEvent::TKind::Failure, {}, std::move(Failure)}); }
  template <class TError>
  void PushFailure(TError Error) {
    PushFailure(std::make_exception_ptr(std::move(Error)));
  }

  // Plays Script as the scripted server plays it over TCP: each marker wait
  // is met once what has been sent holds the marker (searched on from the
  // end of the previous match), and the chunks and the close after it are
  // queued then. Silence is an empty queue; a script that runs out without
  // it closes the stream. Steps of time and byte counts have no meaning
  // here and raise std::logic_error.
  void Play(TScript Script);
  // Whether the whole script has played.
  bool Played() const { return FStep >= FScript.size(); }

  // Records Data, plays the script on, then calls OnSend with it; then
  // raises SendFailure, if one is set, once.
  void Send(std::string_view Data, std::int32_t TimeoutMs) override;
  // Takes the next event: a chunk is appended whole. An empty queue says
  // TimedOut at once; after Close it says Closed.
  TReceived Receive(std::int32_t TimeoutMs, std::string& Into) override;
  void Close() noexcept override { ++CloseCount; }

  // Called on every Send with what was sent; it may Push the answer.
  std::function<void(TMemoryStream&, std::string_view Sent)> OnSend;
  // The next Send raises this after recording its data.
  std::exception_ptr SendFailure;

  std::vector<std::string> Sends;  // each Send's data
  std::string Sent;                // all of it joined
  int CloseCount = 0;
  int ReceiveCount = 0;
  // Whether every queued event has been taken (a trailing Closed counts as
  // taken once met).
  bool Drained() const { return FNext >= FEvents.size() || (FClosedMet && FNext + 1 == FEvents.size()); }

 private:
  struct TEvent {
    enum class TKind { Chunk, TimedOut, Closed, Failure } Kind;
    std::string Chunk;
    std::exception_ptr Failure;
  };
  std::vector<TEvent> FEvents;
  std::size_t FNext = 0;
  bool FClosedMet = false;
  // Plays the script's steps up to the next marker wait that what has been
  // sent does not meet yet.
  void PlayOn();
  TScript FScript;
  std::size_t FStep = 0;      // the next step to play
  std::size_t FMatchEnd = 0;  // where the next marker wait searches from
};
