#include "support/memory_stream.h"

void TMemoryStream::Push(std::string Chunk) {
  if (!Chunk.empty()) FEvents.push_back({TEvent::TKind::Chunk, std::move(Chunk), nullptr});
}

void TMemoryStream::PushTimedOut() { FEvents.push_back({TEvent::TKind::TimedOut, {}, nullptr}); }

void TMemoryStream::PushClosed() { FEvents.push_back({TEvent::TKind::Closed, {}, nullptr}); }

void TMemoryStream::PushFailure(std::exception_ptr Failure) {
  FEvents.push_back({TEvent::TKind::Failure, {}, std::move(Failure)});
}

void TMemoryStream::Send(std::string_view Data, std::int32_t /*TimeoutMs*/) {
  Sends.emplace_back(Data);
  Sent += Data;
  if (OnSend) OnSend(*this, Data);
  if (SendFailure) std::rethrow_exception(std::exchange(SendFailure, nullptr));
}

TByteStream::TReceived TMemoryStream::Receive(std::int32_t /*TimeoutMs*/, std::string& Into) {
  ++ReceiveCount;
  if (CloseCount > 0) return TReceived::Closed;
  if (FNext >= FEvents.size()) return TReceived::TimedOut;
  TEvent& event = FEvents[FNext];
  switch (event.Kind) {
    case TEvent::TKind::Chunk:
      ++FNext;
      Into += event.Chunk;
      return TReceived::Data;
    case TEvent::TKind::TimedOut:
      ++FNext;
      return TReceived::TimedOut;
    case TEvent::TKind::Closed:
      // Not taken: the end stays the end.
      FClosedMet = true;
      return TReceived::Closed;
    case TEvent::TKind::Failure:
      ++FNext;
      std::rethrow_exception(event.Failure);
  }
  return TReceived::TimedOut;
}
