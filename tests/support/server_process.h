#pragma once
// What the fixtures that run a real server (Prosody, ejabberd, dnsmasq)
// share. Every process is stopped by its own id.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/program.h"

namespace serverprocess {

using std::chrono::milliseconds;

// /tmp/tolvane-<name>-XXXXXX, made at once and removed with the object.
class TFolder {
 public:
  explicit TFolder(const std::string& name);
  ~TFolder();
  TFolder(const TFolder&) = delete;
  TFolder& operator=(const TFolder&) = delete;
  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path operator/(const std::string& name) const { return FPath / name; }

 private:
  std::filesystem::path FPath;
};

std::string Slurp(const std::filesystem::path& path);  // empty when unreadable

// `count` different ports free right now on 127.0.0.1 (and on ::1 too with
// ipv6). The server binds them a moment later; should another program take
// one meanwhile, the server's start fails and is tried again.
std::vector<std::uint16_t> FreePorts(std::size_t count, bool ipv6 = false);

// Whether process `pid` still runs (a zombie counts as gone).
bool Running(pid_t pid);
// Waits, at most `bound`, for child `pid` to end; true when it did.
bool Reap(pid_t pid, milliseconds bound, int* status = nullptr);
// Ends process `pid`: SIGTERM, then SIGKILL once `bound` has passed. A
// child of this process is reaped as well.
void Stop(pid_t pid, milliseconds bound);

namespace listeners {
// The listening sockets process `pid` holds open, from the kernel's tables:
// TCP ones as "address:port" in the kernel's hexadecimal form (127.0.0.1:5222
// is "0100007F:1466"), Unix ones as "unix " and their path.
std::vector<std::string> Of(pid_t pid);
// 127.0.0.1:`port` in that form.
std::string Loopback(unsigned port);
}  // namespace listeners

// Calls `start` until it returns true, three times at most, and `stop` after
// each failure. Throws std::runtime_error with the last reason (`start`'s
// or the one it threw) and `log()` when none succeeds.
void StartWithRetries(const std::string& server, const std::function<bool(std::string& why)>& start,
                      const std::function<void()>& stop, const std::function<std::string()>& log);

}  // namespace serverprocess
namespace listeners = serverprocess::listeners;
