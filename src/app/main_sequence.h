#pragma once
// The program's one run, from the command line to the result line.

#include <functional>
#include <string>

#include "app/command_line.h"
#include "app/front_end.h"
#include "app/line_writer.h"

// Checks the server once and leaves the outcome in the state (RunCheck in
// the program; tests pass their own).
using TCheckRunner = std::function<void(TFrontEnd& State)>;

// Reads the arguments, writes the banner and the usage text when asked,
// validates host and port, runs the check when both are there, and writes
// exactly one result line. Any exception on the way becomes verdictUnknown
// with its message. Returns the process exit code, which equals the verdict.
int RunMainSequence(TFrontEnd& State, const TArguments& Arguments, TLineWriter& Out,
                    const TCheckRunner& CheckRunner);

// The result line of the state's verdict, without its line end. The reason
// stays on one line and shows "***" wherever it holds the password or
// another of the state's secrets.
std::string ResultLine(const TFrontEnd& State);
