#include "support/memory_stream.h"

#include <stdexcept>

void TMemoryStream::Send(std::string_view Data, std::int32_t /*TimeoutMs*/) {
  Sends.emplace_back(Data);
  Sent += Data;
  PlayOn();
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

void TMemoryStream::Play(TScript Script) {
  FScript = std::move(Script);
  FStep = 0;
  FMatchEnd = Sent.size();
  if (FScript.empty()) PushClosed();
  PlayOn();
}

void TMemoryStream::PlayOn() {
  for (; FStep < FScript.size(); ++FStep) {
    const TScriptStep& step = FScript[FStep];
    switch (step.Kind) {
      case TScriptStep::TKind::WaitMarker: {
        const auto at = Sent.find(step.Text, FMatchEnd);
        if (at == std::string::npos) return;
        FMatchEnd = at + step.Text.size();
        break;
      }
      case TScriptStep::TKind::Send:
        Push(step.Text);
        break;
      case TScriptStep::TKind::Close:
        PushClosed();
        break;
      case TScriptStep::TKind::Silent:
        break;
      default:
        throw std::logic_error("a script step a memory stream cannot play");
    }
    if (FStep + 1 == FScript.size() && step.Kind != TScriptStep::TKind::Silent &&
        step.Kind != TScriptStep::TKind::Close)
      PushClosed();
  }
}
