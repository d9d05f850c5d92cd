// The simulated device as a TCP server: listens, serves many clients at once on its own thread,
// all on one device, answers requests as the faults say, and takes commands from test scripts
// on its control port. Usable in-process by tests.
#pragma once

#include "protocol/DioFrame.h"
#include "tools/simulator/DeviceProtocol.h"
#include "tools/simulator/DioDevice.h"
#include "tools/simulator/SimFault.h"
#include "tools/simulator/SimulatorOptions.h"
#include "tools/simulator/SocketLoop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// ReceivedRequests keeps the first this many requests (the counters count them all), so that a
// long run does not grow without end.
constexpr std::size_t SIM_MAX_RECORDED_REQUESTS = 65536;

// What the simulator has done so far, over all clients.
struct SimulatorCounters {
    std::uint64_t m_nConnections = 0;     // clients accepted and served
    std::uint64_t m_nDisconnections = 0;  // clients whose connection has ended
    std::uint64_t m_nClientsRefused = 0;  // clients closed at once: --max-clients were connected
    std::uint64_t m_nRequests = 0;        // request frames received
    std::uint64_t m_nErrorReplies = 0;    // requests answered with a non-zero status
    std::uint64_t m_nFramesSent = 0;      // answers, junk frames and reports sent whole
    std::uint64_t m_nReportsSent = 0;     // unsolicited reports of input level changes sent
    std::uint64_t m_nFloodedBytes = 0;    // flood bytes sent
    std::uint64_t m_nFloodsDone = 0;      // floods that ran to their limit
    std::uint64_t m_nClientsDropped = 0;  // clients reset for not taking what was sent to them
    std::uint64_t m_nControlCommands = 0; // control port lines answered
    std::uint64_t m_nWaits = 0;           // waits of the serving thread for its sockets
    std::size_t m_nMostQueuedFrames = 0;  // the longest a client's output queue has been
    std::size_t m_nClientsConnected = 0;
    bool m_bClientConnected = false; // m_nClientsConnected > 0
};

class CDeviceClient;
class CControlClient;

// Start and Stop are for the owner's thread; the other members may be called from any thread.
class CDeviceSimulator final : private CFaultServer {
public:
    // log receives the console output (nullptr: none). It is written by the serving thread
    // between Start and Stop, and by Start.
    explicit CDeviceSimulator(SimulatorOptions options, std::ostream* log = nullptr);
    // Stops and joins.
    ~CDeviceSimulator();
    CDeviceSimulator(const CDeviceSimulator&) = delete;
    CDeviceSimulator& operator=(const CDeviceSimulator&) = delete;

    // Binds and listens (port 0: any free port), on the control port too if the options ask
    // for one, prints the addresses, and serves on its own thread. False with a one-line
    // error when a socket cannot be opened or it runs already.
    bool Start(std::string& error);
    // The bound ports, once started (the control port's is 0 without one).
    std::uint16_t Port() const { return m_nPort; }
    std::uint16_t ControlPort() const { return m_nControlPort; }
    // Ends the serving thread at once, whatever the clients are doing, and closes every
    // socket. Safe to call at any time and more than once; Start may follow.
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }

    // Runs one line of the control port's language (tools/simulator/ControlCommand.h), as the
    // control port does, and returns the answer: one line of JSON, without its line end.
    // While the simulator runs, the command runs on its serving thread between two passes,
    // and this waits for it.
    std::string Control(std::string_view line);

    // Every request frame received so far (up to SIM_MAX_RECORDED_REQUESTS), whole, in order.
    std::vector<std::vector<std::uint8_t>> ReceivedRequests() const;
    // The DIO table now.
    std::vector<DioModeState> DioTable() const;
    // Presets one DIO, without reporting it (ignored when dio, mode or state is out of range).
    void SetDio(int dio, int mode, int state);
    SimulatorCounters Counters() const;

    // Waits until condition holds for the counters, or until timeout. Returns whether it holds.
    bool WaitUntil(const std::function<bool(const SimulatorCounters&)>& condition,
                   std::chrono::milliseconds timeout) const;
    // Waits until count requests (over all clients) have been received.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    friend class CDeviceClient;
    friend class CControlClient;
    class CDeviceTimer;
    struct PostedCommand;

    // CFaultServer
    const SimulatorOptions& Settings() const override { return m_settings; }
    void Log(const std::string& line) override;
    void ChangeDevice(const std::function<void(CDioDevice&)>& change) override;
    void ReportDio(int dio, DioModeState value) override;
    void CountFloodDone() override;

    void Serve();
    void Accept(CPortableSocket socket, const std::string& peer, LoopClock::time_point now);
    void AcceptControl(CPortableSocket socket, const std::string& peer);
    // Runs the commands other threads handed over (Control).
    void RunPosted();
    // The control port's answer to one line (tooLong: the line was longer than allowed).
    std::string ExecuteControl(std::string_view line, bool tooLong, const std::string& from);
    // The clients' part: a request served on the device (recorded and counted), and a
    // client that has gone.
    SimReply ServeOnDevice(std::span<const std::uint8_t> frame);
    void Forget(const CDeviceClient* client);
    void ForgetControl() { --m_nControlClients; }

    bool ShowsDumps() const { return m_bShowsDumps; }
    // Wakes WaitUntil, if anyone waits (most changes happen with nobody waiting).
    void NotifyWaiters() {
        if (m_nWaiters.load() > 0) {
            m_cvChanged.notify_all();
        }
    }
    // The header line, then the dump ('>' sent to the client, '<' received from it).
    void LogDump(const std::string& header, bool sent, const std::uint8_t* data,
                 std::size_t length);
    template <class TChange>
    void Update(TChange&& change) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            change(m_counters);
        }
        NotifyWaiters();
    }

    const SimulatorOptions m_options;
    std::ostream* m_pLog;
    const bool m_bShowsDumps; // a log, and not --quiet
    CSocketLibrary m_socketLibrary;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::uint16_t m_nPort = 0;
    std::uint16_t m_nControlPort = 0;

    // The serving thread's (the owner's while it does not run).
    CSocketLoop m_loop;
    SimulatorOptions m_settings; // the faults' settings now
    SimFaultList m_faults;
    std::vector<CDeviceClient*> m_vecClients; // served by the loop, in the order they came
    int m_nControlClients = 0;
    std::uint64_t m_nNextClientId = 1;

    // Commands handed over by Control while the simulator runs.
    std::mutex m_postMutex;
    std::condition_variable m_cvPosted;
    std::vector<PostedCommand*> m_vecPosted;
    bool m_bServing = false;

    // Guards everything below, which the tests read while the serving thread works.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cvChanged;
    mutable std::atomic<int> m_nWaiters{0}; // threads in WaitUntil
    CDioDevice m_device;
    std::vector<std::vector<std::uint8_t>> m_vecRequests;
    SimulatorCounters m_counters;
};
