// kelvane-sim: the simulated DIO device on the command line.
#include "tools/simulator/DeviceSimulator.h"
#include "tools/simulator/SimulatorOptions.h"

#include <chrono>
#include <csignal>
#include <iostream>
#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

volatile std::sig_atomic_t g_nStopSignal = 0;

extern "C" void OnStopSignal(int) {
    g_nStopSignal = 1;
}

// Each client takes a descriptor, and a shell's usual limit (1024 in all) is below what
// --max-clients allows: the limit is raised as far as the system lets a process raise it.
void AllowManyConnections() {
#ifndef _WIN32
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
#endif
}

} // namespace

int main(int argc, char** argv) {
    SimulatorOptions options;
    std::string error;
    if (!ParseSimulatorOptions(argc, argv, options, error)) {
        std::cerr << "kelvane-sim: " << error << " (see kelvane-sim --help)\n";
        return 2;
    }
    if (options.m_bHelp) {
        std::cout << SimulatorHelpText();
        return 0;
    }

    AllowManyConnections();
    CDeviceSimulator simulator(options, &std::cout);
    if (!simulator.Start(error)) {
        std::cerr << "kelvane-sim: " << error << "\n";
        return 1;
    }
#ifdef SIGPIPE
    // A console pipe that closes (kelvane-sim | head) must not end the device; sockets use
    // MSG_NOSIGNAL already where it exists.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    while (g_nStopSignal == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    simulator.Stop();
    std::cout << "kelvane-sim: stopped\n";
    return 0;
}
