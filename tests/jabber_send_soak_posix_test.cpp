// Many consecutive probes of a real Prosody inside one process: every one
// must find the server alive, and the process must not keep a descriptor or
// memory from one probe to the next. The count comes from TOLVANE_SOAK_CHECKS
// (scripts/soak sets 2000); the suite's own run makes a short one.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/loopback.h"
#include "support/prosody.h"
#include "xmpp/jabber_send.h"

namespace {

int SoakChecks() {
  const char* value = std::getenv("TOLVANE_SOAK_CHECKS");
  const int count = value != nullptr ? std::atoi(value) : 0;
  return count > 0 ? count : 50;
}

// Resident memory of this process in KiB.
long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident * 4;
}

// The allocator's quarantine makes a sanitized process grow by design.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryIsMeasurable = false;
#else
constexpr bool kMemoryIsMeasurable = true;
#endif
// Allocator noise; a leak of one receive buffer per probe over 2000 probes
// would be 40 MiB.
constexpr long kMemorySlackKiB = 1024;
// Probes before the baseline is taken, so that one-time allocations (the
// resolver's, the allocator's own arenas) are behind it.
constexpr int kWarmUp = 5;

// Runs `probe` SoakChecks() times; each must find the server alive.
template <typename Probe>
void Soak(Probe probe) {
  TProsodyServer prosody;
  int descriptors = 0;
  long memory = 0;
  int alive = 0;
  const int checks = SoakChecks();
  for (int i = 0; i < checks + kWarmUp; ++i) {
    if (i == kWarmUp) {
      descriptors = loopback::CountOpenDescriptors();
      memory = ResidentKiB();
    }
    std::string lastError;
    if (probe(prosody.Port(), lastError)) {
      ++alive;
    } else {
      ADD_FAILURE() << "probe " << i << ": " << lastError;
      if (i - alive > 3) break;  // the server is gone; one message is enough
    }
  }
  EXPECT_EQ(alive, checks + kWarmUp);
  std::printf("soak: %d of %d probes alive; descriptors %d before, %d after; resident memory %ld KiB before, %ld KiB after\n",
              alive, checks + kWarmUp, descriptors, loopback::CountOpenDescriptors(), memory, ResidentKiB());
  EXPECT_EQ(loopback::CountOpenDescriptors(), descriptors);
  if (kMemoryIsMeasurable) {
    EXPECT_LE(ResidentKiB(), memory + kMemorySlackKiB);
  }
}

// As the check run does it: a new sender for every probe.
TEST(JabberSendSoak, NewSenderPerProbeLeavesNothingBehind) {
  Soak([](std::uint16_t port, std::string& lastError) {
    TJabberSend probe("", "");
    probe.ResponseTimeout = 5000;
    probe.Check("localhost", port);
    const bool alive = probe.Connected;
    lastError = probe.LastError;
    if (alive) probe.CloseSession();
    return alive && !probe.Socket->Connected();
  });
}

// One sender probing again and again.
TEST(JabberSendSoak, OneSenderProbingAgainLeavesNothingBehind) {
  TJabberSend probe("", "");
  probe.ResponseTimeout = 5000;
  Soak([&probe](std::uint16_t port, std::string& lastError) {
    probe.Check("localhost", port);
    const bool alive = probe.Connected;
    lastError = probe.LastError;
    if (alive) probe.CloseSession();
    return alive && !probe.Socket->Connected();
  });
}

}  // namespace
