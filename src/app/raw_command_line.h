#pragma once
// Splitting a raw command line, as a platform that hands the program one
// undivided line (Windows) provides it, into the program's arguments.

#include <string>
#include <string_view>
#include <vector>

// Returns the arguments after the program's own path. Arguments are
// separated by bytes 1 to 32; a double quote opens a stretch that runs to
// the next double quote (or the end) and keeps its spaces, and the quotes
// themselves are dropped, so "-host:a b" and -host:"a b" give the same
// argument. There is no escape character. An empty pair of quotes between
// arguments gives no argument. A zero byte ends the line.
std::vector<std::string> SplitCommandLine(std::string_view Line);
