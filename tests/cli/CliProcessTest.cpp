// kelvane-cli as a real process: its console, its exit status and Ctrl+C. (On Windows this runs
// kelvane-cli.exe, under Wine on Linux.)
#include "CliTestSupport.h"

#include <chrono>
#include <algorithm>
#include <cstdio>

#ifndef _WIN32
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// The program's path in the form the platform's command processor takes.
std::string ProgramPath() {
    std::string path = KELVANE_CLI_PATH;
#ifdef _WIN32
    if (!path.empty() && path.front() == '/') {
        path = "Z:" + path; // a Linux path seen from Wine
    }
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
#endif
    return path;
}

// Runs the program through the command processor; returns its exit status, stdout in out.
int RunProgram(const std::string& arguments, std::string& out) {
    const std::string command = "\"" + ProgramPath() + "\" " + arguments;
#ifdef _WIN32
    // cmd.exe strips the outer quotes of a line that starts with one.
    FILE* pipe = _popen(("\"" + command + "\"").c_str(), "r");
#else
    FILE* pipe = popen(command.c_str(), "r");
#endif
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        out += buffer;
    }
#ifdef _WIN32
    return _pclose(pipe);
#else
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

TEST(CliProcess, PrintsAndExitsThroughTheConsole) {
    CTestDevice device;
    std::string out;
    EXPECT_EQ(RunProgram(device.Target() + " write 3 out high --verify read 3", out), 0);
    EXPECT_EQ(out, "DIO3 written\nDIO3 Output High\n");
    out.clear();
    EXPECT_EQ(RunProgram(device.Target() + " read 3 read 9", out), 1);
    EXPECT_EQ(out, "DIO3 Output High\n");
}

#ifndef _WIN32
// Runs a shell line in which PROGRAM stands for the program; returns what the line prints.
std::string RunShellLine(std::string line) {
    const std::string program = "\"" + ProgramPath() + "\"";
    for (std::size_t at = line.find("PROGRAM"); at != std::string::npos;
         at = line.find("PROGRAM", at + program.size())) {
        line.replace(at, 7, program);
    }
    std::string out;
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        out += buffer;
    }
    pclose(pipe);
    return out;
}

TEST(CliProcess, StdoutThatCannotBeWrittenGivesStatus5) {
    CTestDevice device;
    // stderr and the status come back; stdout goes to /dev/full, or to head, which leaves
    // after the first line of endless rounds.
    EXPECT_EQ(RunShellLine("PROGRAM " + device.Target() +
                           " read-range 0 8 2>&1 >/dev/full; echo \"exit $?\""),
              "kelvane-cli: cannot write the results: no space left on device\nexit 5\n");
    // (timeout stops a program that never notices, as Ctrl+C would.)
    EXPECT_EQ(RunShellLine("exec 3>&1; (timeout 20 PROGRAM --repeat 0 --interval 1 " +
                           device.Target() +
                           " read 1 2>&3; echo \"exit $?\" >&3) | head -n 1 >/dev/null"),
              "exit 5\n");
}

// The program with its stdout on a pipe, for Ctrl+C tests.
class CChild {
public:
    explicit CChild(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            const std::string path = ProgramPath();
            std::vector<char*> argv = {const_cast<char*>(path.c_str())};
            for (const std::string& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        m_fd = fds[0];
    }
    ~CChild() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_fd >= 0) {
            close(m_fd);
        }
    }

    // Reads stdout until it holds count lines, or its end, or the deadline.
    bool WaitForLines(int count, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::count(m_strOut.begin(), m_strOut.end(), '\n') < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[256];
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            if (n <= 0) {
                m_bEnded = true;
                return false;
            }
            m_strOut.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }
    void Interrupt() { kill(m_pid, SIGINT); }
    // The exit status once stdout has ended, -1 if it does not within limit.
    int WaitForExit(std::chrono::milliseconds limit) {
        WaitForLines(1 << 30, limit); // reads to the end of the output
        int status = 0;
        // Its output has ended: the program is on its way out.
        if (!m_bEnded || waitpid(m_pid, &status, 0) != m_pid) {
            return -1;
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Out() const { return m_strOut; }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    bool m_bEnded = false;
    std::string m_strOut;
};

TEST(CliProcess, CtrlCEndsEndlessRoundsAndWatchWithAnOrderlyClose) {
    using std::chrono::milliseconds;
    SimulatorOptions options;
    options.m_vecToggleDios = {6};
    options.m_nToggleMs = 50;
    std::ostringstream log;
    {
        CTestDevice device(options, &log);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"--repeat", "0", "--interval", "100", device.Target(),
                                       "read", "1"},
              std::vector<std::string>{device.Target(), "watch"}}) {
            CChild child(args);
            ASSERT_TRUE(child.WaitForLines(2, milliseconds(10000))) << child.Out();
            child.Interrupt();
            EXPECT_EQ(child.WaitForExit(milliseconds(10000)), 0) << child.Out();
        }
        EXPECT_TRUE(device.Simulator().WaitUntil(
            [](const SimulatorCounters& c) { return c.m_nDisconnections == 2; },
            milliseconds(10000)));
        device.Simulator().Stop();
    }
    const std::string text = log.str();
    std::size_t closes = 0;
    for (std::size_t at = text.find("the client closed the connection"); at != std::string::npos;
         at = text.find("the client closed the connection", at + 1)) {
        ++closes;
    }
    EXPECT_EQ(closes, 2u) << text;
}
#endif

} // namespace
