// One client of the simulated device.
#include "tools/simulator/DeviceClient.h"

#include "tools/simulator/DeviceProtocol.h"
#include "tools/simulator/DeviceSimulator.h"
#include "protocol/DioWords.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

using std::chrono::milliseconds;

// A closing client gets this long to end its side before the connection is closed anyway.
constexpr milliseconds CLOSE_DRAIN_TIME(2000);
constexpr std::size_t RECEIVE_BUFFER_SIZE = 4096;
// The client socket's send buffer. Left to itself the system grows it to megabytes, which a
// client reading at 100 KB/s empties too seldom for its progress to show within the time-out.
constexpr int CLIENT_SEND_BUFFER = 64 * 1024;
// Up to this many sends in one run while the socket takes everything: many small frames
// (toggle reports) would otherwise cost a pass each.
constexpr int SENDS_PER_RUN = 64;
// Whole frames that are due together go in one send, up to about this many bytes.
constexpr std::size_t GATHER_BYTES = 64 * 1024;

std::string Seconds(int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", ms / 1000.0);
    return text;
}

const char* KindWord(SimFrameKind kind) {
    switch (kind) {
    case SimFrameKind::Reply:
        return "answer";
    case SimFrameKind::Junk:
        return "junk frame";
    case SimFrameKind::Report:
        return "report";
    case SimFrameKind::Flood:
        break;
    }
    return "flood";
}

} // namespace

CDeviceClient::CDeviceClient(CDeviceSimulator& server, CPortableSocket socket,
                             const std::string& peer, std::uint64_t id, LoopClock::time_point now)
    : m_server(server), m_socket(std::move(socket)), m_nId(id), m_strAddress(peer),
      m_strName("client " + peer), m_shaper(server.Settings().m_nSeed),
      m_vecReportDue(static_cast<std::size_t>(server.m_device.Count()), false) {
    m_socket.SetNonBlocking();
    m_socket.SetNoDelay();
    m_socket.SetSendBuffer(CLIENT_SEND_BUFFER);
    for (const std::unique_ptr<CSimFault>& fault : m_server.m_faults) {
        fault->OnConnect(*this, now);
    }
}

CFaultServer& CDeviceClient::Server() {
    return m_server;
}

LoopInterest CDeviceClient::Interest(LoopClock::time_point now) {
    LoopInterest interest;
    if (m_bClosing) {
        interest.m_bRead = true;
        interest.m_timeDue = m_timeCloseDeadline;
        return interest;
    }
    if (m_bDropRequested || m_bResetRequested || (m_queue.IsEmpty() && !m_bReading)) {
        interest.m_timeDue = now; // ends now
        return interest;
    }
    // A frame that is due but finds the socket full waits for writability, not for a time:
    // the socket says when the client has taken some.
    interest.m_bRead = m_bReading && m_pending.empty();
    interest.m_bWrite = NoteStall(now);
    const auto consider = [&](LoopClock::time_point then) {
        interest.m_timeDue = std::min(interest.m_timeDue, then);
    };
    if (!m_queue.IsEmpty() && m_queue.NextDue() > now) {
        consider(m_queue.NextDue());
    }
    if (m_bStalled) {
        consider(m_timeStalled + milliseconds(m_server.m_settings.m_nClientTimeoutMs));
    }
    if (m_bPeerClosed && !m_queue.IsEmpty()) {
        consider(DrainDeadline());
    }
    // Requests or reports that waited for room, when there is room again.
    if ((!m_pending.empty() && HasRoomForAnswer()) ||
        (m_bReading && m_nReportsDue > 0 && m_queue.Count() < SIM_MAX_QUEUED_FRAMES)) {
        consider(now);
    }
    for (const std::unique_ptr<CSimFault>& fault : m_server.m_faults) {
        consider(fault->ClientDue(*this, now));
    }
    return interest;
}

bool CDeviceClient::Run(bool readable, bool writable, LoopClock::time_point now) {
    if (m_bClosing) {
        return RunClosing(readable, now);
    }
    if (m_bResetRequested) {
        Finish(true, m_strName + ": reset from the control port");
        return false;
    }
    if (m_bDropRequested) {
        // What waits for the client is dropped; it reads the end of the stream next.
        m_queue = COutputQueue();
        m_pending.clear();
        m_bReading = false;
        m_bEnding = false;
        return EndConnection(now);
    }
    if (readable && m_bReading && m_pending.empty()) {
        Receive(now);
    }
    if (writable && !m_bLost) {
        m_bSocketFull = false;
        SendReady(now);
    }
    if (!m_bLost) {
        ReportCoalesced(now);
        ServePending(now);
        for (const std::unique_ptr<CSimFault>& fault : m_server.m_faults) {
            fault->OnClientTime(*this, now);
        }
        // What became ready goes at once, unless the socket was full: then only once it
        // says it takes more (a full socket may take a few bytes now and then, which must not
        // count as the client taking them).
        if (!m_bSocketFull && !m_queue.Ready(now).empty()) {
            SendReady(now);
        }
    }
    if (m_bLost) {
        Finish(false, m_strName + ": disconnected");
        return false;
    }
    if (m_queue.IsEmpty() && !m_bReading) {
        // The client closed its side, or the request limit was reached: all sent.
        return EndConnection(now);
    }
    if (IsOverdue(now)) {
        // What it did not take is thrown away.
        Finish(true, m_strName + ": connection reset");
        m_server.Update([](SimulatorCounters& c) { ++c.m_nClientsDropped; });
        return false;
    }
    return true;
}

void CDeviceClient::CloseForStop() {
    if (!m_bDone) {
        Finish(false, m_strName + ": closed, the simulator stops");
    }
}

void CDeviceClient::Receive(LoopClock::time_point now) {
    std::uint8_t buffer[RECEIVE_BUFFER_SIZE];
    std::size_t received = 0;
    const SocketIo io = m_socket.Receive(buffer, sizeof buffer, received);
    if (io == SocketIo::Done) {
        m_reader.ReadFrames(buffer, received,
                            [&](const DioFrameView& frame) { HandleFrame(frame, now); });
        ServePending(now);
    } else if (io == SocketIo::Closed) {
        m_bPeerClosed = true;
        m_bReading = false;
        m_pending.clear();
        m_timePeerClosed = now;
    } else if (io != SocketIo::WouldBlock) {
        m_server.Log(m_strName + ": connection lost (" +
                     (io == SocketIo::Reset ? "reset by the client" : "receive failed") + ")");
        m_bLost = true;
    }
}

void CDeviceClient::HandleFrame(const DioFrameView& frame, LoopClock::time_point now) {
    if (!m_bReading) {
        return; // past the request limit: nothing more is served
    }
    std::array<std::uint8_t, DIO_FRAME_HEADER_SIZE + 255> bytes;
    bytes[0] = frame.m_header.m_nCode;
    bytes[1] = frame.m_header.m_nFixed1;
    bytes[2] = frame.m_header.m_nFixed2;
    bytes[3] = frame.m_header.m_nLength;
    if (!frame.m_payload.empty()) {
        std::memcpy(bytes.data() + DIO_FRAME_HEADER_SIZE, frame.m_payload.data(),
                    frame.m_payload.size());
    }
    const std::span<const std::uint8_t> whole(bytes.data(), frame.m_header.FrameSize());
    if (m_pending.empty() && HasRoomForAnswer()) {
        ServeRequest(whole, now);
    } else {
        m_pending.emplace_back(whole.begin(), whole.end()); // served once the client has
                                                            // taken some answers
    }
}

bool CDeviceClient::HasRoomForAnswer() const {
    std::size_t frames = 1;
    for (const std::unique_ptr<CSimFault>& fault : m_server.m_faults) {
        frames += fault->FramesBesideAnswer(m_server.m_settings);
    }
    return m_queue.Count() + frames <= SIM_MAX_QUEUED_FRAMES;
}

void CDeviceClient::ServePending(LoopClock::time_point now) {
    while (!m_pending.empty() && m_bReading && HasRoomForAnswer()) {
        const std::vector<std::uint8_t> frame = std::move(m_pending.front());
        m_pending.pop_front();
        ServeRequest(frame, now);
    }
    if (!m_bReading) {
        m_pending.clear();
    }
}

void CDeviceClient::ServeRequest(std::span<const std::uint8_t> frame, LoopClock::time_point now) {
    SimReply reply = m_server.ServeOnDevice(frame);
    m_server.LogDump(m_strName + ": request", false, frame.data(), frame.size());

    SimAnswerPlan plan;
    plan.m_timeDue = now;
    for (const std::unique_ptr<CSimFault>& fault : m_server.m_faults) {
        fault->OnRequest(*this, plan);
    }
    for (SimOutgoing& before : plan.m_vecBefore) {
        before.m_timeDue = plan.m_timeDue;
        Queue(std::move(before));
    }
    SimOutgoing answer;
    answer.m_vecBytes = std::move(reply.m_vecBytes);
    answer.m_strNote = std::move(reply.m_strNote);
    answer.m_kind = SimFrameKind::Reply;
    answer.m_timeDue = plan.m_timeDue;
    Queue(std::move(answer));

    ++m_nRequests;
    if (plan.m_bLast) {
        m_bReading = false;
        m_bEnding = true;
        m_end = plan.m_end;
    }
}

void CDeviceClient::Queue(SimOutgoing frame) {
    for (const std::unique_ptr<CSimFault>& fault : m_server.m_faults) {
        fault->OnFrameOut(*this, frame);
    }
    QueueAsIs(std::move(frame));
}

void CDeviceClient::QueueAsIs(SimOutgoing frame) {
    m_queue.Push(std::move(frame));
    NoteQueueLength();
}

void CDeviceClient::NoteQueueLength() {
    const std::size_t count = m_queue.Count();
    if (count > m_nMostQueued) {
        m_nMostQueued = count;
        m_server.Update([count](SimulatorCounters& c) {
            c.m_nMostQueuedFrames = std::max(c.m_nMostQueuedFrames, count);
        });
    }
}

void CDeviceClient::Report(int dio, DioModeState value, LoopClock::time_point now) {
    if (!m_bReading || m_bDone) {
        return; // it takes nothing more
    }
    const std::size_t index = static_cast<std::size_t>(dio);
    if (m_nReportsDue == 0 && m_queue.Count() < SIM_MAX_QUEUED_FRAMES) {
        PushReport(dio, value, now);
    } else if (!m_vecReportDue[index]) {
        // The queue is full: this input is reported once there is room, with the level it
        // has then.
        m_vecReportDue[index] = true;
        ++m_nReportsDue;
    }
}

void CDeviceClient::ReportCoalesced(LoopClock::time_point now) {
    if (m_nReportsDue == 0 || !m_bReading) {
        return;
    }
    for (std::size_t dio = 0; dio < m_vecReportDue.size(); ++dio) {
        if (m_queue.Count() >= SIM_MAX_QUEUED_FRAMES) {
            break;
        }
        if (m_vecReportDue[dio]) {
            DioModeState value{};
            m_server.ChangeDevice(
                [&](CDioDevice& device) { value = device.Get(static_cast<int>(dio)); });
            PushReport(static_cast<int>(dio), value, now);
            m_vecReportDue[dio] = false;
            --m_nReportsDue;
        }
    }
}

void CDeviceClient::PushReport(int dio, DioModeState value, LoopClock::time_point now) {
    SimOutgoing report;
    report.m_vecBytes = EncodeDioReport(dio, value.mode, value.state);
    report.m_kind = SimFrameKind::Report;
    if (m_server.ShowsDumps()) { // only the dump shows it
        report.m_strNote = "DIO " + std::to_string(dio) + " now " + DioModeWord(value.mode) + ", " +
                           DioStateWord(value.state);
    }
    report.m_timeDue = now;
    Queue(std::move(report));
}

void CDeviceClient::SendReady(LoopClock::time_point now) {
    for (int sends = 0; sends < SENDS_PER_RUN; ++sends) {
        std::span<const std::uint8_t> ready = m_queue.Ready(now);
        if (ready.empty()) {
            return;
        }
        // Whole frames that are due together share one send.
        if (m_queue.GatherWhole(now, GATHER_BYTES, m_vecGathered) > 1) {
            ready = m_vecGathered;
        }
        std::size_t sent = 0;
        const SocketIo io = m_socket.Send(ready.data(), ready.size(), sent);
        if (io == SocketIo::WouldBlock || (io == SocketIo::Done && sent == 0)) {
            m_bSocketFull = true;
            return;
        }
        if (io != SocketIo::Done) {
            m_server.Log(m_strName + ": connection lost (" +
                         (io == SocketIo::Reset ? "reset by the client" : "send failed") + ")");
            m_bLost = true;
            return;
        }
        m_bStalled = false; // the client takes bytes
        Consumed(sent, now);
        if (sent < ready.size()) {
            m_bSocketFull = true;
            return;
        }
    }
}

void CDeviceClient::Consumed(std::size_t count, LoopClock::time_point now) {
    std::uint64_t frames = 0;
    std::uint64_t reports = 0;
    std::uint64_t flooded = 0;
    while (count > 0 && !m_queue.IsEmpty()) {
        const std::size_t sent = std::min(count, m_queue.Ready(now).size());
        if (sent == 0) {
            break; // not expected: nothing of the front frame was ready
        }
        count -= sent;
        const SimOutgoing& front = m_queue.Front();
        const SimFrameKind kind = front.m_kind;
        if (m_queue.IsFrontUnsent() && m_server.ShowsDumps()) {
            std::string header = m_strName + ": " + KindWord(kind);
            if (front.m_vecPieces.size() > 1) {
                header += " in " + std::to_string(front.m_vecPieces.size()) + " pieces";
            }
            if (!front.m_strNote.empty()) {
                header += " (" + front.m_strNote + ")";
            }
            m_server.LogDump(header, true, front.m_vecBytes.data(), front.m_vecBytes.size());
        }
        const bool frameDone = m_queue.Consume(sent, now);
        if (kind == SimFrameKind::Flood) {
            flooded += sent;
        } else if (frameDone) {
            ++frames;
            reports += kind == SimFrameKind::Report ? 1 : 0;
        }
    }
    m_nFloodBytesSent += flooded;
    m_nFramesSent += frames;
    m_server.Update([&](SimulatorCounters& c) {
        c.m_nFloodedBytes += flooded;
        c.m_nFramesSent += frames;
        c.m_nReportsSent += reports;
    });
}

bool CDeviceClient::NoteStall(LoopClock::time_point now) {
    if (m_queue.Ready(now).empty()) {
        m_bStalled = false;
    } else if (!m_bStalled) {
        m_bStalled = true;
        m_timeStalled = now;
    }
    return m_bStalled;
}

bool CDeviceClient::IsOverdue(LoopClock::time_point now) {
    const int timeoutMs = m_server.m_settings.m_nClientTimeoutMs;
    NoteStall(now);
    if (m_bStalled && now - m_timeStalled >= milliseconds(timeoutMs)) {
        m_server.Log(m_strName + ": dropped, it took nothing for " + Seconds(timeoutMs) + " (" +
                     std::to_string(m_queue.Count()) + " frame(s) waiting)");
        return true;
    }
    if (m_bPeerClosed && !m_queue.IsEmpty() && now >= DrainDeadline()) {
        m_server.Log(m_strName + ": dropped, it ended its side and did not take its answers (" +
                     std::to_string(m_queue.Count()) + " frame(s) waiting)");
        return true;
    }
    return false;
}

LoopClock::time_point CDeviceClient::DrainDeadline() const {
    return std::max(m_timePeerClosed, m_queue.Back().m_timeDue) +
           milliseconds(m_server.m_settings.m_nClientTimeoutMs);
}

bool CDeviceClient::EndConnection(LoopClock::time_point now) {
    const std::string requests = std::to_string(m_nRequests) + " request(s)";
    if (m_bEnding && m_end == ConnectionEnd::Reset) {
        Finish(true, m_strName + ": connection reset after " + requests);
        return false;
    }
    // An orderly close: end our side, then let the client end its own (reading and dropping
    // whatever it still sends, so that the close does not turn into a reset).
    m_socket.ShutdownSend();
    m_bClosing = true;
    m_timeCloseDeadline = now + CLOSE_DRAIN_TIME;
    return RunClosing(true, now);
}

bool CDeviceClient::RunClosing(bool readable, LoopClock::time_point now) {
    bool ended = now >= m_timeCloseDeadline;
    if (readable && !ended) {
        std::uint8_t buffer[RECEIVE_BUFFER_SIZE];
        std::size_t received = 0;
        const SocketIo io = m_socket.Receive(buffer, sizeof buffer, received);
        ended = io != SocketIo::Done && io != SocketIo::WouldBlock;
    }
    if (!ended) {
        return true;
    }
    const std::string requests = std::to_string(m_nRequests) + " request(s)";
    Finish(false, m_strName + (m_bDropRequested ? ": closed from the control port"
                               : m_bEnding      ? ": connection closed after " + requests
                                                : ": the client closed the connection"));
    return false;
}

void CDeviceClient::Finish(bool reset, const std::string& line) {
    for (const std::unique_ptr<CSimFault>& fault : m_server.m_faults) {
        fault->OnDisconnect(*this);
    }
    if (reset) {
        m_socket.Reset();
    } else {
        m_socket.Close();
    }
    m_server.Log(line);
    m_bDone = true;
    m_server.Forget(this);
}
