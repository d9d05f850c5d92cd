// The simulated device as a TCP server.
#include "tools/simulator/DeviceSimulator.h"

#include "tools/simulator/DeviceProtocol.h"
#include "tools/simulator/FloodGenerator.h"
#include "tools/simulator/RequestFramer.h"
#include "tools/simulator/TrafficShaper.h"
#include "protocol/DioWords.h"
#include "protocol/TrafficDump.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <ostream>

namespace {

using std::chrono::milliseconds;

// A closing client gets this long to end its side before the connection is closed anyway.
constexpr milliseconds CLOSE_DRAIN_TIME(2000);
// Flood frames go to the socket in batches of about this size.
constexpr std::size_t FLOOD_BATCH_BYTES = 64 * 1024;
constexpr std::size_t RECEIVE_BUFFER_SIZE = 4096;
// The client socket's send buffer. Left to itself the system grows it to megabytes, which a
// client reading at 100 KB/s empties too seldom for its progress to show within the time-out.
constexpr int CLIENT_SEND_BUFFER = 64 * 1024;
constexpr int SENDS_PER_WAKE = 64;

int MillisecondsFrom(SimClock::time_point now, SimClock::time_point then) {
    if (then <= now) {
        return 0;
    }
    // Rounded up, so a wait never ends just before the event and spins.
    const auto wait = std::chrono::ceil<milliseconds>(then - now).count();
    return static_cast<int>(std::min<decltype(wait)>(wait, 24 * 3600 * 1000));
}

std::string Seconds(int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", ms / 1000.0);
    return text;
}

std::string DescribeModes(const SimulatorOptions& options) {
    std::vector<std::string> modes;
    if (options.m_nReplyDelayMs > 0) {
        modes.push_back("answers after " + std::to_string(options.m_nReplyDelayMs) + " ms");
    }
    if (options.m_split == ReplySplit::Bytes) {
        modes.push_back("frames sent byte by byte");
    } else if (options.m_split == ReplySplit::Random) {
        modes.push_back("frames sent in random pieces (seed " + std::to_string(options.m_nSeed) +
                        ")");
    }
    if (options.m_split != ReplySplit::Whole && options.m_nPieceGapMs > 0) {
        modes.push_back(std::to_string(options.m_nPieceGapMs) + " ms between pieces");
    }
    if (options.m_nJunkFrames > 0) {
        modes.push_back(std::to_string(options.m_nJunkFrames) +
                        " junk frame(s) before each answer");
    }
    if (options.m_nEndAfterRequests > 0) {
        modes.push_back(std::string(options.m_end == ConnectionEnd::Reset ? "reset" : "close") +
                        " after " + std::to_string(options.m_nEndAfterRequests) + " request(s)");
    }
    if (options.m_nFloodSeconds > 0) {
        modes.push_back("flood of " + std::to_string(options.m_nFloodSeconds) + " s");
    }
    if (options.m_nFloodBytes > 0) {
        modes.push_back("flood of " + std::to_string(options.m_nFloodBytes) + " bytes");
    }
    if (!options.m_vecToggleDios.empty()) {
        std::string dios;
        for (const int dio : options.m_vecToggleDios) {
            dios += (dios.empty() ? "" : ",") + std::to_string(dio);
        }
        modes.push_back("input DIO(s) " + dios + " toggle every " +
                        std::to_string(options.m_nToggleMs) + " ms");
    }
    std::string text;
    for (const std::string& mode : modes) {
        text += (text.empty() ? "" : "; ") + mode;
    }
    return text;
}

} // namespace

// Everything about the one client being served.
struct CDeviceSimulator::ClientSession {
    ClientSession(CPortableSocket socket, const std::string& peer, const SimulatorOptions& options)
        : m_socket(std::move(socket)), m_strName("client " + peer),
          m_shaper(options.m_split, options.m_nSeed), m_queue(milliseconds(options.m_nPieceGapMs)),
          m_vecReportDue(static_cast<std::size_t>(options.m_nDioCount), false) {}

    CPortableSocket m_socket;
    std::string m_strName; // "client a.b.c.d:port", the start of its console lines
    CRequestFramer m_framer;
    CTrafficShaper m_shaper;
    COutputQueue m_queue;
    std::vector<std::uint8_t> m_vecGathered; // whole frames that go in one send
    std::size_t m_nMostQueued = 0;
    // Requests received but not answered yet, because their answers did not fit the queue.
    // Nothing more is read while any wait.
    std::deque<SimFrame> m_pending;
    // Inputs whose report found the queue full; each is reported with its level at the time
    // there is room again, so only the latest state of each is sent.
    std::vector<bool> m_vecReportDue;
    std::size_t m_nReportsDue = 0;
    std::uint64_t m_nRequests = 0;
    bool m_bReading = true;     // requests are still taken
    bool m_bEnding = false;     // the request limit was reached; end once the queue is sent
    bool m_bPeerClosed = false; // the client ended its sending side
    bool m_bLost = false;       // reset or failed: nothing more can be sent
    bool m_bDropped = false;    // it did not take what was sent in time: reset it

    // Since when a frame has been ready while the socket took nothing (m_bStalled).
    bool m_bStalled = false;
    SimClock::time_point m_timeStalled{};
    SimClock::time_point m_timePeerClosed{};

    bool m_bFloodActive = false;     // a flood started and its total is not printed yet
    bool m_bFloodGenerating = false; // more flood frames are still to be made
    SimClock::time_point m_timeFloodStart{};
    SimClock::time_point m_timeFloodEnd{};
    std::uint64_t m_nFloodGenerated = 0;
    std::uint64_t m_nFloodSent = 0;
    CFloodGenerator m_flood;
};

CDeviceSimulator::CDeviceSimulator(SimulatorOptions options, std::ostream* log)
    : m_options(std::move(options)), m_pLog(log), m_device(m_options.m_nDioCount) {}

CDeviceSimulator::~CDeviceSimulator() {
    Stop();
}

bool CDeviceSimulator::Start(std::string& error) {
    if (IsRunning()) {
        error = "the simulator is running already";
        return false;
    }
    if (!m_socketLibrary.IsReady()) {
        error = "the socket library could not be started";
        return false;
    }
    m_listenSocket = CPortableSocket::Listen(m_options.m_strAddress, m_options.m_nPort, error);
    if (!m_listenSocket.IsOpen()) {
        return false;
    }
    m_wakeSocket = CPortableSocket::OpenWake(error);
    if (!m_wakeSocket.IsOpen()) {
        m_listenSocket.Close();
        return false;
    }
    m_nPort = m_listenSocket.LocalPort();
    m_bStop = false;
    m_timeNextToggle = SimClock::now() + milliseconds(m_options.m_nToggleMs);

    Log("kelvane-sim: listening on " + m_options.m_strAddress + ":" + std::to_string(m_nPort) +
        ", " + std::to_string(m_device.Count()) + " DIOs");
    const std::string modes = DescribeModes(m_options);
    if (!modes.empty()) {
        Log("kelvane-sim: " + modes);
    }
    m_thread = std::thread(&CDeviceSimulator::Serve, this);
    return true;
}

void CDeviceSimulator::Stop() {
    if (m_thread.joinable()) {
        m_bStop = true;
        m_wakeSocket.Wake();
        m_thread.join();
    }
    m_listenSocket.Close();
    m_wakeSocket.Close();
}

std::vector<std::vector<std::uint8_t>> CDeviceSimulator::ReceivedRequests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vecRequests;
}

std::vector<DioModeState> CDeviceSimulator::DioTable() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_device.Table();
}

void CDeviceSimulator::SetDio(int dio, int mode, int state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_device.IsValidDio(dio) && (mode == 0 || mode == 1) && (state == 0 || state == 1)) {
        m_device.Set(dio, mode, state);
    }
}

SimulatorCounters CDeviceSimulator::Counters() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counters;
}

bool CDeviceSimulator::WaitUntil(const std::function<bool(const SimulatorCounters&)>& condition,
                                 milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cvChanged.wait_for(lock, timeout, [&] { return condition(m_counters); });
}

bool CDeviceSimulator::WaitForRequests(std::size_t count, milliseconds timeout) const {
    return WaitUntil([count](const SimulatorCounters& c) { return c.m_nRequests >= count; },
                     timeout);
}

void CDeviceSimulator::Update(const std::function<void(SimulatorCounters&)>& change) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change(m_counters);
    }
    m_cvChanged.notify_all();
}

void CDeviceSimulator::Log(const std::string& line) {
    if (m_pLog != nullptr) {
        *m_pLog << line << '\n' << std::flush;
    }
}

bool CDeviceSimulator::ShowsDumps() const {
    return m_pLog != nullptr && !m_options.m_bQuiet;
}

void CDeviceSimulator::LogDump(const std::string& header, bool sent, const std::uint8_t* data,
                               std::size_t length) {
    if (!ShowsDumps()) {
        return;
    }
    std::string text = header + '\n';
    AppendTrafficDump(text, sent ? TrafficDirection::Sent : TrafficDirection::Received, data,
                      static_cast<int>(length));
    // The dump's lines end in "\r\n" as in the program's log; a console wants '\n' alone.
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    *m_pLog << text << std::flush;
}

void CDeviceSimulator::Serve() {
    while (!m_bStop) {
        const SimClock::time_point now = SimClock::now();
        RunToggles(now, nullptr);
        SocketWait waits[2];
        waits[0].m_pSocket = &m_listenSocket;
        waits[0].m_bWantRead = true;
        waits[1].m_pSocket = &m_wakeSocket;
        waits[1].m_bWantRead = true;
        const int ready = WaitForSockets(waits, MillisecondsUntilNextEvent(nullptr, now));
        if (m_bStop) {
            break;
        }
        if (ready < 0) {
            // Not expected; wait a little rather than spin, and carry on.
            std::this_thread::sleep_for(milliseconds(100));
            continue;
        }
        if (waits[0].m_bReadable) {
            std::string peer;
            CPortableSocket client = m_listenSocket.Accept(peer);
            if (client.IsOpen()) {
                ServeClient(std::move(client), peer);
            }
        }
    }
}

void CDeviceSimulator::ServeClient(CPortableSocket client, const std::string& peer) {
    client.SetNonBlocking();
    client.SetNoDelay();
    client.SetSendBuffer(CLIENT_SEND_BUFFER);
    ClientSession session(std::move(client), peer, m_options);
    Log(session.m_strName + ": connected");
    Update([](SimulatorCounters& c) {
        ++c.m_nConnections;
        c.m_bClientConnected = true;
    });

    if (m_options.Floods()) {
        session.m_bFloodActive = true;
        session.m_bFloodGenerating = true;
        session.m_timeFloodStart = SimClock::now();
        session.m_timeFloodEnd =
            session.m_timeFloodStart + std::chrono::seconds(m_options.m_nFloodSeconds);
        Log(session.m_strName + ": flooding");
    }

    std::uint8_t buffer[RECEIVE_BUFFER_SIZE];
    while (!m_bStop) {
        const SimClock::time_point now = SimClock::now();
        RunToggles(now, &session);
        ReportCoalesced(session, now);
        ServePending(session);
        FeedFlood(session, now);
        if (session.m_queue.IsEmpty() && !session.m_bReading) {
            break; // the client closed its side, or the request limit was reached: all sent
        }
        if (IsOverdue(session, now)) {
            session.m_bDropped = true;
            break;
        }

        // A frame that is due but finds the socket full waits for writability, not for a
        // time: the socket says when the client has taken some.
        SocketWait waits[2];
        waits[0].m_pSocket = &session.m_socket;
        waits[0].m_bWantRead = session.m_bReading && session.m_pending.empty();
        waits[0].m_bWantWrite = !session.m_queue.Ready(now).empty();
        waits[1].m_pSocket = &m_wakeSocket;
        waits[1].m_bWantRead = true;
        if (WaitForSockets(waits, MillisecondsUntilNextEvent(&session, now)) < 0) {
            Log(session.m_strName + ": waiting on the connection failed");
            session.m_bLost = true;
            break;
        }
        if (waits[1].m_bReadable || m_bStop) {
            break;
        }
        if (waits[0].m_bReadable) {
            std::size_t received = 0;
            const SocketIo io = session.m_socket.Receive(buffer, sizeof buffer, received);
            if (io == SocketIo::Done) {
                HandleReceived(session, buffer, received);
            } else if (io == SocketIo::Closed) {
                session.m_bPeerClosed = true;
                session.m_bReading = false;
                session.m_timePeerClosed = SimClock::now();
            } else if (io != SocketIo::WouldBlock) {
                Log(session.m_strName + ": connection lost (" +
                    (io == SocketIo::Reset ? "reset by the client" : "receive failed") + ")");
                session.m_bLost = true;
                break;
            }
        }
        if (waits[0].m_bWritable && !SendReady(session)) {
            break;
        }
    }
    FinishClient(session);
}

bool CDeviceSimulator::IsOverdue(ClientSession& session, SimClock::time_point now) {
    const milliseconds timeout(m_options.m_nClientTimeoutMs);
    if (session.m_queue.Ready(now).empty()) {
        session.m_bStalled = false;
    } else if (!session.m_bStalled) {
        session.m_bStalled = true;
        session.m_timeStalled = now;
    }
    if (session.m_bStalled && now - session.m_timeStalled >= timeout) {
        Log(session.m_strName + ": dropped, it took nothing for " +
            Seconds(m_options.m_nClientTimeoutMs) + " (" + std::to_string(session.m_queue.Count()) +
            " frame(s) waiting)");
        return true;
    }
    if (session.m_bPeerClosed && !session.m_queue.IsEmpty() && now >= DrainDeadline(session)) {
        Log(session.m_strName + ": dropped, it ended its side and did not take its answers (" +
            std::to_string(session.m_queue.Count()) + " frame(s) waiting)");
        return true;
    }
    return false;
}

SimClock::time_point CDeviceSimulator::DrainDeadline(const ClientSession& session) const {
    return std::max(session.m_timePeerClosed, session.m_queue.Back().m_timeDue) +
           milliseconds(m_options.m_nClientTimeoutMs);
}

void CDeviceSimulator::NoteQueueLength(ClientSession& session) {
    const std::size_t count = session.m_queue.Count();
    if (count > session.m_nMostQueued) {
        session.m_nMostQueued = count;
        Update([count](SimulatorCounters& c) {
            c.m_nMostQueuedFrames = std::max(c.m_nMostQueuedFrames, count);
        });
    }
}

void CDeviceSimulator::HandleReceived(ClientSession& session, const std::uint8_t* data,
                                      std::size_t length) {
    std::vector<SimFrame> frames;
    session.m_framer.Feed(data, length, frames);
    for (SimFrame& frame : frames) {
        session.m_pending.push_back(std::move(frame));
    }
    ServePending(session);
}

void CDeviceSimulator::ServePending(ClientSession& session) {
    const std::size_t framesPerAnswer = 1 + static_cast<std::size_t>(m_options.m_nJunkFrames);
    bool served = false;
    while (!session.m_pending.empty()) {
        if (!session.m_bReading) {
            session.m_pending.clear(); // past the request limit: nothing more is served
            break;
        }
        if (session.m_queue.Count() + framesPerAnswer > SIM_MAX_QUEUED_FRAMES) {
            break; // served once the client has taken some answers
        }
        ServeRequest(session, session.m_pending.front());
        session.m_pending.pop_front();
        served = true;
    }
    if (served) {
        m_cvChanged.notify_all(); // once for all: a waiter then runs once, not per request
    }
    NoteQueueLength(session);
}

void CDeviceSimulator::ServeRequest(ClientSession& session, const SimFrame& frame) {
    const SimClock::time_point due = SimClock::now() + milliseconds(m_options.m_nReplyDelayMs);
    SimReply reply;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_vecRequests.size() < SIM_MAX_RECORDED_REQUESTS) {
            m_vecRequests.push_back(frame);
        }
        reply = HandleDioRequest(m_device, frame);
        ++m_counters.m_nRequests;
        if (reply.m_nStatus != SIM_STATUS_OK) {
            ++m_counters.m_nErrorReplies;
        }
    }
    LogDump(session.m_strName + ": request", false, frame.data(), frame.size());

    for (int i = 0; i < m_options.m_nJunkFrames; ++i) {
        SimOutgoing junk;
        junk.m_vecBytes = session.m_shaper.MakeJunkFrame();
        junk.m_vecPieces = session.m_shaper.Cut(junk.m_vecBytes.size());
        junk.m_kind = SimFrameKind::Junk;
        junk.m_timeDue = due;
        session.m_queue.Push(std::move(junk));
    }
    SimOutgoing answer;
    answer.m_vecPieces = session.m_shaper.Cut(reply.m_vecBytes.size());
    answer.m_vecBytes = std::move(reply.m_vecBytes);
    answer.m_strNote = std::move(reply.m_strNote);
    answer.m_kind = SimFrameKind::Reply;
    answer.m_timeDue = due;
    session.m_queue.Push(std::move(answer));

    ++session.m_nRequests;
    if (m_options.m_nEndAfterRequests > 0 &&
        session.m_nRequests >= static_cast<std::uint64_t>(m_options.m_nEndAfterRequests)) {
        session.m_bReading = false;
        session.m_bEnding = true;
    }
}

bool CDeviceSimulator::SendReady(ClientSession& session) {
    // Up to this many sends while the socket takes everything: many small frames (toggle
    // reports) would otherwise cost a wait each.
    for (int sends = 0; sends < SENDS_PER_WAKE; ++sends) {
        const SimClock::time_point now = SimClock::now();
        std::span<const std::uint8_t> ready = session.m_queue.Ready(now);
        if (ready.empty()) {
            return true;
        }
        // Whole frames that are due together share one send.
        if (session.m_queue.GatherWhole(now, FLOOD_BATCH_BYTES, session.m_vecGathered) > 1) {
            ready = session.m_vecGathered;
        }
        std::size_t sent = 0;
        const SocketIo io = session.m_socket.Send(ready.data(), ready.size(), sent);
        if (io == SocketIo::WouldBlock || (io == SocketIo::Done && sent == 0)) {
            return true;
        }
        if (io != SocketIo::Done) {
            Log(session.m_strName + ": connection lost (" +
                (io == SocketIo::Reset ? "reset by the client" : "send failed") + ")");
            session.m_bLost = true;
            return false;
        }
        session.m_bStalled = false; // the client takes bytes
        Consumed(session, sent, now);
        if (sent < ready.size()) {
            return true;
        }
    }
    return true;
}

void CDeviceSimulator::Consumed(ClientSession& session, std::size_t count,
                                SimClock::time_point now) {
    std::uint64_t frames = 0;
    std::uint64_t reports = 0;
    std::uint64_t flooded = 0;
    while (count > 0 && !session.m_queue.IsEmpty()) {
        const std::size_t sent = std::min(count, session.m_queue.Ready(now).size());
        if (sent == 0) {
            break; // not expected: nothing of the front frame was ready
        }
        count -= sent;
        const bool starting = session.m_queue.IsFrontUnsent();
        const SimOutgoing& front = session.m_queue.Front();
        const SimFrameKind kind = front.m_kind;
        if (starting && ShowsDumps()) {
            std::string header = session.m_strName + ": ";
            switch (kind) {
            case SimFrameKind::Reply:
                header += "answer";
                break;
            case SimFrameKind::Junk:
                header += "junk frame";
                break;
            case SimFrameKind::Report:
                header += "report";
                break;
            case SimFrameKind::Flood:
                header += "flood";
                break;
            }
            if (front.m_vecPieces.size() > 1) {
                header += " in " + std::to_string(front.m_vecPieces.size()) + " pieces";
            }
            if (!front.m_strNote.empty()) {
                header += " (" + front.m_strNote + ")";
            }
            LogDump(header, true, front.m_vecBytes.data(), front.m_vecBytes.size());
        }

        const bool frameDone = session.m_queue.Consume(sent, now);
        if (kind == SimFrameKind::Flood) {
            flooded += sent;
        } else if (frameDone) {
            ++frames;
            reports += kind == SimFrameKind::Report ? 1 : 0;
        }
    }
    session.m_nFloodSent += flooded;
    Update([&](SimulatorCounters& c) {
        c.m_nFloodedBytes += flooded;
        c.m_nFramesSent += frames;
        c.m_nReportsSent += reports;
    });
}

void CDeviceSimulator::FeedFlood(ClientSession& session, SimClock::time_point now) {
    if (!session.m_bFloodActive) {
        return;
    }
    if (session.m_bFloodGenerating) {
        const bool timeUp = m_options.m_nFloodSeconds > 0 && now >= session.m_timeFloodEnd;
        const bool bytesUp =
            m_options.m_nFloodBytes > 0 &&
            session.m_nFloodGenerated + CFloodGenerator::FRAME_SIZE > m_options.m_nFloodBytes;
        if (timeUp || bytesUp || !session.m_bReading) {
            session.m_bFloodGenerating = false;
        } else if (session.m_queue.IsEmpty()) {
            std::size_t batch = FLOOD_BATCH_BYTES;
            if (m_options.m_nFloodBytes > 0) {
                batch = static_cast<std::size_t>(std::min<std::uint64_t>(
                    batch, m_options.m_nFloodBytes - session.m_nFloodGenerated));
            }
            SimOutgoing flood;
            flood.m_kind = SimFrameKind::Flood;
            flood.m_timeDue = now;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                session.m_nFloodGenerated +=
                    session.m_flood.Generate(m_device, batch, flood.m_vecBytes);
            }
            session.m_queue.Push(std::move(flood));
        }
    }
    if (!session.m_bFloodGenerating && session.m_nFloodSent == session.m_nFloodGenerated) {
        EndFlood(session, true);
    }
}

void CDeviceSimulator::EndFlood(ClientSession& session, bool complete) {
    if (!session.m_bFloodActive) {
        return;
    }
    session.m_bFloodActive = false;
    session.m_bFloodGenerating = false;
    const double seconds =
        std::chrono::duration<double>(SimClock::now() - session.m_timeFloodStart).count();
    const double megabytes = static_cast<double>(session.m_nFloodSent) / 1e6;
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.2f s, %.1f MB/s", seconds,
                  seconds > 0 ? megabytes / seconds : 0.0);
    Log(session.m_strName + (complete ? ": flooded " : ": flood cut short after ") +
        std::to_string(session.m_nFloodSent) + " bytes (" + rate + ")");
    if (complete) {
        Update([](SimulatorCounters& c) { ++c.m_nFloodsDone; });
    }
}

void CDeviceSimulator::RunToggles(SimClock::time_point now, ClientSession* session) {
    if (m_options.m_vecToggleDios.empty() || now < m_timeNextToggle) {
        return;
    }
    const milliseconds period(m_options.m_nToggleMs);
    m_timeNextToggle += period;
    if (m_timeNextToggle <= now) {
        m_timeNextToggle = now + period; // fell behind (a long pause): no burst of catching up
    }

    std::vector<std::pair<int, DioModeState>> changed;
    changed.reserve(m_options.m_vecToggleDios.size());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const int dio : m_options.m_vecToggleDios) {
            if (m_device.ToggleInput(dio)) {
                changed.emplace_back(dio, m_device.Get(dio));
            }
        }
    }
    if (session == nullptr || !session->m_bReading) {
        return; // nobody to tell
    }
    for (const auto& [dio, value] : changed) {
        const std::size_t index = static_cast<std::size_t>(dio);
        if (session->m_nReportsDue == 0 && session->m_queue.Count() < SIM_MAX_QUEUED_FRAMES) {
            PushReport(*session, dio, value, now);
        } else if (!session->m_vecReportDue[index]) {
            // The queue is full: this input is reported once there is room, with the level
            // it has then.
            session->m_vecReportDue[index] = true;
            ++session->m_nReportsDue;
        }
    }
    NoteQueueLength(*session);
}

void CDeviceSimulator::ReportCoalesced(ClientSession& session, SimClock::time_point now) {
    if (session.m_nReportsDue == 0 || !session.m_bReading) {
        return;
    }
    for (std::size_t dio = 0; dio < session.m_vecReportDue.size(); ++dio) {
        if (session.m_queue.Count() >= SIM_MAX_QUEUED_FRAMES) {
            break;
        }
        if (session.m_vecReportDue[dio]) {
            DioModeState value{};
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                value = m_device.Get(static_cast<int>(dio));
            }
            PushReport(session, static_cast<int>(dio), value, now);
            session.m_vecReportDue[dio] = false;
            --session.m_nReportsDue;
        }
    }
    NoteQueueLength(session);
}

void CDeviceSimulator::PushReport(ClientSession& session, int dio, DioModeState value,
                                  SimClock::time_point now) {
    SimOutgoing report;
    report.m_vecBytes = EncodeDioReport(dio, value.mode, value.state);
    report.m_vecPieces = session.m_shaper.Cut(report.m_vecBytes.size());
    report.m_kind = SimFrameKind::Report;
    if (ShowsDumps()) { // only the dump shows it
        report.m_strNote = "DIO " + std::to_string(dio) + " input now " + DioStateWord(value.state);
    }
    report.m_timeDue = now;
    session.m_queue.Push(std::move(report));
}

int CDeviceSimulator::MillisecondsUntilNextEvent(const ClientSession* session,
                                                 SimClock::time_point now) const {
    int wait = -1;
    const auto consider = [&](SimClock::time_point then) {
        const int ms = MillisecondsFrom(now, then);
        wait = wait < 0 ? ms : std::min(wait, ms);
    };
    if (!m_options.m_vecToggleDios.empty()) {
        consider(m_timeNextToggle);
    }
    if (session != nullptr) {
        // A frame that is due already waits for the socket to become writable instead.
        if (!session->m_queue.IsEmpty() && session->m_queue.NextDue() > now) {
            consider(session->m_queue.NextDue());
        }
        if (session->m_bFloodGenerating && m_options.m_nFloodSeconds > 0) {
            consider(session->m_timeFloodEnd);
        }
        if (session->m_bStalled) {
            consider(session->m_timeStalled + milliseconds(m_options.m_nClientTimeoutMs));
        }
        if (session->m_bPeerClosed && !session->m_queue.IsEmpty()) {
            consider(DrainDeadline(*session));
        }
    }
    return wait;
}

void CDeviceSimulator::FinishClient(ClientSession& session) {
    if (session.m_bFloodActive) {
        EndFlood(session, false);
    }
    const std::string requests = std::to_string(session.m_nRequests) + " request(s)";
    if (session.m_bDropped) {
        // What it did not take is thrown away; the next client is served.
        session.m_socket.Reset();
        Log(session.m_strName + ": connection reset");
        Update([](SimulatorCounters& c) { ++c.m_nClientsDropped; });
    } else if (m_bStop || session.m_bLost) {
        session.m_socket.Close();
        Log(session.m_strName +
            (m_bStop && !session.m_bLost ? ": closed, the simulator stops" : ": disconnected"));
    } else if (session.m_bEnding && m_options.m_end == ConnectionEnd::Reset) {
        session.m_socket.Reset();
        Log(session.m_strName + ": connection reset after " + requests);
    } else {
        // An orderly close: end our side, then let the client end its own (reading and
        // dropping whatever it still sends, so that the close does not turn into a reset).
        session.m_socket.ShutdownSend();
        const SimClock::time_point deadline = SimClock::now() + CLOSE_DRAIN_TIME;
        std::uint8_t buffer[RECEIVE_BUFFER_SIZE];
        while (!m_bStop && !session.m_bPeerClosed) {
            const SimClock::time_point now = SimClock::now();
            if (now >= deadline) {
                break;
            }
            SocketWait waits[2];
            waits[0].m_pSocket = &session.m_socket;
            waits[0].m_bWantRead = true;
            waits[1].m_pSocket = &m_wakeSocket;
            waits[1].m_bWantRead = true;
            if (WaitForSockets(waits, MillisecondsFrom(now, deadline)) < 0 ||
                waits[1].m_bReadable) {
                break;
            }
            if (waits[0].m_bReadable) {
                std::size_t received = 0;
                const SocketIo io = session.m_socket.Receive(buffer, sizeof buffer, received);
                if (io != SocketIo::Done && io != SocketIo::WouldBlock) {
                    break;
                }
            }
        }
        session.m_socket.Close();
        Log(session.m_strName + (session.m_bEnding ? ": connection closed after " + requests
                                                   : ": the client closed the connection"));
    }
    Update([](SimulatorCounters& c) {
        ++c.m_nDisconnections;
        c.m_bClientConnected = false;
    });
}
