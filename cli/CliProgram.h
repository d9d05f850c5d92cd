// kelvane-cli as a whole: the command line in, the output and the exit status out. main() is
// this and the Ctrl+C handler; the tests call it in-process.
#pragma once

#include <iosfwd>
#include <string>

// Runs kelvane-cli with argv[0..argc-1]; returns its exit status (CliStatus).
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// Asks the running RunCli to stop as Ctrl+C does: the wait for an answer ends at once (a
// connect still in progress runs to its end or its time-out first), then the connection is
// closed in order. Safe in a signal handler and from any thread.
void RequestCliStop();

// "Kelvane Version 2.0 Build YYMMDDHH", as the About box says it.
std::string CliVersionLine();
