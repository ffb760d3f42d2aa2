#include "support/listeners.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace listeners {

namespace {

// The socket inodes that process `pid` holds open.
std::set<std::string> SocketInodes(pid_t pid) {
  std::set<std::string> inodes;
  std::error_code gone;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", gone)) {
    std::error_code error;
    std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  return inodes;
}

}  // namespace

std::vector<std::string> Of(pid_t pid) {
  const std::set<std::string> inodes = SocketInodes(pid);
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

std::string Loopback(unsigned port) {
  std::ostringstream text;
  text << "0100007F:" << std::uppercase << std::hex;
  text.width(4);
  text.fill('0');
  text << port;
  return text.str();
}

}  // namespace listeners
