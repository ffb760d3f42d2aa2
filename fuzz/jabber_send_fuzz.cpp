// Fuzz target for the response analysis: arbitrary replies reach a
// TJabberSend through a memory stream, one chunk per receive, the way a
// server's replies reach the program.
//
// Input: one mode byte, then up to kMaxChunks chunks separated by kSeparator.
//   mode bit 0 clear: the probe. Opened as Check opens it, then
//     CloseSession when it connected, as the check run does.
//   mode bit 0 set: the full sender. Opened with an account (login
//     queries), then a SendMessage once established, then CloseSession.
//   mode bit 1 set (with bit 0 clear): the probe with STARTTLS, whose TLS
//     handshake then meets whatever chunks follow.
//
// After the last chunk the stream is closed, so a sender that still waits
// learns at once that nothing more comes: no wait ever needs to run out,
// and an input that takes longer than kMaxRunTime is a fault.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "base/base_error.h"
#include "fuzz_check.h"
#include "net/sock_error.h"
#include "support/memory_stream.h"
#include "xmpp/jabber_send.h"
#include "xmpp/jabber_send_error.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::string_view kSeparator = "~|~";
constexpr std::size_t kMaxChunks = 16;
// Long enough never to run out on a loaded machine, short enough that a
// sender left waiting for it shows up as a slow input.
constexpr std::int32_t kWaitMs = 5000;
constexpr milliseconds kMaxRunTime{4000};

std::vector<std::string> SplitChunks(std::string_view rest) {
  std::vector<std::string> chunks;
  while (chunks.size() < kMaxChunks) {
    const auto at = rest.find(kSeparator);
    const std::string_view chunk = rest.substr(0, at);
    // An empty write carries nothing; the peer would not see it.
    if (!chunk.empty()) chunks.emplace_back(chunk);
    if (at == std::string_view::npos) break;
    rest.remove_prefix(at + kSeparator.size());
  }
  return chunks;
}

void CheckErrorCode(const TJabberSend& sender) {
  FUZZ_CHECK(sender.ErrorCode >= jabberErrNotConfirmed && sender.ErrorCode <= 0);
}

// The check run's use: opened as Check opens it over its socket, then
// CloseSession once connected.
void Probe(TJabberSend& sender, TMemoryStream& stream) {
  sender.ProbeMode = true;
  try {
    sender.Open(stream);
  } catch (const std::exception& failure) {
    sender.LastError = MessageOf(failure);
  }
  FUZZ_CHECK(sender.Connected == sender.LastError.empty());
  if (!sender.Connected) FUZZ_CHECK(stream.CloseCount > 0);
  CheckErrorCode(sender);
  if (!sender.Connected) return;
  sender.CloseSession();
  FUZZ_CHECK(!sender.ProbeMode);
}

// The full sender: login, one message, close.
void Login(TJabberSend& sender, TMemoryStream& stream) {
  try {
    sender.Open(stream);
    FUZZ_CHECK(sender.Connected);
  } catch (const std::exception&) {
    FUZZ_CHECK(!sender.Connected);
    FUZZ_CHECK(stream.CloseCount > 0);
    CheckErrorCode(sender);
    return;
  }
  try {
    sender.SendMessage("bob@example.org", "ping");
    FUZZ_CHECK(sender.Confirmed || !sender.LastError.empty());
    if (sender.ErrorCode == jabberErrNotConfirmed) FUZZ_CHECK(!sender.Confirmed);
  } catch (const EVHSyncSockError& failure) {
    // Only the failures other than a read pass on, with their text kept.
    FUZZ_CHECK(failure.Code != sockErrRead);
    FUZZ_CHECK(sender.LastError == failure.what());
  }
  CheckErrorCode(sender);
  sender.CloseSession();
}

}  // namespace

// The trust store is none of this target's business, and a CA file named in
// the environment would be read whole for every STARTTLS input, a hundred
// times the cost of all the rest. OpenSSL's certificate directory serves.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  unsetenv("SSL_CERT_FILE");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool login = (data[0] & 1) != 0;
  const bool startTls = !login && (data[0] & 2) != 0;
  TMemoryStream stream;
  for (std::string& chunk : SplitChunks(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1)))
    stream.Push(std::move(chunk));
  stream.PushClosed();
  const auto started = Clock::now();
  {
    TJabberSend sender(login ? "alice@example.org" : "", login ? "secret" : "");
    sender.Server = "127.0.0.1";
    sender.ResponseTimeout = kWaitMs;
    sender.ConfirmTimeout = kWaitMs;
    if (startTls) sender.TlsMode = TTlsMode::StartTls;
    if (login) {
      Login(sender, stream);
    } else {
      Probe(sender, stream);
    }
    FUZZ_CHECK(!sender.Connected);
    FUZZ_CHECK(stream.CloseCount > 0);
  }
  FUZZ_CHECK(Clock::now() - started < kMaxRunTime);
  return 0;
}
