// The simulated device as a TCP server: listens, serves one client at a time on its own
// thread, and answers requests as the options say. Usable in-process by tests.
#pragma once

#include "connection/PortableSocket.h"
#include "protocol/DioFrame.h"
#include "tools/simulator/DioDevice.h"
#include "tools/simulator/OutputQueue.h"
#include "tools/simulator/RequestFramer.h"
#include "tools/simulator/SimulatorOptions.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// ReceivedRequests keeps the first this many requests (the counters count them all), so that a
// long run does not grow without end.
constexpr std::size_t SIM_MAX_RECORDED_REQUESTS = 65536;

// What the simulator has done so far, over all clients.
struct SimulatorCounters {
    std::uint64_t m_nConnections = 0;    // clients accepted
    std::uint64_t m_nDisconnections = 0; // clients whose connection has ended
    std::uint64_t m_nRequests = 0;       // request frames received
    std::uint64_t m_nErrorReplies = 0;   // requests answered with a non-zero status
    std::uint64_t m_nFramesSent = 0;     // answers, junk frames and reports sent whole
    std::uint64_t m_nReportsSent = 0;    // unsolicited reports of input level changes sent
    std::uint64_t m_nFloodedBytes = 0;   // flood bytes sent
    std::uint64_t m_nFloodsDone = 0;     // floods that ran to their limit
    std::uint64_t m_nClientsDropped = 0; // clients reset for not taking what was sent to them
    std::size_t m_nMostQueuedFrames = 0; // the longest the output queue has been
    bool m_bClientConnected = false;
};

// Start and Stop are for the owner's thread; the other members may be called from any thread.
class CDeviceSimulator {
public:
    // log receives the console output (nullptr: none). It is written by the serving thread
    // between Start and Stop, and by Start.
    explicit CDeviceSimulator(SimulatorOptions options, std::ostream* log = nullptr);
    // Stops and joins.
    ~CDeviceSimulator();
    CDeviceSimulator(const CDeviceSimulator&) = delete;
    CDeviceSimulator& operator=(const CDeviceSimulator&) = delete;

    // Binds and listens (port 0: any free port), prints the address, and serves on its own
    // thread. False with a one-line error when the socket cannot be opened or it runs already.
    bool Start(std::string& error);
    // The bound port, once started.
    std::uint16_t Port() const { return m_nPort; }
    // Ends the serving thread at once, whatever the client is doing, and closes every socket.
    // Safe to call at any time and more than once; Start may follow.
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }

    // Every request frame received so far (up to SIM_MAX_RECORDED_REQUESTS), whole, in order.
    std::vector<std::vector<std::uint8_t>> ReceivedRequests() const;
    // The DIO table now.
    std::vector<DioModeState> DioTable() const;
    // Presets one DIO (ignored when dio, mode or state is out of range).
    void SetDio(int dio, int mode, int state);
    SimulatorCounters Counters() const;

    // Waits until condition holds for the counters, or until timeout. Returns whether it holds.
    bool WaitUntil(const std::function<bool(const SimulatorCounters&)>& condition,
                   std::chrono::milliseconds timeout) const;
    // Waits until count requests (over all clients) have been received.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    struct ClientSession;

    void Serve();
    void ServeClient(CPortableSocket client, const std::string& peer);
    void HandleReceived(ClientSession& session, const std::uint8_t* data, std::size_t length);
    // Answers the requests received as long as their answers fit the queue.
    void ServePending(ClientSession& session);
    void ServeRequest(ClientSession& session, const SimFrame& frame);
    // Sends what is ready while the socket takes it; false when the connection is lost.
    bool SendReady(ClientSession& session);
    // Records that count bytes from the front of the queue went out: prints each frame as
    // it starts and counts each one done.
    void Consumed(ClientSession& session, std::size_t count, SimClock::time_point now);
    void FeedFlood(ClientSession& session, SimClock::time_point now);
    // Prints the flood's total; complete is false when the connection ended it early.
    void EndFlood(ClientSession& session, bool complete);
    void RunToggles(SimClock::time_point now, ClientSession* session);
    // Queues the reports that found the queue full, as far as there is room now.
    void ReportCoalesced(ClientSession& session, SimClock::time_point now);
    void PushReport(ClientSession& session, int dio, DioModeState value, SimClock::time_point now);
    void NoteQueueLength(ClientSession& session);
    // True (with a console line) when the client is to be dropped: it took nothing of a frame
    // that was ready for the client time-out, or it ended its side and has not taken its
    // answers the time-out after the last was due.
    bool IsOverdue(ClientSession& session, SimClock::time_point now);
    SimClock::time_point DrainDeadline(const ClientSession& session) const;
    int MillisecondsUntilNextEvent(const ClientSession* session, SimClock::time_point now) const;
    void FinishClient(ClientSession& session);

    void Log(const std::string& line);
    bool ShowsDumps() const;
    // The header line, then the dump ('>' sent to the client, '<' received from it).
    void LogDump(const std::string& header, bool sent, const std::uint8_t* data,
                 std::size_t length);
    void Update(const std::function<void(SimulatorCounters&)>& change);

    const SimulatorOptions m_options;
    std::ostream* m_pLog;
    CSocketLibrary m_socketLibrary;

    CPortableSocket m_listenSocket;
    CPortableSocket m_wakeSocket;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::uint16_t m_nPort = 0;
    SimClock::time_point m_timeNextToggle{};

    // Guards everything below, which the tests read while the serving thread works.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cvChanged;
    CDioDevice m_device;
    std::vector<std::vector<std::uint8_t>> m_vecRequests;
    SimulatorCounters m_counters;
};
