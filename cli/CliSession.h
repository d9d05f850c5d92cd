// One connection of kelvane-cli to a device: sends each command's request, waits for its
// answer, and prints the result.
//
// Everything received is cut into frames as it arrives and taken at once: by the request
// waiting for its answer, by a watch (which prints the reports), or by nobody (between
// commands and rounds, it is dropped). So an answer is always a frame that began after its
// request was sent, and what the session holds is at most the start of one frame, however
// much the device sends and however long the pause.
//
// With --reconnect, a device that drops the connection is connected again at the pace of
// ReconnectDelay, and the session goes on on the new connection as on a first one.
#pragma once

#include "cli/CliAnswer.h"
#include "cli/CliArguments.h"
#include "cli/CliStop.h"
#include "connection/PortableSocket.h"
#include "protocol/DioFrameReader.h"
#include "protocol/TrafficDump.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

// Around a write to stdout: ClearOutputError() before it and, once it has failed,
// OutputErrorNow() for its error number (errno), EPIPE for a pipe whose reader has gone.
void ClearOutputError();
int OutputErrorNow();

class CCliSession {
public:
    // stop, when given, is the run's Ctrl+C, with its wake socket attached; both must outlive
    // the session.
    CCliSession(const CliArguments& arguments, std::ostream& out, std::ostream& err,
                const CCliStop<CPortableSocket>* stop = nullptr);

    // CLI_OK, or CLI_CANNOT_CONNECT with its line on err.
    int Connect();
    // Runs one command; round is 0 without --repeat, last says that nothing follows it in the
    // run. CLI_OK, the failure's status with its line on err, CLI_INTERRUPTED (no line) when
    // Ctrl+C came before the request went out or ended the wait for the answer, or
    // CLI_CANNOT_WRITE (no line) when stdout failed. A watch that Ctrl+C or the device ends
    // gives CLI_OK (Interrupted() and DeviceGone() tell); any command after the device has gone
    // fails at once with CLI_CONNECTION_LOST.
    // With --reconnect, a watch connects again when the device drops and watches for the rest
    // of its time (when it is last, it stops trying when its time is up), and a command after
    // such a watch first connects again. Under --repeat a drop during any other command gives
    // CLI_CONNECTION_LOST with a line that says the round is cut short and, with rounds left,
    // when the next attempt is (Pause makes it).
    int RunCommand(const CliCommand& command, int round, bool last = true);
    // Waits ms between two rounds, taking what arrives; false when Ctrl+C ended the wait. Ends
    // at once when the device has gone (the next command says so); with --reconnect it then
    // connects again instead, however long that takes (false on Ctrl+C, Reconnecting() true).
    bool Pause(int ms);
    // The orderly end: no more requests, then what the device still sends is read (and
    // dumped) until it closes, for at most the answer time-out.
    void Close();

    // A Ctrl+C came: the run stops.
    bool Interrupted() const { return m_bInterrupted; }
    // The device closed or reset the connection, or receiving failed.
    bool DeviceGone() const { return m_gone != Gone::No; }
    // The device has gone and the session is to connect again (--reconnect).
    bool Reconnecting() const { return m_bReconnecting; }
    // Writing to stdout failed; OutputError() is the error number (errno), 0 when unknown.
    bool OutputFailed() const { return m_bOutputFailed; }
    int OutputError() const { return m_nOutputError; }
    // Bytes received and not taken yet: the start of a frame still coming.
    std::size_t HeldBytes() const { return m_reader.PendingBytes(); }

private:
    using Clock = std::chrono::steady_clock;

    enum class Receive { Data, TimedOut, Gone, Interrupted };
    enum class Gone { No, Closed, Reset, Failed };
    // Who takes the frames as they arrive.
    enum class Taker { Nobody, Answer, Watch };
    enum class AnswerState { Waiting, Found, Unusable };
    // When the device's end is told: as it is found, while a request awaits its answer, or
    // before a command that finds it.
    enum class GoneWhen { Now, During, Before };

    // Waits for one chunk until deadline (none for Clock::time_point::max()) and hands its
    // frames to the taker.
    Receive ReceiveSome(Clock::time_point deadline, bool stopOnInterrupt);
    // Receives one chunk that has arrived already and hands its frames to the taker; TimedOut
    // when nothing has.
    Receive TakeChunk();
    void OnFrame(const DioFrameView& frame);
    // Takes what has arrived before a command starts: TimedOut once all of it is taken, or
    // Gone, or Interrupted.
    Receive CatchUp();
    int Send(const CliCommand& command, std::span<const std::uint8_t> request);
    // Sends the request and waits for its answer, which lands in m_answer.
    int Exchange(const CliCommand& command, std::span<const std::uint8_t> request);
    // Reads the command's DIOs: with a single read for read and write, a range read otherwise.
    int ReadBack(const CliCommand& command, std::vector<DioModeState>& values);
    int Watch(const CliCommand& command, int round, bool last);

    int Fail(int status, const CliCommand& command, const std::string& text);
    std::string GoneText(GoneWhen when) const;
    // The line for a command that the device's end left undone (CLI_CONNECTION_LOST); under
    // --repeat with --reconnect it says the round is cut short and starts connecting again
    // when rounds are left.
    int FailGone(const CliCommand& command, GoneWhen when);
    int LoseConnection(const CliCommand& command, const std::string& text);

    // Tells of the drop in one line, which starts with what and ends with when the first
    // attempt to connect again comes (before until, or the line says there is none).
    void StartReconnecting(const std::string& what, Clock::time_point until);
    // Attempts to connect again at the back-off's pace, with a line for each failure. True
    // once connected; false when Ctrl+C came (Interrupted()) or, once until has come, when
    // the next attempt would come at or after it (a later call goes on from there).
    bool Reconnect(Clock::time_point until);
    // "; connecting again in 2 s", or that until comes first.
    std::string NextAttemptText(Clock::time_point until) const;
    // Waits until the time, or Ctrl+C (false).
    bool WaitUnlessStopped(Clock::time_point until);
    void PrintDio(int dio, int mode, int state, int round, double seconds = -1.0);
    void PrintWritten(int dio, int round);
    // One line to stdout, unless it has failed already.
    void Emit(const std::string& line);
    void Dump(TrafficDirection direction, const std::uint8_t* data, std::size_t length,
              std::chrono::system_clock::time_point when);

    const CliArguments& m_arguments;
    std::ostream& m_out;
    std::ostream& m_err;
    const CCliStop<CPortableSocket>* m_pStop;
    CPortableSocket* m_pWake;
    CPortableSocket m_socket;
    Clock::time_point m_connectedAt{}; // the first connection
    bool m_bInterrupted = false;
    Gone m_gone = Gone::No;
    int m_nRound = 0; // of the command under way, 0 without --repeat
    bool m_bReconnecting = false;
    int m_nFailedAttempts = 0; // to connect again, since the drop
    Clock::time_point m_timeNextAttempt{};
    // When a receive last took all the socket held.
    Clock::time_point m_timeEmpty{};
    bool m_bOutputFailed = false;
    int m_nOutputError = 0;

    std::array<std::uint8_t, 4096> m_chunk{}; // what one receive takes
    CDioFrameReader m_reader;
    Taker m_taker = Taker::Nobody;
    // The frame under way when the request went out began before it: no answer to it.
    bool m_bOpenFrameIsOld = false;
    CCliAnswer m_awaited;
    AnswerState m_answerState = AnswerState::Waiting;
    std::array<std::uint8_t, 255> m_answer{}; // the answer's payload
    std::size_t m_nAnswerLength = 0;
    std::string m_strUnusable; // why the answer cannot be used, with its bytes
    int m_nWatchRound = 0;
    std::vector<std::uint8_t> m_vecSeen;   // bytes received since the last request, for messages
    std::vector<DioModeState> m_vecValues; // what a read gave
    std::string m_strLine;
    std::string m_strDump;
};
