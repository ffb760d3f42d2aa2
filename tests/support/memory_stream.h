#pragma once
// A byte stream in memory, for conversation tests and fuzzing: what Receive
// meets is queued up front (chunks of bytes, a time-out, the end of the
// stream, a failure to raise), and everything the conversation sends is
// kept. A reply hook lets a test answer what was sent, as a server whose
// answer depends on it (one that echoes the client's nonce) would.

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/byte_stream.h"

class TMemoryStream : public TByteStream {
 public:
  // What the next Receive meets, in order.
  void Push(std::string Chunk);  // an empty chunk is dropped
  void PushTimedOut();
  // The end: it stays at the head of the queue, so every later Receive
  // says Closed as a real stream does (and nothing queued after it comes).
  void PushClosed();
  // Receive raises it (an EVHSyncSockError, an ETlsError...).
  void PushFailure(std::exception_ptr Failure);
  template <class TError>
  void PushFailure(TError Error) {
    PushFailure(std::make_exception_ptr(std::move(Error)));
  }

  // Records Data, then calls OnSend with it; then raises SendFailure, if
  // one is set, once.
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
};
