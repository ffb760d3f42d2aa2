// Fuzz target for the login conversation: arbitrary server chunks reach a
// TLoginCheck through an in-memory stream, with a "TLS" step that passes the
// bytes through, so every step from the first stream to the ping is open to
// them.
//
// Input: one mode byte, then up to kMaxChunks chunks separated by kSeparator.
//   bits 0-2: the mechanism (Any, SCRAM-SHA-256, SCRAM-SHA-1, PLAIN, legacy)
//   bit 3: TLS from the first byte instead of STARTTLS
// Each stanza the check sends releases the next chunk; once they are spent,
// the connection closes, so no input can keep the check waiting.
//
// Properties: the run never hangs or crashes, and it ends in exactly one of
// the result shapes: alive, or a reason with one of the known beginnings.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "net/tls_error.h"
#include "support/memory_stream.h"
#include "xmpp/login_check.h"

namespace {

constexpr std::string_view kSeparator = "~|~";
constexpr std::size_t kMaxChunks = 16;

const char* const kReasons[] = {
    "Login failed. ",
    "No usable login mechanism. Offered: ",
    "Resource binding failed. ",
    "Session establishment failed. ",
    "No answer in time during the ",
    "The server ended the stream during the ",
    "The server closed the stream during the ",
    "The server closed the connection during the ",
    "The server sent malformed XML during the ",
    "Server does not offer STARTTLS",
    "Server refused STARTTLS",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  const std::uint8_t mode = Data[0];
  const std::string_view rest(reinterpret_cast<const char*>(Data + 1), Size - 1);
  std::deque<std::string> chunks;
  for (std::size_t at = 0; at <= rest.size() && chunks.size() < kMaxChunks;) {
    const std::size_t end = std::min(rest.find(kSeparator, at), rest.size());
    chunks.emplace_back(rest.substr(at, end - at));
    at = end + kSeparator.size();
  }
  TLoginSettings settings;
  settings.Domain = "example.org";
  settings.UserName = "alice";
  settings.Password = "pencil";
  settings.Mechanism = static_cast<TLoginMechanism>((mode & 7) % 5);
  settings.Tls = (mode & 8) ? TLoginTls::Direct : TLoginTls::StartTls;
  settings.TimeoutMs = 0;
  // Each stanza the check sends releases the next chunk; then the end.
  TMemoryStream stream;
  stream.OnSend = [&chunks](TMemoryStream& self, std::string_view) {
    if (chunks.empty()) return self.PushClosed();
    self.Push(std::move(chunks.front()));
    chunks.pop_front();
  };
  TLoginCheck check(settings, [](TByteStream& plain, std::int32_t) -> TByteStream& { return plain; });
  std::string result = "alive";
  try {
    check.Run(stream);
  } catch (const ELoginError& failure) {
    result = failure.Message();
  } catch (const ETlsError& failure) {
    result = failure.Message();
  }
  check.Close();
  bool known = result == "alive";
  for (const char* reason : kReasons) known = known || fuzz::StartsWith(result, reason);
  FUZZ_CHECK(known);
  return 0;
}
