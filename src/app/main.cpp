// Entry point: one run of the main sequence on the process's own arguments
// and standard output.

#include "app/check_run.h"
#include "app/console.h"
#include "app/main_sequence.h"
#include "app/std_output.h"

int main(int argc, char* argv[]) {
  TStdOutput& out = ProcessStdOutput();
  TFrontEnd state;
  const int exit_code = RunMainSequence(state, ArgumentsFrom(ProgramArguments(argc, argv)), out, RunCheck);
  // The result line must reach the monitoring host before the exit code does.
  out.Flush();
  return exit_code;
}
