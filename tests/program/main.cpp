// The whole-program tests: they start the built program, given as this
// test program's one parameter (the command that starts it, split at
// spaces), and compare what it writes byte for byte.

#include <gtest/gtest.h>

#include <cstdio>

#include "support/program.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc == 2) {
    SetProgramCommand(argv[1]);
  } else if (!GTEST_FLAG_GET(list_tests)) {
    std::fprintf(stderr, "usage: %s [gtest options] \"<command that starts tolvane>\"\n", argv[0]);
    return 2;
  }
  return RUN_ALL_TESTS();
}
