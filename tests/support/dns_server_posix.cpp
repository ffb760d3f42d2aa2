#include "support/dns_server.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "support/program.h"

using namespace std::chrono_literals;

TDnsServer::TDnsServer(const std::vector<std::string>& records) {
  // Outside the namespace the program would ask the system's name server.
  const char* inside = std::getenv("TOLVANE_IN_DNS_NAMESPACE");
  if (inside == nullptr || std::string(inside) != "1")
    throw std::runtime_error("the DNS tests run only inside tests/support/in_dns_namespace");
  const std::string configuration = (FFolder / "records.conf").string();
  const std::string pidFile = (FFolder / "dnsmasq.pid").string();
  {
    std::ofstream out(configuration);
    // Every name under .test is the tests' own: what is not listed does
    // not exist, and no other server is ever asked.
    out << "local=/test/\n";
    for (const std::string& record : records) out << record << "\n";
  }
  // Without --keep-in-foreground dnsmasq returns once it serves, or with
  // its reason when it cannot.
  TProgramOptions options;
  options.KillAfter = 10s;
  const TProgramRun run =
      RunProgram({"dnsmasq"}, {"--no-resolv", "--no-hosts", "--listen-address=127.0.0.1", "--bind-interfaces",
                               "--port=53", "--user=root", "--conf-file=" + configuration, "--pid-file=" + pidFile},
                 options);
  std::ifstream(pidFile) >> FPid;
  if (!run.ExitedWith(0) || FPid <= 0) throw std::runtime_error("dnsmasq did not start: " + run.Output + run.Errors);
}
