// The shared ejabberd behind the real-server tests: it must listen for
// clients and for its own control commands on loopback and nowhere else, and
// start no port mapper. That it is gone again afterwards is checked as it
// stops, when the test program's tests are done.

#include "support/ejabberd.h"

#include <gtest/gtest.h>

#include <algorithm>


TEST(Ejabberd, ListensOnlyOnLoopbackAndStartsNoPortMapper) {
  TEjabberdServer& server = TEjabberdServer::Shared();
  std::vector<std::string> expected{listeners::Loopback(server.Port()), listeners::Loopback(server.TlsPort()),
                                    listeners::Loopback(server.NodePort()), listeners::Loopback(server.S2sPort())};
  std::vector<std::string> found = listeners::Of(server.Pid());
  std::sort(expected.begin(), expected.end());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, expected) << server.Log();
  EXPECT_EQ(server.NewEpmds(), std::vector<pid_t>{});
}
