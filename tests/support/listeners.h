#pragma once
// What a process listens on, read from the kernel's tables, so that tests can
// show that a server they start listens where it should and nowhere else.

#include <string>
#include <sys/types.h>
#include <vector>

namespace listeners {

// The listening sockets process `pid` holds open: TCP ones as
// "address:port" in the kernel's hexadecimal form (127.0.0.1:5222 is
// "0100007F:1466"), Unix ones as "unix " and their path.
std::vector<std::string> Of(pid_t pid);

// "address:port" of 127.0.0.1:`port` in the kernel's form.
std::string Loopback(unsigned port);

}  // namespace listeners
