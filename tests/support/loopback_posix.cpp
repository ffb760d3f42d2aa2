// What the loopback helpers do differently on POSIX.

#include "support/loopback.h"

#include <dirent.h>
#include <signal.h>

namespace loopback {

int CountOpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count - 1;  // the directory stream's own descriptor
}

DefaultPipeSignal::DefaultPipeSignal() : previous_(signal(SIGPIPE, SIG_DFL)) {}

DefaultPipeSignal::~DefaultPipeSignal() { signal(SIGPIPE, previous_); }

}  // namespace loopback
