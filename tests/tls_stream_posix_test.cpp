// TLS over a byte stream against a real TLS server: the openssl command's,
// which can speak first. (The whole-program tests run it against Prosody.)

#include "net/tls_stream.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "net/sync_socket.h"
#include "support/test_certificates.h"

extern char** environ;

namespace {

constexpr std::int32_t kTimeoutMs = 10000;

// The openssl command's TLS 1.2 server for "localhost" on a free loopback
// port. It sends what is written to its standard input once a client's
// handshake is through, and writes what it receives to its output. Stopped
// by its process id.
class TOpensslServer {
 public:
  explicit TOpensslServer(const std::string& Input) {
    const TTestCertificates& c = TTestCertificates::Get();
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<std::string> args{"openssl", "s_server", "-accept", "127.0.0.1:0", "-naccept", "1",
                                  "-tls1_2",  "-cert",    c.Valid(),   "-key",        c.Key()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int r = posix_spawnp(&FPid, "openssl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    FIn = in[1];  // kept open: the server ends its connection when its input ends
    FOut = out[0];
    if (r != 0) throw std::runtime_error("cannot start openssl");
    if (write(FIn, Input.data(), Input.size()) != static_cast<ssize_t>(Input.size()))
      throw std::runtime_error("cannot write to openssl");
    const std::size_t at = OutputUntil("ACCEPT 127.0.0.1:", "\n").find("ACCEPT 127.0.0.1:");
    FPort = static_cast<std::uint16_t>(std::stoi(FOutput.substr(at + 17)));
  }
  ~TOpensslServer() {
    close(FIn);
    close(FOut);
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
  std::uint16_t Port() const { return FPort; }

  // Its output once Text, and Then after it, are there; throws after
  // kTimeoutMs.
  std::string OutputUntil(const std::string& Text, const std::string& Then = "") {
    const TDeadline deadline(kTimeoutMs);
    std::size_t at;
    while ((at = FOutput.find(Text)) == std::string::npos || FOutput.find(Then, at + Text.size()) == std::string::npos) {
      pollfd p{FOut, POLLIN, 0};
      const std::int32_t wait = deadline.Next();
      char buffer[512];
      ssize_t n = 0;
      if (wait < 0 || poll(&p, 1, wait) != 1 || (n = read(FOut, buffer, sizeof buffer)) <= 0)
        throw std::runtime_error("openssl s_server did not write \"" + Text + "\": " + FOutput);
      FOutput.append(buffer, static_cast<std::size_t>(n));
    }
    return FOutput;
  }

 private:
  pid_t FPid = -1;
  int FIn = -1, FOut = -1;
  std::string FOutput;
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
        const std::size_t length = static_cast<unsigned char>(FAll[FScanned + 3]) * 256u +
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

TEST(TlsStream, ExchangeOverTheSocketKeepingDataThatCameWithTheHandshakesEnd) {
  const std::string data = "hello after the handshake\n";
  TOpensslServer server(data);
  TTlsContext context(TTestCertificates::Get().CaFile());
  TSyncSocket socket(1, true);
  socket.Connect("127.0.0.1", server.Port(), kTimeoutMs);
  THoldingStream holding(socket);
  TTlsStream tls(holding, context, "localhost");
  tls.Handshake(kTimeoutMs);
  const TPeerCertificate certificate = tls.PeerCertificate();
  EXPECT_TRUE(certificate.Trusted) << certificate.TrustProblem;
  EXPECT_EQ(certificate.DnsNames, std::vector<std::string>{"localhost"});

  ASSERT_TRUE(holding.DataWithFinished);
  std::string got;
  while (got.find('\n') == std::string::npos && tls.Receive(kTimeoutMs, got) == TByteStream::TReceived::Data) {
  }
  EXPECT_EQ(got, data);
  tls.Send("<ping/>", kTimeoutMs);
  server.OutputUntil("<ping/>");
  // Closing the TLS stream closes the socket below it.
  tls.Close();
  EXPECT_FALSE(socket.Connected());
}

}  // namespace
