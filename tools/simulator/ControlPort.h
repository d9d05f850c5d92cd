// One client of the simulator's control port: it reads lines, has each answered with one line
// of JSON, and is held to the same rules as a device client, so that it cannot slow the device
// side: a bounded share of work a run, nothing more read while its answers pile up, and reset
// when it takes nothing of them for the client time-out.
#pragma once

#include "tools/simulator/ControlCommand.h"
#include "tools/simulator/SocketLoop.h"

#include <string>

class CDeviceSimulator;

class CControlClient final : public CLoopWatch {
public:
    // Answers waiting beyond this many bytes stop the reading of further lines.
    static constexpr std::size_t MAX_PENDING_ANSWERS = 64 * 1024;

    CControlClient(CDeviceSimulator& server, CPortableSocket socket, const std::string& peer);

    const CPortableSocket* Socket() const override { return &m_socket; }
    LoopInterest Interest(LoopClock::time_point now) override;
    bool Run(bool readable, bool writable, LoopClock::time_point now) override;

private:
    bool MayAnswer() const;
    // Sends what waits; false when the connection is lost.
    bool SendAnswers(LoopClock::time_point now);
    bool Finish(bool reset, const std::string& line);

    CDeviceSimulator& m_server;
    CPortableSocket m_socket;
    const std::string m_strName; // "control a.b.c.d:port"
    CControlLineReader m_reader;
    std::string m_strOut; // answers not sent yet, from m_nOutStart
    std::size_t m_nOutStart = 0;
    bool m_bPeerClosed = false;
    // Since when answers have waited while the socket took nothing.
    bool m_bStalled = false;
    LoopClock::time_point m_timeStalled{};
};
