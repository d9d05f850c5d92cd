// A device for the polling and reconnecting tests: on a CTestPeer's listener, it accepts the
// program's connection and answers every request in order, after a delay, as a device with
// nine DIOs does. The test sets the DIOs' values; they change without any report, as inputs
// do when nobody asks. It notes every request, and how many range reads awaited their answers
// at once. It can also drop each connection a while after accepting it (closing and resetting
// in turn), and accept the next.
#pragma once

#include "tests/win32/TestPeer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class CAnsweringDevice {
public:
    static constexpr int DIOS = 9;

    struct Request {
        std::vector<std::uint8_t> bytes;
        double at; // NowMs when it had arrived whole
    };

    // Starts serving at once. dropAfter: how long each connection lasts (0: until the program
    // ends it).
    explicit CAnsweringDevice(CTestPeer& peer, std::chrono::milliseconds delay = {},
                              std::chrono::milliseconds dropAfter = {});
    ~CAnsweringDevice();
    CAnsweringDevice(const CAnsweringDevice&) = delete;
    CAnsweringDevice& operator=(const CAnsweringDevice&) = delete;

    void SetDio(int dio, int mode, int state);

    std::vector<Request> Requests() const;
    // Forgets the requests noted so far (a long run keeps counts only).
    void ClearRequests();
    // Requests whose bytes begin with prefix.
    std::size_t CountRequests(const std::vector<std::uint8_t>& prefix) const;
    // The most range reads that awaited their answers at one time.
    int MostRangeReadsAwaited() const { return m_nMostAwaited; }
    int Connections() const { return m_nConnections; }
    // Whether a connection is open now.
    bool Connected() const { return m_bConnected; }

private:
    void Serve();
    std::vector<std::uint8_t> Answer(const std::vector<std::uint8_t>& request);

    CTestPeer& m_peer;
    const std::chrono::milliseconds m_delay;
    const std::chrono::milliseconds m_dropAfter;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bConnected{false};
    std::atomic<int> m_nConnections{0};
    std::atomic<int> m_nMostAwaited{0};
    mutable std::mutex m_mutex;
    std::array<std::array<std::uint8_t, 2>, DIOS> m_dios{};
    std::vector<Request> m_requests;
};
