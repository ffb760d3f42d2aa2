#include "support/server_process.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/loopback.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace serverprocess {

TFolder::TFolder(const std::string& name) {
  std::string pattern = "/tmp/tolvane-" + name + "-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  FPath = pattern;
}

TFolder::~TFolder() {
  std::error_code ignored;
  fs::remove_all(FPath, ignored);
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::uint16_t> FreePorts(std::size_t count, bool ipv6) {
  std::vector<loopback::RefusedPort> held;  // held until all are chosen, so that all differ
  std::vector<std::uint16_t> ports;
  for (int attempt = 0; ports.size() < count && attempt < 3 * static_cast<int>(count); ++attempt) {
    const std::uint16_t port = held.emplace_back().Port();
    try {
      if (ipv6) held.emplace_back(true, port);
      ports.push_back(port);
    } catch (const std::runtime_error&) {
      // Taken on ::1: another one.
    }
  }
  if (ports.size() < count) throw std::runtime_error("no port free on both 127.0.0.1 and ::1");
  return ports;
}

bool Running(pid_t pid) {
  if (pid <= 0 || kill(pid, 0) != 0) return false;
  const std::string status = Slurp("/proc/" + std::to_string(pid) + "/stat");
  const auto close = status.rfind(')');
  return close == std::string::npos || status.compare(close + 1, 3, " Z ") != 0;
}

bool Reap(pid_t pid, milliseconds bound, int* status) {
  const auto deadline = TClock::now() + bound;
  for (;;) {
    if (waitpid(pid, status, WNOHANG) == pid) return true;
    if (TClock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

void Stop(pid_t pid, milliseconds bound) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  const auto deadline = TClock::now() + bound;
  while (Running(pid) && TClock::now() < deadline) std::this_thread::sleep_for(20ms);
  if (Running(pid)) kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);  // fails at once for a process that is not our child
}

namespace listeners {

std::vector<std::string> Of(pid_t pid) {
  std::set<std::string> inodes;  // of the sockets the process holds
  std::error_code gone;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", gone)) {
    const std::string target = fs::read_symlink(entry.path(), gone).string();
    if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  std::vector<std::string> found;
  for (const std::string table : {"tcp", "tcp6", "unix"}) {
    std::ifstream in("/proc/net/" + table);
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
      std::istringstream words(line);
      const std::vector<std::string> f{std::istream_iterator<std::string>(words), {}};
      // TCP: local address, state (0A: listening) and inode in columns 2, 4
      // and 10; Unix: flags (00010000: listening), inode and path in 4, 7, 8.
      if (table != "unix" && f.size() >= 10 && f[3] == "0A" && inodes.count(f[9])) found.push_back(f[1]);
      if (table == "unix" && f.size() >= 7 && f[3] == "00010000" && inodes.count(f[6]))
        found.push_back("unix " + (f.size() > 7 ? f[7] : ""));
    }
  }
  return found;
}

std::string Loopback(unsigned port) {
  char text[16];
  std::snprintf(text, sizeof text, "0100007F:%04X", port);
  return text;
}

}  // namespace listeners

void StartWithRetries(const std::string& server, const std::function<bool(std::string& why)>& start,
                      const std::function<void()>& stop, const std::function<std::string()>& log) {
  std::string why;
  for (int attempt = 0; attempt < 3; ++attempt) {
    try {
      if (start(why)) return;
    } catch (const std::runtime_error& failure) {
      why = failure.what();
    }
    stop();
  }
  throw std::runtime_error(server + " did not come up: " + why + "\n" + log());
}

}  // namespace serverprocess
