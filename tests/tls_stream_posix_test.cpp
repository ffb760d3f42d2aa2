// TLS over a byte stream against real TLS servers: Prosody, and the openssl
// command's test server where the server must speak first.

#include "net/tls_stream.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "net/sync_socket.h"
#include "support/prosody.h"
#include "support/test_certificates.h"
#include "support/xmpp_replies.h"

extern char** environ;

namespace {

constexpr std::int32_t kTimeoutMs = 10000;

// Receives until Until is among what came, within kTimeoutMs each.
std::string ReceiveUntil(TByteStream& stream, const std::string& Until) {
  std::string got;
  while (got.find(Until) == std::string::npos) {
    if (stream.Receive(kTimeoutMs, got) != TByteStream::TReceived::Data) break;
  }
  return got;
}

TEST(TlsStream, HandshakeAndExchangeWithProsody) {
  const TTestCertificates& c = TTestCertificates::Get();
  TProsodyServer server({.Certificate = c.Valid(), .Key = c.Key(), .DirectTls = true});
  TTlsContext context(c.CaFile());
  TSyncSocket socket(1, true);
  socket.Connect("127.0.0.1", server.DirectTlsPort(), kTimeoutMs);
  TTlsStream tls(socket, context, "localhost");
  tls.Handshake(kTimeoutMs);
  const TPeerCertificate certificate = tls.PeerCertificate();
  EXPECT_TRUE(certificate.Trusted) << certificate.TrustProblem;
  EXPECT_EQ(certificate.DnsNames, std::vector<std::string>{"localhost"});

  tls.Send(xmpp_replies::ClientHeader("localhost"), kTimeoutMs);
  EXPECT_NE(ReceiveUntil(tls, "<stream:stream").find("<stream:stream"), std::string::npos) << server.Log();
  // Closing the TLS stream closes the socket below it.
  tls.Close();
  EXPECT_FALSE(socket.Connected());
}

// The openssl command's TLS 1.2 server on a free loopback port, which sends
// what is written to its standard input as soon as a client's handshake is
// through. Stopped by its process id.
class TOpensslServer {
 public:
  explicit TOpensslServer(const std::string& Data) {
    const TTestCertificates& c = TTestCertificates::Get();
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<std::string> args{"openssl", "s_server", "-accept", "127.0.0.1:0", "-naccept", "1", "-tls1_2",
                                  "-cert", c.Valid(), "-key", c.Key()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int r = posix_spawnp(&FPid, "openssl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    FIn = in[1];
    FOut = out[0];
    if (r != 0) throw std::runtime_error("cannot start openssl");
    // Kept open: the server ends its connection once its input ends.
    if (write(FIn, Data.data(), Data.size()) != static_cast<ssize_t>(Data.size()))
      throw std::runtime_error("cannot write to openssl");
    // "ACCEPT 127.0.0.1:<port>" says it listens.
    const TDeadline deadline(kTimeoutMs);
    std::size_t at;
    while ((at = FLog.find("ACCEPT 127.0.0.1:")) == std::string::npos || FLog.find('\n', at) == std::string::npos) {
      pollfd p{FOut, POLLIN, 0};
      const std::int32_t wait = deadline.Next();
      char buffer[512];
      ssize_t n = 0;
      if (wait < 0 || poll(&p, 1, wait) != 1 || (n = read(FOut, buffer, sizeof buffer)) <= 0)
        throw std::runtime_error("openssl s_server did not start: " + FLog);
      FLog.append(buffer, static_cast<std::size_t>(n));
    }
    FPort = static_cast<std::uint16_t>(std::stoi(FLog.substr(at + 17)));
  }
  ~TOpensslServer() {
    close(FIn);
    close(FOut);
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
  std::uint16_t Port() const { return FPort; }

 private:
  pid_t FPid = -1;
  int FIn = -1, FOut = -1;
  std::string FLog;
  std::uint16_t FPort = 0;
};

// Passes the stream below on, except that once the server's
// ChangeCipherSpec record has come, the bytes are held until an application
// data record follows: TLS 1.2's last handshake flight then arrives in one
// receive with the first data, as it may over the network.
class THoldingStream : public TByteStream {
 public:
  explicit THoldingStream(TByteStream& Lower) : FLower(Lower) {}
  void Send(std::string_view Data, std::int32_t TimeoutMs) override { FLower.Send(Data, TimeoutMs); }
  void Close() noexcept override { FLower.Close(); }
  TReceived Receive(std::int32_t TimeoutMs, std::string& Into) override {
    const TDeadline deadline(TimeoutMs);
    std::string held;
    for (;;) {
      const TReceived read = FLower.Receive(deadline.Next(), held);
      if (read != TReceived::Data) return read;
      FAll += held.substr(FAll.size() - FDelivered);
      while (FAll.size() - FScanned >= 5) {  // each complete record's type
        const std::size_t length = (static_cast<unsigned char>(FAll[FScanned + 3]) << 8) |
                                   static_cast<unsigned char>(FAll[FScanned + 4]);
        if (FAll.size() - FScanned < 5 + length) break;
        if (FAll[FScanned] == 20) FChangeCipherSpec = true;
        if (FAll[FScanned] == 23 && FChangeCipherSpec) DataWithFinished = true;
        FScanned += 5 + length;
      }
      if (!FChangeCipherSpec || DataWithFinished) break;
    }
    FDelivered += held.size();
    Into += held;
    return TReceived::Data;
  }
  bool DataWithFinished = false;  // the data came in the handshake's last receive

 private:
  TByteStream& FLower;
  std::string FAll;  // every byte received
  std::size_t FDelivered = 0, FScanned = 0;
  bool FChangeCipherSpec = false;
};

TEST(TlsStream, DataThatCameWithTheHandshakesEndIsKept) {
  const std::string data = "hello after the handshake\n";
  TOpensslServer server(data);
  TTlsContext context(TTestCertificates::Get().CaFile());
  TSyncSocket socket(1, true);
  socket.Connect("127.0.0.1", server.Port(), kTimeoutMs);
  THoldingStream holding(socket);
  TTlsStream tls(holding, context, "localhost");
  tls.Handshake(kTimeoutMs);
  ASSERT_TRUE(holding.DataWithFinished);
  EXPECT_EQ(ReceiveUntil(tls, "\n"), data);
  tls.Close();
}

}  // namespace
