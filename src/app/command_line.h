#pragma once
// Reading the program's arguments into the front-end state.

#include <functional>
#include <string>
#include <vector>

#include "app/front_end.h"

// The program's arguments after its own name, read one at a time (index 0
// is the first). Reading an argument may fail with an exception.
struct TArguments {
  int Count = 0;
  std::function<std::string(int Index)> Read;
};

// Arguments that are already at hand as a list.
TArguments ArgumentsFrom(std::vector<std::string> List);

// Sets Host, Port, Timeout, Domain, the TLS keys and ShowUsage from the
// arguments: a help switch as the whole first argument (or no argument at
// all) asks for the usage text; otherwise every argument that begins with "-"
// may carry one key. Malformed values are no failure. Should reading fail,
// ShowUsage is set, Verdict becomes verdictUnknown with the failure's
// message, and no exception leaves.
void ParseCommandLine(TFrontEnd& State, const TArguments& Arguments);
