#pragma once
// A plain TCP client on 127.0.0.1 for tests that need to play the client
// side themselves: checking the test servers, or talking to a real server
// before the program under test does.

#include <chrono>
#include <cstdint>
#include <string>

#include "support/test_socket.h"

class TLoopbackClient {
 public:
  // How a connection ended, as seen by ReadToEnd.
  enum class TEnd { Closed, Reset, TimedOut };

  // Connects to 127.0.0.1:`port`; throws std::runtime_error on failure.
  explicit TLoopbackClient(uint16_t port);
  ~TLoopbackClient();
  TLoopbackClient(const TLoopbackClient&) = delete;
  TLoopbackClient& operator=(const TLoopbackClient&) = delete;

  // Sends all of `data`; false when the connection is gone.
  bool Send(const std::string& data);
  // One receive, waiting at most `timeout`; empty on time-out, close or reset.
  std::string ReceiveOnce(std::chrono::milliseconds timeout);
  // Receives until `marker` has arrived, the peer has closed or `timeout`
  // has passed; returns everything received.
  std::string ReceiveUntil(const std::string& marker, std::chrono::milliseconds timeout);
  // Receives until the peer closes or resets, or `timeout` passes; whatever
  // arrived meanwhile is appended to `data`.
  TEnd ReadToEnd(std::chrono::milliseconds timeout, std::string& data);
  // Closes at once; the destructor does the same.
  void Close();

 private:
  testsocket::Handle FSocket = testsocket::kNoSocket;
};
