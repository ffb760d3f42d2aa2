// A scripted XMPP server for measuring how true tolvane's reported time is:
// it answers each client's stream header exactly DELAY_MS milliseconds after
// the header has arrived, then answers the client's stream close with its
// own. It is the tests' scripted server.
//
// Usage: delay_server DELAY_MS
// Listens on 127.0.0.1 at a port the system picks and prints that port as the
// first line of standard output. Ends by itself after 120 s without a new
// connection. Every wait on a client is bounded.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "support/scripted_server.h"
#include "support/xmpp_replies.h"

using namespace std::chrono_literals;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: delay_server DELAY_MS\n");
    return 2;
  }
  const std::chrono::milliseconds delay(std::atol(argv[1]));
  using namespace script;
  using namespace xmpp_replies;
  TServerOptions options;
  // Each reply is one the client waits for: no pause is needed after it.
  options.Taken = [](loopback::Handle, std::uint64_t) { return true; };
  TScriptedServer server({{WaitFor(kHeaderEnd), Sleep(delay), Send(kServerHeader), WaitFor(kStreamClose),
                           Send(kStreamClose)}},
                         options);
  std::printf("%u\n", server.Port());
  std::fflush(stdout);

  std::size_t connections = 0;
  auto lastConnection = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - lastConnection < 120s) {
    std::this_thread::sleep_for(100ms);
    if (server.ConnectionCount() == connections) continue;
    connections = server.ConnectionCount();
    lastConnection = std::chrono::steady_clock::now();
  }
  return 0;
}
