// Many clients at once, each doing sequential single-read round trips, against the in-process
// simulator and, in the same run, against a bare echo server of the same shape: the same event
// loop and socket layer, answering each 5-byte request with a fixed 7-byte reply. Blocks of the
// two alternate, so that both meet the same machine. For 1, 64 and 256 clients: requests per
// second, the median and 99th percentile round trip, and each server's CPU time.
//
//   build/native/bench/bench_sim_clients [seconds per server and client count]
#include "bench/BenchStats.h"
#include "connection/PortableSocket.h"
#include "protocol/DioFrame.h"
#include "tools/simulator/DeviceSimulator.h"
#include "tools/simulator/SocketLoop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t REQUEST_SIZE = 5;
constexpr std::size_t REPLY_SIZE = 7;
// Blocks of the two servers alternate this often, so that a change in the machine's load
// meets both alike.
constexpr double BLOCK_SECONDS = 0.25;

// CPU seconds of the whole process, and of the calling thread.
double ProcessCpu() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The bare server's connection: a fixed reply to each whole request.
class CEchoClient final : public CLoopWatch {
public:
    explicit CEchoClient(CPortableSocket socket) : m_socket(std::move(socket)) {
        m_socket.SetNonBlocking();
        m_socket.SetNoDelay();
    }
    const CPortableSocket* Socket() const override { return &m_socket; }
    LoopInterest Interest(LoopClock::time_point) override {
        LoopInterest interest;
        interest.m_bRead = true;
        interest.m_bWrite = m_nOutStart < m_vecOut.size();
        return interest;
    }
    bool Run(bool readable, bool, LoopClock::time_point) override {
        if (readable) {
            std::uint8_t buffer[4096];
            std::size_t received = 0;
            const SocketIo io = m_socket.Receive(buffer, sizeof buffer, received);
            if (io != SocketIo::Done && io != SocketIo::WouldBlock) {
                return false;
            }
            m_nPartial += received;
            for (; m_nPartial >= REQUEST_SIZE; m_nPartial -= REQUEST_SIZE) {
                static constexpr std::uint8_t REPLY[REPLY_SIZE] = {0x01, 0x02, 0x00, 0x03,
                                                                   0x03, 0x00, 0x00};
                m_vecOut.insert(m_vecOut.end(), REPLY, REPLY + REPLY_SIZE);
            }
        }
        while (m_nOutStart < m_vecOut.size()) {
            std::size_t sent = 0;
            const SocketIo io =
                m_socket.Send(m_vecOut.data() + m_nOutStart, m_vecOut.size() - m_nOutStart, sent);
            if (io == SocketIo::WouldBlock || (io == SocketIo::Done && sent == 0)) {
                break;
            }
            if (io != SocketIo::Done) {
                return false;
            }
            m_nOutStart += sent;
        }
        if (m_nOutStart == m_vecOut.size()) {
            m_vecOut.clear();
            m_nOutStart = 0;
        }
        return true;
    }

private:
    CPortableSocket m_socket;
    std::size_t m_nPartial = 0;
    std::vector<std::uint8_t> m_vecOut;
    std::size_t m_nOutStart = 0;
};

class CEchoServer {
public:
    bool Start() {
        std::string error;
        CPortableSocket listening = CPortableSocket::Listen("127.0.0.1", 0, error, 0);
        if (!listening.IsOpen() || !m_loop.Open(error)) {
            std::fprintf(stderr, "bench_sim_clients: %s\n", error.c_str());
            return false;
        }
        m_nPort = listening.LocalPort();
        m_loop.Add(std::make_unique<CAcceptWatch>(
            std::move(listening),
            [this](CPortableSocket client, const std::string&, LoopClock::time_point) {
                m_loop.Add(std::make_unique<CEchoClient>(std::move(client)));
            },
            nullptr));
        m_thread = std::thread([this] { m_loop.Run(m_bStop, {}); });
        return true;
    }
    ~CEchoServer() {
        m_bStop = true;
        m_loop.Wake();
        if (m_thread.joinable()) {
            m_thread.join();
        }
        m_loop.Close();
    }
    std::uint16_t Port() const { return m_nPort; }
    std::uint64_t Waits() const { return m_loop.Passes(); }

private:
    CSocketLibrary m_library;
    CSocketLoop m_loop;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
    std::uint16_t m_nPort = 0;
};

struct Client {
    CPortableSocket m_socket;
    Clock::time_point m_timeSent{};
    std::size_t m_nReceived = 0;
};

struct Result {
    std::vector<double> m_vecMicroseconds;
    double m_dSeconds = 0;
    double m_dServerCpu = 0;
    double m_dWaits = 0; // the server loop's waits for its sockets
};

// Connects count clients to port.
bool Connect(std::uint16_t port, int count, std::vector<Client>& clients) {
    clients.resize(static_cast<std::size_t>(count));
    for (Client& client : clients) {
        std::string error;
        client.m_socket = CPortableSocket::Connect("127.0.0.1", port, error);
        if (!client.m_socket.IsOpen()) {
            std::fprintf(stderr, "bench_sim_clients: %s\n", error.c_str());
            return false;
        }
        client.m_socket.SetNonBlocking();
    }
    return true;
}

// Every client does round trips, each sending its next request when its answer is whole, for
// the given time; one thread drives them all.
bool Drive(std::vector<Client>& clients, double seconds, Result& result) {
    const SingleReadFrame request = EncodeSingleRead(3);
    std::vector<SocketWait> waits(clients.size());
    const double cpuStart = ProcessCpu();
    const double driverStart = ThreadCpu();
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (Client& client : clients) {
        std::size_t sent = 0;
        client.m_timeSent = Clock::now();
        client.m_nReceived = 0;
        if (client.m_socket.Send(request.data(), request.size(), sent) != SocketIo::Done ||
            sent != request.size()) {
            return false;
        }
    }
    std::size_t outstanding = clients.size();
    while (outstanding > 0) {
        for (std::size_t i = 0; i < clients.size(); ++i) {
            waits[i] = SocketWait{&clients[i].m_socket, clients[i].m_nReceived < REPLY_SIZE};
        }
        if (WaitForSockets(waits, 10000) <= 0) {
            std::fprintf(stderr, "bench_sim_clients: no answer within 10 s\n");
            return false;
        }
        const Clock::time_point now = Clock::now();
        for (std::size_t i = 0; i < clients.size(); ++i) {
            Client& client = clients[i];
            if (!waits[i].m_bReadable) {
                continue;
            }
            std::uint8_t buffer[64];
            std::size_t received = 0;
            const SocketIo io = client.m_socket.Receive(buffer, sizeof buffer, received);
            if (io == SocketIo::WouldBlock) {
                continue;
            }
            if (io != SocketIo::Done) {
                return false;
            }
            client.m_nReceived += received;
            if (client.m_nReceived < REPLY_SIZE) {
                continue;
            }
            result.m_vecMicroseconds.push_back(
                std::chrono::duration<double, std::micro>(now - client.m_timeSent).count());
            if (now >= end) {
                --outstanding;
                continue;
            }
            std::size_t sent = 0;
            client.m_nReceived = 0;
            client.m_timeSent = Clock::now();
            if (client.m_socket.Send(request.data(), request.size(), sent) != SocketIo::Done ||
                sent != request.size()) {
                return false;
            }
        }
    }
    result.m_dSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    // The process's CPU time less the driver's: the server's thread (and an idle main thread).
    result.m_dServerCpu += (ProcessCpu() - cpuStart) - (ThreadCpu() - driverStart);
    return true;
}

void Report(const char* name, const Result& result) {
    const double requests = static_cast<double>(result.m_vecMicroseconds.size());
    std::printf("  %-12s %9.0f requests/s   p50 %7.1f us   p99 %7.1f us   server CPU %.2f s "
                "in %.2f s, %.3f waits a request\n",
                name, requests / result.m_dSeconds, Percentile(result.m_vecMicroseconds, 0.5),
                Percentile(result.m_vecMicroseconds, 0.99), result.m_dServerCpu, result.m_dSeconds,
                result.m_dWaits / requests);
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::max(0.3, std::atof(argv[1])) : 3.0;
    // Both ends of every connection are in this process.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    SimulatorOptions options;
    options.m_nPort = 0;
    options.m_bQuiet = true;
    options.m_nMaxClients = SIM_MAX_CLIENTS;
    CDeviceSimulator simulator(options);
    std::string error;
    if (!simulator.Start(error)) {
        std::fprintf(stderr, "bench_sim_clients: %s\n", error.c_str());
        return 1;
    }
    CEchoServer bare;
    if (!bare.Start()) {
        return 1;
    }

    std::printf("bench_sim_clients: sequential single reads, %.1f s against each server per "
                "client count, in alternating blocks of %.2f s\n",
                seconds, BLOCK_SECONDS);
    for (const int count : {1, 64, 256}) {
        std::vector<Client> simClients;
        std::vector<Client> bareClients;
        if (!Connect(simulator.Port(), count, simClients) ||
            !Connect(bare.Port(), count, bareClients)) {
            return 1;
        }
        Result simResult;
        Result bareResult;
        const std::uint64_t simWaits = simulator.Counters().m_nWaits;
        const std::uint64_t bareWaits = bare.Waits();
        for (double done = 0; done < seconds; done += BLOCK_SECONDS) {
            if (!Drive(simClients, BLOCK_SECONDS, simResult) ||
                !Drive(bareClients, BLOCK_SECONDS, bareResult)) {
                std::fprintf(stderr, "bench_sim_clients: a round trip failed\n");
                return 1;
            }
        }
        std::printf("%d client(s):\n", count);
        simResult.m_dWaits = static_cast<double>(simulator.Counters().m_nWaits - simWaits);
        bareResult.m_dWaits = static_cast<double>(bare.Waits() - bareWaits);
        Report("simulator", simResult);
        Report("bare server", bareResult);
        const double rateShare =
            (static_cast<double>(simResult.m_vecMicroseconds.size()) / simResult.m_dSeconds) /
            (static_cast<double>(bareResult.m_vecMicroseconds.size()) / bareResult.m_dSeconds);
        const double medianExcess = Percentile(simResult.m_vecMicroseconds, 0.5) /
                                        Percentile(bareResult.m_vecMicroseconds, 0.5) -
                                    1.0;
        std::printf("  simulator: %.0f %% of the bare server's requests/s, median %+.1f %%%s\n",
                    rateShare * 100, medianExcess * 100,
                    count == 64 ? " (goal: at least 90 %, at most +10 %)" : "");
    }
    return 0;
}
