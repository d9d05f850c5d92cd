// kelvane-cli: the device from a shell, a script or a test line.
#include "cli/CliProgram.h"

#include <csignal>
#include <iostream>

namespace {

// The first Ctrl+C stops the run in order; a second one, as while a name is looked up or a
// connect waits, ends the program at once.
extern "C" void OnStopSignal(int) {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    RequestCliStop();
}

} // namespace

int main(int argc, char** argv) {
#ifdef SIGPIPE
    // Output into a pipe that closes (kelvane-cli ... | head) must not kill the program.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    return RunCli(argc, argv, std::cout, std::cerr);
}
