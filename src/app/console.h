#pragma once
// The console as the operating system provides it: the program's
// arguments and its standard output. One file per platform implements it.

#include <string>
#include <string_view>
#include <vector>

// The program's arguments after its own name. Where the platform hands
// them over already split (argv), they are taken as they come; where it
// hands over one raw line, the line is split by SplitCommandLine.
std::vector<std::string> ProgramArguments(int Argc, char* Argv[]);

// Readies standard output for writing: a reader that has gone away must
// not end the process before it can set its exit code.
void PrepareStdOut();

// Whether standard output is a terminal (rather than a pipe or a file).
bool StdOutIsTerminal();

// Whether the terminal expects UTF-8, judged by the user's locale.
bool TerminalUsesUtf8();

// Writes the bytes to standard output in full. A failure to write is
// dropped: the program has no other place to report it.
void WriteStdOut(std::string_view Bytes);
