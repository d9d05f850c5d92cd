// One connection of kelvane-cli to a device: sends each command's request, waits for its
// answer (skipping reports and frames that are no answer to it), and prints the result.
#pragma once

#include "cli/CliArguments.h"
#include "connection/PortableSocket.h"
#include "protocol/TrafficDump.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

class CCliSession {
public:
    // wake, when given, is a wake socket (CPortableSocket::OpenWake) that a Ctrl+C makes
    // readable; it must outlive the session.
    CCliSession(const CliArguments& arguments, std::ostream& out, std::ostream& err,
                CPortableSocket* wake = nullptr);

    // CLI_OK, CLI_CANNOT_CONNECT with its line on err, or CLI_INTERRUPTED by Ctrl+C.
    int Connect();
    // Runs one command; round is 0 without --repeat. CLI_OK, the failure's status with its
    // line on err, or CLI_INTERRUPTED (no line) when Ctrl+C ended the wait for the answer. A
    // watch ended by Ctrl+C gives CLI_OK.
    int RunCommand(const CliCommand& command, int round);
    // Waits ms between two rounds; false when Ctrl+C ended the wait.
    bool Pause(int ms);
    // The orderly end: no more requests, then what the device still sends is read (and
    // dumped) until it closes, for at most the answer time-out.
    void Close();

    // A Ctrl+C came: the run stops.
    bool Interrupted() const { return m_bInterrupted; }

private:
    using Clock = std::chrono::steady_clock;

    // A whole frame at the front of the received bytes.
    struct Frame {
        const std::uint8_t* m_pBytes = nullptr; // header and payload
        std::size_t m_nLength = 0;
        std::uint8_t Code() const { return m_pBytes[0]; }
        std::size_t PayloadLength() const { return m_nLength - 4; }
        const std::uint8_t* Payload() const { return m_pBytes + 4; }
    };
    // What a frame is to the command waiting for its answer.
    enum class Match { Skip, Answer, Unusable };
    enum class Receive { Data, TimedOut, Closed, Reset, Failed, Interrupted };

    int Send(const CliCommand& command, const std::uint8_t* data, std::size_t length);
    // Waits for one chunk until deadline (none for Clock::time_point::max()).
    Receive ReceiveSome(Clock::time_point deadline, bool stopOnInterrupt);
    // Takes the next whole frame off the received bytes; false when none is complete yet.
    bool NextFrame(Frame& frame);
    // Sends the request, then waits for the frame that match says is the answer. On Answer
    // the frame stays valid until the next receive.
    template <class TMatch>
    int Exchange(const CliCommand& command, const std::uint8_t* data, std::size_t length,
                 TMatch match, Frame& answer);
    // Reads the command's DIOs: with a single read for read and write, a range read otherwise.
    int ReadBack(const CliCommand& command, std::vector<DioModeState>& values);
    int Watch(const CliCommand& command, int round);

    int Fail(int status, const CliCommand& command, const std::string& text);
    void PrintDio(int dio, int mode, int state, int round, double seconds = -1.0);
    void PrintWritten(int dio, int round);
    void Dump(TrafficDirection direction, const std::uint8_t* data, std::size_t length,
              std::chrono::system_clock::time_point when);

    const CliArguments& m_arguments;
    std::ostream& m_out;
    std::ostream& m_err;
    CPortableSocket* m_pWake;
    CPortableSocket m_socket;
    Clock::time_point m_connectedAt{};
    bool m_bInterrupted = false;

    std::array<std::uint8_t, 4096> m_chunk{}; // what one receive takes
    std::vector<std::uint8_t> m_vecReceived;  // bytes not yet taken as frames, from m_nOffset
    std::size_t m_nOffset = 0;
    std::vector<std::uint8_t> m_vecSeen;   // bytes received since the last request, for messages
    std::vector<DioModeState> m_vecValues; // what a read gave
    std::string m_strLine;
    std::string m_strDump;
};
