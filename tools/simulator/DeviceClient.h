// One client of the simulated device, served by the simulator's loop: its requests, its queue
// of frames, and the protections every client has (waiting, not spinning; a bounded queue
// with coalesced reports; the half-close rule; dropped when it takes nothing for the client
// time-out), so that it never holds up another.
#pragma once

#include "protocol/DioFrameReader.h"
#include "tools/simulator/OutputQueue.h"
#include "tools/simulator/SimFault.h"
#include "tools/simulator/SocketLoop.h"

#include <deque>
#include <string>
#include <vector>

class CDeviceSimulator;

class CDeviceClient final : public CLoopWatch, private CFaultClient {
public:
    CDeviceClient(CDeviceSimulator& server, CPortableSocket socket, const std::string& peer,
                  std::uint64_t id, LoopClock::time_point now);

    std::uint64_t Id() const { return m_nId; }
    const std::string& Address() const { return m_strAddress; }
    std::uint64_t FramesSent() const { return m_nFramesSent; }
    std::size_t QueuedFrames() const { return m_queue.Count(); }
    std::uint64_t RequestCount() const { return m_nRequests; }

    // Reports the DIO's mode and state to the client as the device reports an input that
    // changed, if it still takes requests (coalesced while its queue is full).
    void Report(int dio, DioModeState value, LoopClock::time_point now);
    // From the control port: close in order at once (what waits is dropped), or reset. The
    // client acts on it in its next run.
    void RequestDrop() { m_bDropRequested = true; }
    void RequestReset() { m_bResetRequested = true; }
    // The simulator stops: closes at once.
    void CloseForStop();

    // CLoopWatch
    const CPortableSocket* Socket() const override { return &m_socket; }
    LoopInterest Interest(LoopClock::time_point now) override;
    bool Run(bool readable, bool writable, LoopClock::time_point now) override;

private:
    // CFaultClient
    CFaultServer& Server() override;
    const std::string& Name() const override { return m_strName; }
    CTrafficShaper& Shaper() override { return m_shaper; }
    std::uint64_t Requests() const override { return m_nRequests; }
    bool IsReading() const override { return m_bReading; }
    bool IsQueueEmpty() const override { return m_queue.IsEmpty(); }
    void QueueAsIs(SimOutgoing frame) override;
    std::uint64_t FloodBytesSent() const override { return m_nFloodBytesSent; }

    void Receive(LoopClock::time_point now);
    void HandleFrame(const DioFrameView& frame, LoopClock::time_point now);
    // Answers the requests received as long as their answers fit the queue.
    void ServePending(LoopClock::time_point now);
    bool HasRoomForAnswer() const;
    void ServeRequest(std::span<const std::uint8_t> frame, LoopClock::time_point now);
    // A frame through the faults' hooks into the queue.
    void Queue(SimOutgoing frame);
    void PushReport(int dio, DioModeState value, LoopClock::time_point now);
    // Queues the reports that found the queue full, as far as there is room now.
    void ReportCoalesced(LoopClock::time_point now);
    // Sends what is ready while the socket takes it; m_bLost when the connection is lost.
    void SendReady(LoopClock::time_point now);
    // Records that count bytes from the front of the queue went out: prints each frame as
    // it starts and counts each one done.
    void Consumed(std::size_t count, LoopClock::time_point now);
    void NoteQueueLength();
    // Whether a frame is ready to go; the client stalls from the first moment one is ready
    // until the socket takes a byte of it.
    bool NoteStall(LoopClock::time_point now);
    // True (with a console line) when the client is to be dropped: it took nothing of a frame
    // that was ready for the client time-out, or it ended its side and has not taken its
    // answers the time-out after the last was due.
    bool IsOverdue(LoopClock::time_point now);
    LoopClock::time_point DrainDeadline() const;
    // Ends the connection once everything is sent and nothing more is read: false when the
    // client is done, true while it drains an orderly close.
    bool EndConnection(LoopClock::time_point now);
    bool RunClosing(bool readable, LoopClock::time_point now);
    // Closes (or resets) the socket, prints line and tells the faults and the server.
    void Finish(bool reset, const std::string& line);

    CDeviceSimulator& m_server;
    CPortableSocket m_socket;
    const std::uint64_t m_nId;
    const std::string m_strAddress;
    const std::string m_strName; // "client a.b.c.d:port", the start of its console lines
    CDioFrameReader m_reader;
    CTrafficShaper m_shaper;
    COutputQueue m_queue;
    std::vector<std::uint8_t> m_vecGathered; // whole frames that go in one send
    std::size_t m_nMostQueued = 0;
    // Requests received but not answered yet, because their answers did not fit the queue.
    // Nothing more is read while any wait.
    std::deque<std::vector<std::uint8_t>> m_pending;
    // Inputs whose report found the queue full; each is reported with its level at the time
    // there is room again, so only the latest state of each is sent.
    std::vector<bool> m_vecReportDue;
    std::size_t m_nReportsDue = 0;
    std::uint64_t m_nRequests = 0;
    std::uint64_t m_nFramesSent = 0;
    std::uint64_t m_nFloodBytesSent = 0;

    bool m_bReading = true; // requests are still taken
    bool m_bEnding = false; // the request limit was reached; end once the queue is sent
    ConnectionEnd m_end = ConnectionEnd::Close;
    bool m_bPeerClosed = false; // the client ended its sending side
    bool m_bLost = false;       // reset or failed: nothing more can be sent
    bool m_bDropRequested = false;
    bool m_bResetRequested = false;
    bool m_bSocketFull = false; // the last send found no room; the socket says when it has
    bool m_bClosing = false;    // our side is shut; waiting for the client to end its own
    bool m_bDone = false;
    LoopClock::time_point m_timeCloseDeadline{};

    // Since when a frame has been ready while the socket took nothing (m_bStalled).
    bool m_bStalled = false;
    LoopClock::time_point m_timeStalled{};
    LoopClock::time_point m_timePeerClosed{};
};
