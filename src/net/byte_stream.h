#pragma once
// A byte stream under a conversation: the connected socket, or TLS stacked on
// another byte stream. A conversation that talks to a TByteStream can be
// driven in memory by tests and fuzzing as well as over the network.

#include <cstdint>
#include <string>
#include <string_view>

class TByteStream {
 public:
  virtual ~TByteStream() = default;

  enum class TReceived { Data, TimedOut, Closed };

  // Sends all of Data. Each wait for the stream to take more is bounded by
  // TimeoutMs (the socket's terms: 0 without limit, -1 a single poll).
  // Raises EVHSyncSockError (sockErrSend), or ETlsError from a TLS layer.
  virtual void Send(std::string_view Data, std::int32_t TimeoutMs) = 0;
  // Appends at least one byte of what arrives next to Into, waiting at most
  // TimeoutMs, and says Data; or says TimedOut or Closed and appends nothing.
  // Raises EVHSyncSockError (sockErrRead) when the stream fails, or
  // ETlsError from a TLS layer.
  virtual TReceived Receive(std::int32_t TimeoutMs, std::string& Into) = 0;
  // Ends the stream (a TLS layer sends its close_notify if it can at once,
  // then closes the stream below); never raises, never waits.
  virtual void Close() noexcept = 0;
};
