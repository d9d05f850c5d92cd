// A device that floods: on a CTestPeer's connection it streams valid single-read replies for
// the first rows as fast as the socket takes them, reads the program's requests meanwhile
// (noting when each arrived whole), and answers each single read for another row in the
// middle of its flood, alternating the values so that every answer changes that row.
#pragma once

#include "tests/win32/TestPeer.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class CFloodingDevice {
public:
    // The send buffer a flooding peer should have, as a device's.
    static constexpr int SEND_BUFFER = 64 * 1024;

    // Floods replies for rows 0 to floodRows - 1. bytesPerSecond 0: as fast as it goes.
    CFloodingDevice(CTestPeer& peer, int floodRows, double bytesPerSecond = 0);
    ~CFloodingDevice();

    // bytesPerSecond 0: as fast as it goes. Between floods only.
    void SetRate(double bytesPerSecond) { m_bytesPerSecond = bytesPerSecond; }
    void StartFlood();
    void StopFlood();
    // Starts reading and answering requests (also while not flooding).
    void StartAnswering();

    // Stream byte at offset, while no answer was put in between.
    std::uint8_t StreamByte(std::uint64_t offset) const;
    std::uint64_t BytesFlooded() const { return m_nFlooded; }
    // How many whole requests have arrived, when the n-th did (NowMs), and whether the
    // program has shut its sending side (and when).
    std::size_t Requests() const;
    double RequestArrivedAt(std::size_t n) const;
    double EndOfStreamAt() const { return m_endOfStreamAt; }
    // The values the answer to the n-th single read (counted from 0) carries.
    static int AnswerValue(std::size_t n) { return static_cast<int>((n + 1) % 2); }

private:
    void Flood();
    void Answer();

    CTestPeer& m_peer;
    const int m_nFloodRows;
    double m_bytesPerSecond;
    std::thread m_flood;
    std::thread m_answer;
    std::atomic<bool> m_bFlooding{false};
    std::atomic<bool> m_bStop{false};
    std::atomic<std::uint64_t> m_nFlooded{0};
    std::atomic<double> m_endOfStreamAt{0};
    mutable std::mutex m_mutex;
    std::vector<double> m_requestTimes;
    std::vector<std::vector<std::uint8_t>> m_pendingAnswers; // sent between two flood blocks
    std::size_t m_nReads = 0;
};
