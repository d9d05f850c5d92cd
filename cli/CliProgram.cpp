// kelvane-cli as a whole.
#include "cli/CliProgram.h"

#include "app/BuildStamp.h"
#include "cli/CliArguments.h"
#include "cli/CliSession.h"
#include "connection/PortableSocket.h"

#include <atomic>
#include <csignal>
#include <ostream>

namespace {

std::atomic<bool> g_bStopRequested{false};
// The wake socket of the run in progress, which RequestCliStop makes readable.
std::atomic<CPortableSocket*> g_pWake{nullptr};

// Makes wake the one RequestCliStop wakes, for as long as it lives.
class CStopTarget {
public:
    explicit CStopTarget(CPortableSocket* wake) {
        g_pWake.store(wake);
        // A stop that came before the socket was there.
        if (wake != nullptr && g_bStopRequested.load()) {
            wake->Wake();
        }
    }
    ~CStopTarget() { g_pWake.store(nullptr); }
    CStopTarget(const CStopTarget&) = delete;
    CStopTarget& operator=(const CStopTarget&) = delete;
};

} // namespace

void RequestCliStop() {
    g_bStopRequested.store(true);
    if (CPortableSocket* wake = g_pWake.load()) {
        wake->Wake();
    }
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
        out << text << std::flush;
        return CLI_OK;
    case CliRequest::Version:
        out << CliVersionLine() << "\n" << std::flush;
        return CLI_OK;
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
    g_bStopRequested.store(false);
    const CStopTarget stopTarget(wake.IsOpen() ? &wake : nullptr);

    CCliSession session(arguments, out, err, wake.IsOpen() ? &wake : nullptr);
    int status = session.Connect();
    if (status == CLI_OK) {
        const int rounds = arguments.m_nRepeat;
        for (int round = 1; rounds == 0 || round <= rounds; ++round) {
            for (const CliCommand& command : arguments.m_vecCommands) {
                status = session.RunCommand(command, arguments.m_bRepeat ? round : 0);
                if (status != CLI_OK || session.Interrupted()) {
                    break;
                }
            }
            if (status != CLI_OK || session.Interrupted() || round == rounds ||
                !session.Pause(arguments.m_nIntervalMs)) {
                break;
            }
        }
        // Rounds without end stop only this way: a round cut short is no failure.
        if (status == CLI_INTERRUPTED && rounds == 0) {
            status = CLI_OK;
        }
        session.Close();
    }
    if (status == CLI_INTERRUPTED) {
        err << "kelvane-cli: interrupted before every command was answered\n" << std::flush;
    }
    return status;
}
