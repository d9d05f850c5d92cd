// Sequential "read" round trips against the in-process simulator: through kelvane-cli's own
// session code (request, answer matching, the printed line) and through a bare socket doing
// the same exchange, in the same run: alternating blocks, one connection at a time to one
// device, so that both meet the same machine and the same serving thread.
//
//   build/native/bench/bench_cli [rounds]
#include "bench/BenchStats.h"
#include "cli/CliSession.h"
#include "protocol/DioFrame.h"
#include "tools/simulator/DeviceSimulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Takes the printed lines and drops them, as a console that keeps up would.
class CNullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

double Microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

bool StartDevice(CDeviceSimulator& device) {
    std::string error;
    if (!device.Start(error)) {
        std::fprintf(stderr, "bench_cli: %s\n", error.c_str());
        return false;
    }
    return true;
}

// One read over a blocking socket: the request, then the 7 answer bytes.
bool BareRead(CPortableSocket& socket, const SingleReadFrame& request) {
    std::size_t sent = 0;
    if (socket.Send(request.data(), request.size(), sent) != SocketIo::Done ||
        sent != request.size()) {
        return false;
    }
    std::uint8_t answer[7];
    std::size_t have = 0;
    while (have < sizeof answer) {
        std::size_t received = 0;
        if (socket.Receive(answer + have, sizeof answer - have, received) != SocketIo::Done) {
            return false;
        }
        have += received;
    }
    return answer[0] == DIO_CMD_SINGLE_READ && answer[4] == request[4];
}

void Report(const char* name, const std::vector<double>& times, double totalUs) {
    std::printf("  %-12s %9.0f requests/s   p50 %6.1f us   p99 %6.1f us\n", name,
                double(times.size()) * 1e6 / totalUs, Percentile(times, 0.5),
                Percentile(times, 0.99));
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
    constexpr int BLOCK = 250;

    SimulatorOptions options;
    options.m_nPort = 0;
    options.m_bQuiet = true;
    CDeviceSimulator device(options);
    if (!StartDevice(device)) {
        return 1;
    }
    std::uint64_t connections = 0;
    // Waits until the device has let the last connection go, so that it serves the next at once.
    auto settle = [&] {
        ++connections;
        return device.WaitUntil(
            [&](const SimulatorCounters& c) { return c.m_nDisconnections == connections; },
            std::chrono::seconds(10));
    };

    CliArguments arguments;
    arguments.m_strHost = "127.0.0.1";
    arguments.m_nPort = device.Port();
    CliCommand read;
    read.m_kind = CliCommandKind::Read;
    read.m_nFirst = read.m_nLast = 3;
    read.m_strText = "read 3";
    CNullBuffer nullBuffer;
    std::ostream out(&nullBuffer);
    const SingleReadFrame request = EncodeSingleRead(3);

    std::vector<double> sessionTimes;
    std::vector<double> bareTimes;
    double sessionTotal = 0;
    double bareTotal = 0;
    for (int done = 0; done < rounds; done += BLOCK) {
        {
            CCliSession session(arguments, out, out);
            if (session.Connect() != CLI_OK) {
                std::fprintf(stderr, "bench_cli: the session cannot connect\n");
                return 1;
            }
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < BLOCK; ++i) {
                const Clock::time_point before = Clock::now();
                if (session.RunCommand(read, 0) != CLI_OK) {
                    std::fprintf(stderr, "bench_cli: the session's read failed\n");
                    return 1;
                }
                sessionTimes.push_back(Microseconds(Clock::now() - before));
            }
            sessionTotal += Microseconds(Clock::now() - start);
            session.Close();
        }
        if (!settle()) {
            return 1;
        }
        {
            std::string error;
            CPortableSocket bare = CPortableSocket::Connect("127.0.0.1", device.Port(), error);
            if (!bare.IsOpen()) {
                std::fprintf(stderr, "bench_cli: %s\n", error.c_str());
                return 1;
            }
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < BLOCK; ++i) {
                const Clock::time_point before = Clock::now();
                if (!BareRead(bare, request)) {
                    std::fprintf(stderr, "bench_cli: the bare read failed\n");
                    return 1;
                }
                bareTimes.push_back(Microseconds(Clock::now() - before));
            }
            bareTotal += Microseconds(Clock::now() - start);
        }
        if (!settle()) {
            return 1;
        }
    }

    std::printf("bench_cli: %zu sequential reads each way against the in-process simulator\n",
                sessionTimes.size());
    Report("CLI session", sessionTimes, sessionTotal);
    Report("bare socket", bareTimes, bareTotal);
    const double overhead =
        (Percentile(sessionTimes, 0.5) / Percentile(bareTimes, 0.5) - 1.0) * 100.0;
    std::printf("  overhead of the CLI at the median: %+.1f %% (goal: at most 10 %%)\n", overhead);
    return 0;
}
