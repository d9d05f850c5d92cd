// One connection of kelvane-cli to a device.
#include "cli/CliSession.h"

#include "connection/ReconnectBackoff.h"
#include "protocol/DioFrame.h"
#include "protocol/DioWords.h"
#include "protocol/LogTime.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ostream>

namespace {

// Bytes shown in an error line; more are cut with "...".
constexpr std::size_t SHOWN_BYTES = 48;
// What the catch-up before a command reads at most: a device that never stops sending does
// not hold the command back for ever.
constexpr std::size_t CATCH_UP_BYTES = 1 << 20;
// The catch-up is left out when a receive emptied the socket less than this long ago, as
// when a command follows the answer to the one before: a frame that arrived meanwhile is no
// older than the request is by the time it reaches the device, and commands in a tight loop
// save a receive call each. (A wait that ends with nothing received does not count: it says
// nothing of what arrived after it.)
constexpr std::chrono::microseconds EMPTY_IS_RECENT{100};

std::string HexBytes(const std::uint8_t* data, std::size_t length) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    const std::size_t shown = std::min(length, SHOWN_BYTES);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) {
            text.push_back(' ');
        }
        text.push_back(DIGITS[data[i] >> 4]);
        text.push_back(DIGITS[data[i] & 0x0F]);
    }
    if (shown < length) {
        text += " ...";
    }
    return text;
}

// "2 s", or "1500 ms" for a time that is not whole seconds.
std::string DelayText(std::chrono::milliseconds delay) {
    return delay.count() % 1000 == 0 ? std::to_string(delay.count() / 1000) + " s"
                                     : std::to_string(delay.count()) + " ms";
}

std::string DioText(int dio, int mode, int state) {
    return "DIO" + std::to_string(dio) + " " + DioModeWord(mode) + " " + DioStateWord(state);
}

// The frame a device reports an input with, as it answers a single read: the DIO, then its
// mode and state.
bool IsReport(const DioFrameView& frame) {
    static const int REPORT_LENGTH =
        DioReplyPayloadLength(*FindDioCommand(DIO_CMD_SINGLE_READ), {});
    const std::span<const std::uint8_t> p = frame.m_payload;
    return frame.m_header.IsAccepted() && frame.m_header.m_nCode == DIO_CMD_SINGLE_READ &&
           p.size() >= static_cast<std::size_t>(REPORT_LENGTH) && IsDioValue(p[1]) &&
           IsDioValue(p[2]);
}

} // namespace

void ClearOutputError() {
    errno = 0;
#ifdef _WIN32
    _doserrno = 0;
#endif
}

int OutputErrorNow() {
#ifdef _WIN32
    // The C library calls a write into a pipe whose reader has gone an invalid argument; the
    // system's own code, which it keeps beside errno, tells (ERROR_BROKEN_PIPE, ERROR_NO_DATA,
    // ERROR_PIPE_NOT_CONNECTED).
    constexpr unsigned long BROKEN_PIPE = 109;
    constexpr unsigned long PIPE_CLOSING = 232;
    constexpr unsigned long PIPE_NOT_CONNECTED = 233;
    if (_doserrno == BROKEN_PIPE || _doserrno == PIPE_CLOSING || _doserrno == PIPE_NOT_CONNECTED) {
        return EPIPE;
    }
#endif
    return errno;
}

CCliSession::CCliSession(const CliArguments& arguments, std::ostream& out, std::ostream& err,
                         const CCliStop<CPortableSocket>* stop)
    : m_arguments(arguments), m_out(out), m_err(err), m_pStop(stop),
      m_pWake(stop != nullptr ? stop->Target() : nullptr) {}

int CCliSession::Connect() {
    ConnectFailure failure = ConnectFailure::None;
    std::string error;
    // The name look-up and the connect are bounded by the connect time-out. A Ctrl+C meanwhile
    // is seen before the first request; a second one ends the program at once (main.cpp).
    m_socket = CPortableSocket::Connect(m_arguments.m_strHost, m_arguments.m_nPort,
                                        m_arguments.m_nConnectTimeoutMs, failure, error);
    if (!m_socket.IsOpen()) {
        m_err << "kelvane-cli: " << error << "\n" << std::flush;
        return CLI_CANNOT_CONNECT;
    }
    m_connectedAt = Clock::now();
    return CLI_OK;
}

int CCliSession::Fail(int status, const CliCommand& command, const std::string& text) {
    m_err << "kelvane-cli: " << command.m_strText << ": " << text << "\n" << std::flush;
    return status;
}

std::string CCliSession::GoneText(GoneWhen when) const {
    const bool before = when == GoneWhen::Before;
    if (m_gone != Gone::Closed && m_gone != Gone::Reset) {
        return before ? "receiving had failed" : "receiving failed";
    }
    return std::string(before ? "the device had " : "the device ") +
           (m_gone == Gone::Closed ? "closed" : "reset") + " the connection" +
           (when == GoneWhen::During ? " before answering" : "");
}

int CCliSession::FailGone(const CliCommand& command, GoneWhen when) {
    return LoseConnection(command, GoneText(when));
}

int CCliSession::LoseConnection(const CliCommand& command, const std::string& text) {
    if (!m_arguments.m_bReconnect || m_nRound == 0) {
        return Fail(CLI_CONNECTION_LOST, command, text);
    }
    const std::string line =
        command.m_strText + ": " + text + "; round " + std::to_string(m_nRound) + " cut short";
    if (m_arguments.m_nRepeat == 0 || m_nRound < m_arguments.m_nRepeat) {
        StartReconnecting(line, Clock::time_point::max());
    } else {
        m_err << "kelvane-cli: " << line << "\n" << std::flush;
    }
    return CLI_CONNECTION_LOST;
}

void CCliSession::StartReconnecting(const std::string& what, Clock::time_point until) {
    // Closed at once: a device that serves one client at a time can then take the next.
    m_socket.Close();
    m_bReconnecting = true;
    m_nFailedAttempts = 0;
    m_timeNextAttempt = Clock::now() + ReconnectDelay(0);
    m_err << "kelvane-cli: " << what << NextAttemptText(until) << "\n" << std::flush;
}

std::string CCliSession::NextAttemptText(Clock::time_point until) const {
    if (m_timeNextAttempt >= until) {
        return "; the watch ends before the next attempt";
    }
    return "; connecting again in " + DelayText(ReconnectDelay(m_nFailedAttempts));
}

bool CCliSession::WaitUnlessStopped(Clock::time_point until) {
    for (;;) {
        if (m_bInterrupted || (m_pStop != nullptr && m_pStop->IsRequested())) {
            m_bInterrupted = true;
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            return true;
        }
        SocketWait wake{m_pWake, m_pWake != nullptr, false};
        if (WaitForSockets(std::span<SocketWait>(&wake, 1),
                           static_cast<int>(std::min<long long>(left.count(), 1 << 30))) > 0) {
            m_pWake->DrainWake();
            m_bInterrupted = true;
        }
    }
}

bool CCliSession::Reconnect(Clock::time_point until) {
    for (;;) {
        if (m_timeNextAttempt >= until) {
            WaitUnlessStopped(until); // a watch lasts its time, connected or not
            return false;
        }
        if (!WaitUnlessStopped(m_timeNextAttempt)) {
            return false;
        }
        // An attempt does not outlast the watch it is made for.
        long long timeoutMs = m_arguments.m_nConnectTimeoutMs;
        if (until != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            timeoutMs = std::clamp<long long>(left.count(), 1, timeoutMs);
        }
        ConnectFailure failure = ConnectFailure::None;
        std::string error;
        CPortableSocket socket =
            CPortableSocket::Connect(m_arguments.m_strHost, m_arguments.m_nPort,
                                     static_cast<int>(timeoutMs), failure, error, m_pWake);
        if (socket.IsOpen()) {
            // A fresh start: nothing of the old connection is left, a frame begun on it least.
            m_socket = std::move(socket);
            m_reader = CDioFrameReader();
            m_bOpenFrameIsOld = false;
            m_timeEmpty = {};
            m_gone = Gone::No;
            m_bReconnecting = false;
            return true;
        }
        if (failure == ConnectFailure::Interrupted) {
            m_pWake->DrainWake();
            m_bInterrupted = true;
            return false;
        }
        ++m_nFailedAttempts;
        m_timeNextAttempt = Clock::now() + ReconnectDelay(m_nFailedAttempts);
        m_err << "kelvane-cli: " << error << NextAttemptText(until) << "\n" << std::flush;
    }
}

void CCliSession::Dump(TrafficDirection direction, const std::uint8_t* data, std::size_t length,
                       std::chrono::system_clock::time_point when) {
    m_strDump.clear();
    const std::string prefix = m_arguments.m_bTimestamps ? FormatLocalLogTime(when) : "";
    AppendTrafficDump(m_strDump, direction, data, static_cast<int>(length), {.linePrefix = prefix});
    // The log's lines end in "\r\n"; a console wants '\n' alone.
    m_strDump.erase(std::remove(m_strDump.begin(), m_strDump.end(), '\r'), m_strDump.end());
    m_err << m_strDump << std::flush;
}

void CCliSession::Emit(const std::string& line) {
    if (m_bOutputFailed) {
        return;
    }
    ClearOutputError();
    m_out.write(line.data(), static_cast<std::streamsize>(line.size()));
    m_out.flush();
    if (!m_out) {
        m_nOutputError = OutputErrorNow();
        m_bOutputFailed = true;
    }
}

void CCliSession::PrintDio(int dio, int mode, int state, int round, double seconds) {
    if (m_arguments.m_bQuiet) {
        return;
    }
    if (!m_arguments.m_bJson) {
        // One write of a line built in place: a poll of many rounds prints many lines.
        m_strLine.assign("DIO");
        m_strLine += std::to_string(dio);
        m_strLine += ' ';
        m_strLine += DioModeWord(mode);
        m_strLine += ' ';
        m_strLine += DioStateWord(state);
        m_strLine += '\n';
        Emit(m_strLine);
        return;
    }
    nlohmann::ordered_json line;
    line["dio"] = dio;
    line["mode"] = DioModeKey(mode);
    line["state"] = DioStateKey(state);
    if (seconds >= 0.0) {
        line["t"] = seconds;
    }
    if (round > 0) {
        line["round"] = round;
    }
    Emit(line.dump() + "\n");
}

void CCliSession::PrintWritten(int dio, int round) {
    if (m_arguments.m_bQuiet) {
        return;
    }
    if (!m_arguments.m_bJson) {
        Emit("DIO" + std::to_string(dio) + " written\n");
        return;
    }
    nlohmann::ordered_json line;
    line["dio"] = dio;
    line["written"] = true;
    if (round > 0) {
        line["round"] = round;
    }
    Emit(line.dump() + "\n");
}

int CCliSession::Send(const CliCommand& command, std::span<const std::uint8_t> request) {
    m_vecSeen.clear();
    // Read only when a send has to wait (a full send buffer), which is seldom.
    Clock::time_point deadline{};
    std::size_t offset = 0;
    while (offset < request.size()) {
        std::size_t sent = 0;
        const SocketIo io = m_socket.Send(request.data() + offset, request.size() - offset, sent);
        if (io == SocketIo::Done) {
            if (m_arguments.m_bVerbose) {
                Dump(TrafficDirection::Sent, request.data() + offset, sent,
                     std::chrono::system_clock::now());
            }
            offset += sent;
            continue;
        }
        if (io != SocketIo::WouldBlock) {
            m_gone = io == SocketIo::Reset ? Gone::Reset : Gone::Failed;
            return LoseConnection(command, io == SocketIo::Reset ? "the device reset the connection"
                                                                 : "the request could not be sent");
        }
        if (deadline == Clock::time_point{}) {
            deadline = Clock::now() + std::chrono::milliseconds(m_arguments.m_nTimeoutMs);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        SocketWait waits[2] = {{&m_socket, false, true}, {m_pWake, m_pWake != nullptr, false}};
        if (left.count() > 0 && WaitForSockets(waits, static_cast<int>(left.count())) > 0 &&
            waits[1].m_bReadable) {
            m_pWake->DrainWake();
            m_bInterrupted = true;
            return CLI_INTERRUPTED;
        }
        if (left.count() <= 0 || !waits[0].m_bWritable) {
            return Fail(CLI_NO_ANSWER, command,
                        "the device took no request within " +
                            std::to_string(m_arguments.m_nTimeoutMs) + " ms");
        }
    }
    return CLI_OK;
}

CCliSession::Receive CCliSession::ReceiveSome(Clock::time_point deadline, bool stopOnInterrupt) {
    for (;;) {
        if (m_gone != Gone::No) {
            return Receive::Gone;
        }
        int waitMs = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return Receive::TimedOut;
            }
            waitMs = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
        }
        SocketWait waits[2] = {{&m_socket, true, false}, {m_pWake, m_pWake != nullptr, false}};
        if (WaitForSockets(waits, waitMs) < 0) {
            m_gone = Gone::Failed;
            return Receive::Gone;
        }
        if (waits[1].m_bReadable) {
            m_pWake->DrainWake();
            m_bInterrupted = true;
            if (stopOnInterrupt) {
                return Receive::Interrupted;
            }
        }
        if (!waits[0].m_bReadable) {
            continue; // the time is checked at the top
        }
        const Receive result = TakeChunk();
        if (result != Receive::TimedOut) {
            return result;
        }
    }
}

CCliSession::Receive CCliSession::TakeChunk() {
    std::size_t received = 0;
    switch (m_socket.Receive(m_chunk.data(), m_chunk.size(), received)) {
    case SocketIo::Done:
        if (received < m_chunk.size()) {
            m_timeEmpty = Clock::now(); // it took all there was
        }
        break;
    case SocketIo::WouldBlock:
        m_timeEmpty = Clock::now();
        return Receive::TimedOut;
    case SocketIo::Closed:
        m_gone = Gone::Closed;
        return Receive::Gone;
    case SocketIo::Reset:
        m_gone = Gone::Reset;
        return Receive::Gone;
    case SocketIo::Failed:
        m_gone = Gone::Failed;
        return Receive::Gone;
    }
    if (m_arguments.m_bVerbose) {
        const auto when = m_arguments.m_bTimestamps ? std::chrono::system_clock::now()
                                                    : std::chrono::system_clock::time_point{};
        Dump(TrafficDirection::Received, m_chunk.data(), received, when);
    }
    if (m_taker == Taker::Answer && m_vecSeen.size() <= SHOWN_BYTES) {
        m_vecSeen.insert(m_vecSeen.end(), m_chunk.begin(), m_chunk.begin() + received);
    }
    m_reader.ReadFrames(m_chunk.data(), received,
                        [this](const DioFrameView& frame) { OnFrame(frame); });
    return Receive::Data;
}

void CCliSession::OnFrame(const DioFrameView& frame) {
    if (m_bOpenFrameIsOld) {
        m_bOpenFrameIsOld = false; // it began before the request went out
        return;
    }
    switch (m_taker) {
    case Taker::Nobody:
        return;
    case Taker::Watch:
        if (IsReport(frame)) {
            const auto since =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_connectedAt);
            PrintDio(frame.m_payload[0], frame.m_payload[1], frame.m_payload[2], m_nWatchRound,
                     static_cast<double>(since.count()) / 1000.0);
        }
        return;
    case Taker::Answer:
        break;
    }
    std::string why;
    switch (m_awaited.Judge(frame, why)) {
    case CliAnswerMatch::Skip:
        return;
    case CliAnswerMatch::Answer:
        std::copy(frame.m_payload.begin(), frame.m_payload.end(), m_answer.begin());
        m_nAnswerLength = frame.m_payload.size();
        m_answerState = AnswerState::Found;
        break;
    case CliAnswerMatch::Unusable: {
        const std::vector<std::uint8_t> bytes = DioFrameBytes(frame);
        m_strUnusable =
            "unusable answer " + HexBytes(bytes.data(), bytes.size()) + " (" + why + ")";
        m_answerState = AnswerState::Unusable;
        break;
    }
    }
    // Whatever follows in the same chunk came after the answer: nobody's.
    m_taker = Taker::Nobody;
}

CCliSession::Receive CCliSession::CatchUp() {
    if (m_bInterrupted || (m_pStop != nullptr && m_pStop->IsRequested())) {
        m_bInterrupted = true;
        return Receive::Interrupted;
    }
    m_taker = Taker::Nobody;
    if (Clock::now() - m_timeEmpty < EMPTY_IS_RECENT) {
        return Receive::TimedOut;
    }
    for (std::size_t taken = 0; taken < CATCH_UP_BYTES; taken += m_chunk.size()) {
        if (m_gone != Gone::No) {
            return Receive::Gone;
        }
        const Receive result = TakeChunk();
        if (result != Receive::Data) {
            return result;
        }
    }
    return Receive::TimedOut;
}

int CCliSession::Exchange(const CliCommand& command, std::span<const std::uint8_t> request) {
    switch (CatchUp()) {
    case Receive::Interrupted:
        return CLI_INTERRUPTED;
    case Receive::Gone:
        return FailGone(command, GoneWhen::Before);
    default:
        break;
    }
    m_awaited = CCliAnswer(request);
    m_answerState = AnswerState::Waiting;
    m_bOpenFrameIsOld = m_reader.PendingBytes() > 0;
    m_taker = Taker::Answer;
    int status = Send(command, request);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(m_arguments.m_nTimeoutMs);
    while (status == CLI_OK && m_answerState == AnswerState::Waiting) {
        switch (ReceiveSome(deadline, true)) {
        case Receive::Data:
            break;
        case Receive::Interrupted:
            status = CLI_INTERRUPTED;
            break;
        case Receive::TimedOut:
            status = Fail(CLI_NO_ANSWER, command,
                          "no answer within " + std::to_string(m_arguments.m_nTimeoutMs) + " ms (" +
                              (m_vecSeen.empty()
                                   ? std::string("nothing received")
                                   : "received " + HexBytes(m_vecSeen.data(), m_vecSeen.size())) +
                              ")");
            break;
        case Receive::Gone:
            status = FailGone(command, GoneWhen::During);
            break;
        }
    }
    m_taker = Taker::Nobody;
    if (status == CLI_OK && m_answerState == AnswerState::Unusable) {
        status = Fail(CLI_NO_ANSWER, command, m_strUnusable);
    }
    return status;
}

int CCliSession::ReadBack(const CliCommand& command, std::vector<DioModeState>& values) {
    values.clear();
    int status = CLI_OK;
    // A range is read with a range request even when it holds one DIO.
    if (command.m_kind == CliCommandKind::Read || command.m_kind == CliCommandKind::Write) {
        const SingleReadFrame request = EncodeSingleRead(command.m_nFirst);
        status = Exchange(command, request);
    } else {
        const MultiReadFrame request = EncodeMultiRead(command.m_nFirst, command.m_nLast);
        status = Exchange(command, request);
    }
    if (status == CLI_OK) {
        const std::span<const std::uint8_t> pairs =
            m_awaited.Pairs({m_answer.data(), m_nAnswerLength});
        for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
            values.push_back({pairs[i], pairs[i + 1]});
        }
    }
    return status;
}

int CCliSession::RunCommand(const CliCommand& command, int round, bool last) {
    m_nRound = round;
    const bool watch = command.m_kind == CliCommandKind::Watch;
    // A watch before this one ended while connecting again (a watch goes on with it itself).
    if (m_bReconnecting && !watch && !Reconnect(Clock::time_point::max())) {
        return CLI_INTERRUPTED;
    }
    if (m_gone != Gone::No && !(watch && m_arguments.m_bReconnect)) {
        return FailGone(command, GoneWhen::Before);
    }
    std::vector<DioModeState>& values = m_vecValues;
    int status = CLI_OK;
    switch (command.m_kind) {
    case CliCommandKind::Read:
    case CliCommandKind::ReadRange:
        status = ReadBack(command, values);
        for (std::size_t i = 0; status == CLI_OK && i < values.size(); ++i) {
            PrintDio(command.m_nFirst + static_cast<int>(i), values[i].mode, values[i].state,
                     round);
        }
        break;
    case CliCommandKind::Write:
    case CliCommandKind::WriteRange: {
        std::vector<std::uint8_t> request;
        if (command.m_kind == CliCommandKind::Write) {
            const DioModeState& value = command.m_vecValues.front();
            const SingleWriteFrame frame =
                EncodeSingleWrite(command.m_nFirst, value.mode, value.state);
            request.assign(frame.begin(), frame.end());
        } else {
            request = EncodeMultiWrite(command.m_nFirst, command.m_nLast, command.m_vecValues);
        }
        status = Exchange(command, request);
        if (status == CLI_OK && m_arguments.m_bVerify) {
            status = ReadBack(command, values);
            for (std::size_t i = 0; status == CLI_OK && i < values.size(); ++i) {
                const DioModeState& wanted = command.m_vecValues[i];
                if (values[i].mode != wanted.mode || values[i].state != wanted.state) {
                    const int dio = command.m_nFirst + static_cast<int>(i);
                    status = Fail(CLI_NO_ANSWER, command,
                                  "read back " + DioText(dio, values[i].mode, values[i].state) +
                                      ", not " + DioModeWord(wanted.mode) + " " +
                                      DioStateWord(wanted.state));
                }
            }
        }
        for (int dio = command.m_nFirst; status == CLI_OK && dio <= command.m_nLast; ++dio) {
            PrintWritten(dio, round);
        }
        break;
    }
    case CliCommandKind::Watch:
        status = Watch(command, round, last);
        break;
    }
    return status == CLI_OK && m_bOutputFailed ? CLI_CANNOT_WRITE : status;
}

int CCliSession::Watch(const CliCommand& command, int round, bool last) {
    const Clock::time_point deadline =
        command.m_nWatchMs < 0 ? Clock::time_point::max()
                               : Clock::now() + std::chrono::milliseconds(command.m_nWatchMs);
    // The run's last watch has no use for a connection after its time; a command after it
    // needs one in any case.
    const Clock::time_point reconnectUntil = last ? deadline : Clock::time_point::max();
    m_nWatchRound = round;
    for (;;) {
        // What came before the watch is not shown; a device that is gone, or a Ctrl+C, ends
        // the watch before it starts.
        if (CatchUp() == Receive::TimedOut) {
            m_taker = Taker::Watch;
            while (!m_bOutputFailed && ReceiveSome(deadline, true) == Receive::Data) {
            }
            m_taker = Taker::Nobody;
        }
        // The time is up, the device has gone, or Ctrl+C: the watch is over, unless it is to
        // go on on a new connection. A command after it finds out whether the connection
        // still stands.
        if (m_gone == Gone::No || !m_arguments.m_bReconnect || m_bInterrupted || m_bOutputFailed) {
            return CLI_OK;
        }
        if (!m_bReconnecting) {
            StartReconnecting(command.m_strText + ": " + GoneText(GoneWhen::Now), reconnectUntil);
        }
        if (!Reconnect(reconnectUntil) || Clock::now() >= deadline) {
            return CLI_OK;
        }
    }
}

bool CCliSession::Pause(int ms) {
    if (m_bInterrupted) {
        return false;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    // Whatever arrives meanwhile is taken as it comes, and dropped.
    m_taker = Taker::Nobody;
    for (;;) {
        switch (ReceiveSome(deadline, true)) {
        case Receive::Data:
            continue;
        case Receive::Interrupted:
            return false;
        default:
            // Time is up, or the device has gone, which the next command tells, or which is
            // mended first.
            if (m_gone == Gone::No || !m_arguments.m_bReconnect) {
                return true;
            }
            if (!m_bReconnecting) {
                StartReconnecting(GoneText(GoneWhen::Now), Clock::time_point::max());
            }
            return Reconnect(Clock::time_point::max());
        }
    }
}

void CCliSession::Close() {
    if (!m_socket.IsOpen()) {
        return;
    }
    m_socket.ShutdownSend();
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::min(m_arguments.m_nTimeoutMs, 1000));
    m_taker = Taker::Nobody;
    while (ReceiveSome(deadline, false) == Receive::Data) {
    }
    m_socket.Close();
}
