// One connection of kelvane-cli to a device.
#include "cli/CliSession.h"

#include "protocol/DioFrame.h"
#include "protocol/DioReplyParser.h"
#include "protocol/DioWords.h"
#include "protocol/LogTime.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ostream>

namespace {

// Bytes shown in an error line; more are cut with "...".
constexpr std::size_t SHOWN_BYTES = 48;

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

std::string DioText(int dio, int mode, int state) {
    return "DIO" + std::to_string(dio) + " " + DioModeWord(mode) + " " + DioStateWord(state);
}

} // namespace

CCliSession::CCliSession(const CliArguments& arguments, std::ostream& out, std::ostream& err,
                         CPortableSocket* wake)
    : m_arguments(arguments), m_out(out), m_err(err), m_pWake(wake) {
    m_vecReceived.reserve(m_chunk.size() * 2);
}

int CCliSession::Connect() {
    ConnectFailure failure = ConnectFailure::None;
    std::string error;
    // The name look-up and the connect are bounded by the connect time-out. A Ctrl+C meanwhile
    // is seen by the first wait after them; a second one ends the program at once (main.cpp).
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

void CCliSession::Dump(TrafficDirection direction, const std::uint8_t* data, std::size_t length,
                       std::chrono::system_clock::time_point when) {
    m_strDump.clear();
    const std::string prefix = m_arguments.m_bTimestamps ? FormatLocalLogTime(when) : "";
    AppendTrafficDump(m_strDump, direction, data, static_cast<int>(length), {.linePrefix = prefix});
    // The log's lines end in "\r\n"; a console wants '\n' alone.
    m_strDump.erase(std::remove(m_strDump.begin(), m_strDump.end(), '\r'), m_strDump.end());
    m_err << m_strDump << std::flush;
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
        m_out.write(m_strLine.data(), static_cast<std::streamsize>(m_strLine.size()));
        m_out.flush();
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
    m_out << line.dump() << "\n" << std::flush;
}

void CCliSession::PrintWritten(int dio, int round) {
    if (m_arguments.m_bQuiet) {
        return;
    }
    if (!m_arguments.m_bJson) {
        m_out << "DIO" << dio << " written\n" << std::flush;
        return;
    }
    nlohmann::ordered_json line;
    line["dio"] = dio;
    line["written"] = true;
    if (round > 0) {
        line["round"] = round;
    }
    m_out << line.dump() << "\n" << std::flush;
}

int CCliSession::Send(const CliCommand& command, const std::uint8_t* data, std::size_t length) {
    m_vecSeen.clear();
    // Read only when a send has to wait (a full send buffer), which is seldom.
    Clock::time_point deadline{};
    std::size_t offset = 0;
    while (offset < length) {
        std::size_t sent = 0;
        const SocketIo io = m_socket.Send(data + offset, length - offset, sent);
        if (io == SocketIo::Done) {
            if (m_arguments.m_bVerbose) {
                Dump(TrafficDirection::Sent, data + offset, sent, std::chrono::system_clock::now());
            }
            offset += sent;
            continue;
        }
        if (io != SocketIo::WouldBlock) {
            return Fail(CLI_CONNECTION_LOST, command,
                        io == SocketIo::Reset ? "the device reset the connection"
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
        int waitMs = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return Receive::TimedOut;
            }
            waitMs = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
        }
        SocketWait waits[2] = {{&m_socket, true, false}, {m_pWake, m_pWake != nullptr, false}};
        const int ready = WaitForSockets(waits, waitMs);
        if (ready < 0) {
            return Receive::Failed;
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
        if (m_nOffset > 0) {
            // What is left is at most the start of one frame: a steady stream (a flood under
            // watch) never grows the buffer.
            m_vecReceived.erase(m_vecReceived.begin(),
                                m_vecReceived.begin() + static_cast<std::ptrdiff_t>(m_nOffset));
            m_nOffset = 0;
        }
        std::size_t received = 0;
        const SocketIo io = m_socket.Receive(m_chunk.data(), m_chunk.size(), received);
        const auto when = m_arguments.m_bTimestamps ? std::chrono::system_clock::now()
                                                    : std::chrono::system_clock::time_point{};
        switch (io) {
        case SocketIo::Done:
            if (m_arguments.m_bVerbose) {
                Dump(TrafficDirection::Received, m_chunk.data(), received, when);
            }
            m_vecReceived.insert(m_vecReceived.end(), m_chunk.begin(), m_chunk.begin() + received);
            if (m_vecSeen.size() <= SHOWN_BYTES) {
                m_vecSeen.insert(m_vecSeen.end(), m_chunk.begin(), m_chunk.begin() + received);
            }
            return Receive::Data;
        case SocketIo::WouldBlock:
            continue;
        case SocketIo::Closed:
            return Receive::Closed;
        case SocketIo::Reset:
            return Receive::Reset;
        default:
            return Receive::Failed;
        }
    }
}

bool CCliSession::NextFrame(Frame& frame) {
    const std::size_t available = m_vecReceived.size() - m_nOffset;
    if (available < DIO_FRAME_HEADER_SIZE) {
        return false;
    }
    const std::uint8_t* p = m_vecReceived.data() + m_nOffset;
    const std::size_t length = DIO_FRAME_HEADER_SIZE + std::size_t{p[3]};
    if (available < length) {
        return false;
    }
    m_nOffset += length;
    frame.m_pBytes = p;
    frame.m_nLength = length;
    return true;
}

template <class TMatch>
int CCliSession::Exchange(const CliCommand& command, const std::uint8_t* data, std::size_t length,
                          TMatch match, Frame& answer) {
    if (const int status = Send(command, data, length); status != CLI_OK) {
        return status;
    }
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(m_arguments.m_nTimeoutMs);
    for (;;) {
        Frame frame;
        while (NextFrame(frame)) {
            // The frames the reply parser skips, and those it takes with no effect, are no
            // answer to anything.
            if (!IsDioCommandCode(frame.Code()) || frame.m_pBytes[1] != DIO_FRAME_FIXED1 ||
                frame.m_pBytes[2] != DIO_FRAME_FIXED2 || frame.PayloadLength() == 0) {
                continue;
            }
            std::string why;
            switch (match(frame, why)) {
            case Match::Skip:
                break;
            case Match::Answer:
                answer = frame;
                return CLI_OK;
            case Match::Unusable:
                return Fail(CLI_NO_ANSWER, command,
                            "unusable answer " + HexBytes(frame.m_pBytes, frame.m_nLength) + " (" +
                                why + ")");
            }
        }
        switch (ReceiveSome(deadline, true)) {
        case Receive::Data:
            break;
        case Receive::Interrupted:
            return CLI_INTERRUPTED;
        case Receive::TimedOut:
            return Fail(CLI_NO_ANSWER, command,
                        "no answer within " + std::to_string(m_arguments.m_nTimeoutMs) + " ms (" +
                            (m_vecSeen.empty()
                                 ? std::string("nothing received")
                                 : "received " + HexBytes(m_vecSeen.data(), m_vecSeen.size())) +
                            ")");
        case Receive::Closed:
            return Fail(CLI_CONNECTION_LOST, command,
                        "the device closed the connection before answering");
        case Receive::Reset:
            return Fail(CLI_CONNECTION_LOST, command,
                        "the device reset the connection before answering");
        case Receive::Failed:
            return Fail(CLI_CONNECTION_LOST, command, "receiving failed");
        }
    }
}

int CCliSession::ReadBack(const CliCommand& command, std::vector<DioModeState>& values) {
    values.clear();
    const int first = command.m_nFirst;
    const int last = command.m_nLast;
    Frame answer;
    // A range is read with a range request even when it holds one DIO.
    if (command.m_kind == CliCommandKind::Read || command.m_kind == CliCommandKind::Write) {
        const SingleReadFrame request = EncodeSingleRead(first);
        const int status = Exchange(
            command, request.data(), request.size(),
            [first](const Frame& frame, std::string& why) {
                if (frame.Code() != DIO_CMD_SINGLE_READ) {
                    return Match::Skip;
                }
                const std::uint8_t* p = frame.Payload();
                if (frame.PayloadLength() < 3) {
                    why = "no mode and state";
                    return Match::Unusable;
                }
                if (p[0] != first) {
                    return Match::Skip; // a report of another DIO
                }
                if (!IsDioValue(p[1]) || !IsDioValue(p[2])) {
                    why = "mode or state not 0 or 1";
                    return Match::Unusable;
                }
                return Match::Answer;
            },
            answer);
        if (status == CLI_OK) {
            values.push_back({answer.Payload()[1], answer.Payload()[2]});
        }
        return status;
    }
    const std::size_t count = static_cast<std::size_t>(last - first + 1);
    const MultiReadFrame request = EncodeMultiRead(first, last);
    const int status = Exchange(
        command, request.data(), request.size(),
        [count](const Frame& frame, std::string& why) {
            if (frame.Code() != DIO_CMD_MULTI_READ) {
                return Match::Skip;
            }
            if (frame.PayloadLength() != 2 * count) {
                why = std::to_string(frame.PayloadLength()) + " payload bytes, not " +
                      std::to_string(2 * count);
                return Match::Unusable;
            }
            for (std::size_t i = 0; i < 2 * count; ++i) {
                if (!IsDioValue(frame.Payload()[i])) {
                    why = "mode or state not 0 or 1";
                    return Match::Unusable;
                }
            }
            return Match::Answer;
        },
        answer);
    if (status == CLI_OK) {
        for (std::size_t i = 0; i < count; ++i) {
            values.push_back({answer.Payload()[2 * i], answer.Payload()[2 * i + 1]});
        }
    }
    return status;
}

int CCliSession::RunCommand(const CliCommand& command, int round) {
    std::vector<DioModeState>& values = m_vecValues;
    switch (command.m_kind) {
    case CliCommandKind::Read:
    case CliCommandKind::ReadRange: {
        const int status = ReadBack(command, values);
        if (status != CLI_OK) {
            return status;
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            PrintDio(command.m_nFirst + static_cast<int>(i), values[i].mode, values[i].state,
                     round);
        }
        return CLI_OK;
    }
    case CliCommandKind::Write:
    case CliCommandKind::WriteRange: {
        const bool single = command.m_kind == CliCommandKind::Write;
        std::vector<std::uint8_t> request;
        if (single) {
            const DioModeState& value = command.m_vecValues.front();
            const SingleWriteFrame frame =
                EncodeSingleWrite(command.m_nFirst, value.mode, value.state);
            request.assign(frame.begin(), frame.end());
        } else {
            request = EncodeMultiWrite(command.m_nFirst, command.m_nLast, command.m_vecValues);
        }
        const std::uint8_t code = single ? DIO_CMD_SINGLE_WRITE : DIO_CMD_MULTI_WRITE;
        Frame answer;
        int status = Exchange(
            command, request.data(), request.size(),
            [code](const Frame& frame, std::string& why) {
                if (frame.Code() != code) {
                    return Match::Skip;
                }
                if (frame.Payload()[0] != 0) {
                    why =
                        "the device refused the write with status " + HexBytes(frame.Payload(), 1);
                    return Match::Unusable;
                }
                return Match::Answer;
            },
            answer);
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
        if (status != CLI_OK) {
            return status;
        }
        for (int dio = command.m_nFirst; dio <= command.m_nLast; ++dio) {
            PrintWritten(dio, round);
        }
        return CLI_OK;
    }
    case CliCommandKind::Watch:
        return Watch(command, round);
    }
    return CLI_OK;
}

int CCliSession::Watch(const CliCommand& command, int round) {
    const Clock::time_point deadline =
        command.m_nWatchMs < 0 ? Clock::time_point::max()
                               : Clock::now() + std::chrono::milliseconds(command.m_nWatchMs);
    for (;;) {
        Frame frame;
        while (NextFrame(frame)) {
            const std::uint8_t* p = frame.Payload();
            if (frame.Code() == DIO_CMD_SINGLE_READ && frame.m_pBytes[1] == DIO_FRAME_FIXED1 &&
                frame.m_pBytes[2] == DIO_FRAME_FIXED2 && frame.PayloadLength() >= 3 &&
                IsDioValue(p[1]) && IsDioValue(p[2])) {
                const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(
                    Clock::now() - m_connectedAt);
                PrintDio(p[0], p[1], p[2], round, static_cast<double>(since.count()) / 1000.0);
            }
        }
        switch (ReceiveSome(deadline, true)) {
        case Receive::Data:
            break;
        case Receive::Failed:
            return Fail(CLI_CONNECTION_LOST, command, "receiving failed");
        default:
            // The time is up, the device has gone, or Ctrl+C: the watch is over. A command
            // after it finds out whether the connection still stands.
            return CLI_OK;
        }
    }
}

bool CCliSession::Pause(int ms) {
    if (m_bInterrupted) {
        return false;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    // Whatever arrives meanwhile is read (and dumped), and taken as frames when the next
    // command waits.
    for (;;) {
        switch (ReceiveSome(deadline, true)) {
        case Receive::Data:
            continue;
        case Receive::Interrupted:
            return false;
        default:
            // Time is up; a connection that ended is the next command's business.
            return true;
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
    while (ReceiveSome(deadline, false) == Receive::Data) {
        m_nOffset = m_vecReceived.size();
    }
    m_socket.Close();
}
