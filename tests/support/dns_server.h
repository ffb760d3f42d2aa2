#pragma once
// The tests' name server: Debian's dnsmasq on 127.0.0.1:53, serving only the
// records a test gives it (dnsmasq's own configuration lines, such as
// "srv-host=_xmpp-client._tcp.a.test,t.a.test,5222,0,1" and
// "host-record=t.a.test,127.0.0.1") and "no such name" for every other name
// under .test. It belongs inside the network namespace that
// tests/support/in_dns_namespace makes, whose resolv.conf names it; tests
// that use it have "DnsNamespace" in their names and run only there.

#include <string>
#include <vector>

#include "support/server_process.h"

class TDnsServer {
 public:
  // Starts dnsmasq and returns once it serves. Throws std::runtime_error,
  // with its output, when it does not start.
  explicit TDnsServer(const std::vector<std::string>& records);
  // Stops it by its process id and waits, bounded, until it is gone.
  ~TDnsServer() { serverprocess::Stop(FPid, std::chrono::seconds(5)); }
  TDnsServer(const TDnsServer&) = delete;
  TDnsServer& operator=(const TDnsServer&) = delete;

 private:
  serverprocess::TFolder FFolder{"dns"};
  pid_t FPid = -1;
};
