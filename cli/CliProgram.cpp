// kelvane-cli as a whole.
#include "cli/CliProgram.h"

#include "app/BuildStamp.h"
#include "cli/CliArguments.h"
#include "cli/CliSession.h"
#include "cli/CliStop.h"
#include "connection/PortableSocket.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ostream>

namespace {

CCliStop<CPortableSocket> g_stop;

// Makes wake the one RequestCliStop wakes, for as long as it lives.
class CStopTarget {
public:
    explicit CStopTarget(CPortableSocket* wake) { g_stop.Attach(wake); }
    ~CStopTarget() { g_stop.Detach(); }
    CStopTarget(const CStopTarget&) = delete;
    CStopTarget& operator=(const CStopTarget&) = delete;
};

// What happened to stdout: CLI_OK when it took everything, else CLI_CANNOT_WRITE with its line
// on err, or without one when stdout was a pipe whose reader had gone (kelvane-cli ... |
// head), which needs no telling.
int OutputStatus(bool failed, int error, std::ostream& err) {
    if (!failed) {
        return CLI_OK;
    }
    if (error != EPIPE) {
        std::string reason = error != 0 ? std::strerror(error) : "the output failed";
        if (!reason.empty()) {
            reason.front() =
                static_cast<char>(std::tolower(static_cast<unsigned char>(reason.front())));
        }
        err << "kelvane-cli: cannot write the results: " << reason << "\n" << std::flush;
    }
    return CLI_CANNOT_WRITE;
}

// Writes text to out in full; CLI_OK, or what OutputStatus says.
int WriteAll(std::ostream& out, const std::string& text, std::ostream& err) {
    ClearOutputError();
    out << text << std::flush;
    return OutputStatus(!out, OutputErrorNow(), err);
}

} // namespace

void RequestCliStop() {
    g_stop.Request();
}

std::string CliVersionLine() {
    return std::string("Kelvane Version ") + KELVANE_VERSION_TEXT + " Build " +
           MakeBuildStamp(KELVANE_BUILD_DATE, KELVANE_BUILD_TIME);
}

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CliArguments arguments;
    std::string text;
    switch (ParseCliArguments(argc, argv, arguments, text)) {
    case CliRequest::Help:
        return WriteAll(out, text, err);
    case CliRequest::Version:
        return WriteAll(out, CliVersionLine() + "\n", err);
    case CliRequest::Usage:
        err << "kelvane-cli: " << text << " (see kelvane-cli --help)\n" << std::flush;
        return CLI_USAGE;
    case CliRequest::Run:
        break;
    }

    const CSocketLibrary library;
    if (!library.IsReady()) {
        err << "kelvane-cli: the socket library did not start\n" << std::flush;
        return CLI_CANNOT_CONNECT;
    }
    std::string error;
    // Without a wake socket the program still works; only Ctrl+C then ends it the hard way.
    CPortableSocket wake = CPortableSocket::OpenWake(error);
    if (!wake.IsOpen()) {
        std::signal(SIGINT, SIG_DFL);
    }
    g_stop.Clear();
    const CStopTarget stopTarget(wake.IsOpen() ? &wake : nullptr);

    CCliSession session(arguments, out, err, &g_stop);
    int status = session.Connect();
    if (status == CLI_OK) {
        const std::vector<CliCommand>& commands = arguments.m_vecCommands;
        const int rounds = arguments.m_nRepeat;
        for (int round = 1; rounds == 0 || round <= rounds; ++round) {
            for (std::size_t i = 0; i < commands.size(); ++i) {
                const bool last = round == rounds && i + 1 == commands.size();
                status = session.RunCommand(commands[i], arguments.m_bRepeat ? round : 0, last);
                if (status == CLI_CONNECTION_LOST && arguments.m_bReconnect &&
                    arguments.m_bRepeat) {
                    // The device's end cut the round short, which its line told; the rounds go
                    // on, and the next one is connected again first.
                    status = CLI_OK;
                    break;
                }
                if (status == CLI_OK && session.Interrupted()) {
                    // Ctrl+C ended a watch: the run stops there, cut short if commands of the
                    // round are left.
                    status = i + 1 < commands.size() ? CLI_INTERRUPTED : CLI_OK;
                }
                if (status != CLI_OK || session.Interrupted()) {
                    break;
                }
            }
            if (status != CLI_OK || session.Interrupted() || round == rounds) {
                break;
            }
            if (!session.Pause(arguments.m_nIntervalMs)) {
                // Ctrl+C: in the pause it ends the run in order; while connecting again, it
                // cuts short the rounds left.
                status = session.Reconnecting() ? CLI_INTERRUPTED : CLI_OK;
                break;
            }
        }
        // Rounds without end stop only this way: a round cut short is no failure.
        if (status == CLI_INTERRUPTED && rounds == 0) {
            status = CLI_OK;
        }
        session.Close();
    }
    if (status == CLI_CANNOT_WRITE) {
        return OutputStatus(true, session.OutputError(), err);
    }
    if (status == CLI_INTERRUPTED) {
        err << "kelvane-cli: interrupted before every command was answered\n" << std::flush;
    }
    return status;
}
