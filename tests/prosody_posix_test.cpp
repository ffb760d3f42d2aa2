// The throwaway Prosody behind the real-server tests: it must come up, serve
// "localhost" to clients, listen nowhere else (parallel runs and other
// servers on the machine must not clash), and be gone again afterwards.

#include "support/prosody.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "support/loopback_client.h"

using namespace std::chrono_literals;

namespace {

// The socket inodes that process `pid` holds open.
std::set<std::string> SocketInodes(pid_t pid) {
  std::set<std::string> inodes;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code error;
    std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  return inodes;
}

// Listening sockets among `inodes`: TCP ones as "address:port" in the kernel's
// hexadecimal form, Unix ones by path.
std::vector<std::string> Listeners(const std::set<std::string>& inodes) {
  std::vector<std::string> found;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      if (state == "0A" && inodes.count(inode)) found.push_back(local);
    }
  }
  std::ifstream unix("/proc/net/unix");
  std::string line;
  std::getline(unix, line);
  while (std::getline(unix, line)) {
    std::istringstream fields(line);
    std::string slot, references, protocol, flags, type, state, inode, path;
    fields >> slot >> references >> protocol >> flags >> type >> state >> inode >> path;
    if (flags == "00010000" && inodes.count(inode)) found.push_back("unix " + path);
  }
  return found;
}

std::string Hex(unsigned value, int digits) {
  std::ostringstream text;
  text << std::uppercase << std::hex;
  text.width(digits);
  text.fill('0');
  text << value;
  return text.str();
}

}  // namespace

TEST(Prosody, AnswersAClientStreamHeaderWithItsOwn) {
  TProsodyServer server;
  TLoopbackClient client(server.Port());
  ASSERT_TRUE(client.Send(
      "<?xml version='1.0' encoding='UTF-8'?><stream:stream to='localhost' xmlns='jabber:client' "
      "xmlns:stream='http://etherx.jabber.org/streams'>"));
  std::string answer = client.ReceiveUntil("jabber:client", 5s);
  EXPECT_NE(answer.find("<stream:stream"), std::string::npos) << answer << server.Log();
  EXPECT_NE(answer.find("jabber:client"), std::string::npos) << answer << server.Log();
}

TEST(Prosody, ListensOnlyForClientsOnLoopbackAndStopsCleanly) {
  uint16_t port;
  {
    TProsodyServer server;
    port = server.Port();
    std::vector<std::string> expected{"0100007F:" + Hex(port, 4)};
    EXPECT_EQ(Listeners(SocketInodes(server.Pid())), expected) << server.Log();
  }
  EXPECT_THROW(TLoopbackClient{port}, std::runtime_error);
}
