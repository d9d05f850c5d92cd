// kelvane-cli through its own entry point, against the simulator in this process.
#include "CliTestSupport.h"

#include "cli/CliSession.h"
#include "cli/CliStop.h"
#include "protocol/DioWords.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <regex>

namespace {

using Strings = std::vector<std::string>;

Strings With(const std::string& target, Strings args) {
    args.insert(args.begin(), target);
    return args;
}

const Strings EVERY_COMMAND = {"write", "3",           "out", "HIGH", "--verify", "read",
                               "3",     "write-range", "0",   "2",    "out:high", "In:low",
                               "1:1",   "read-range",  "0",   "3"};
const char* const EVERY_COMMAND_TEXT = "DIO3 written\n"
                                       "DIO3 Output High\n"
                                       "DIO0 written\nDIO1 written\nDIO2 written\n"
                                       "DIO0 Output High\nDIO1 Input Low\nDIO2 Output High\n"
                                       "DIO3 Output High\n";

TEST(Cli, EveryCommandThroughWholeSplitAndJunkReplies) {
    SimulatorOptions split;
    split.m_split = ReplySplit::Bytes;
    split.m_nPieceGapMs = 1;
    SimulatorOptions junk;
    junk.m_nJunkFrames = 3;
    for (const SimulatorOptions& options : {SimulatorOptions{}, split, junk}) {
        CTestDevice device(options);
        const CliRun run = RunCliWith(With(device.Target(), EVERY_COMMAND));
        EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
        EXPECT_EQ(run.m_strOut, EVERY_COMMAND_TEXT);
        EXPECT_EQ(run.m_strErr, "");
        const std::vector<DioModeState> table = device.Simulator().DioTable();
        EXPECT_EQ(table[1].mode, 0);
        EXPECT_EQ(table[2].state, 1);
        EXPECT_EQ(table[3].mode, 1);
    }

    CTestDevice device;
    Strings json = With(device.Target(), EVERY_COMMAND);
    json.push_back("--json");
    const CliRun run = RunCliWith(json);
    EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
    EXPECT_EQ(run.m_strOut, "{\"dio\":3,\"written\":true}\n"
                            "{\"dio\":3,\"mode\":\"output\",\"state\":\"high\"}\n"
                            "{\"dio\":0,\"written\":true}\n"
                            "{\"dio\":1,\"written\":true}\n"
                            "{\"dio\":2,\"written\":true}\n"
                            "{\"dio\":0,\"mode\":\"output\",\"state\":\"high\"}\n"
                            "{\"dio\":1,\"mode\":\"input\",\"state\":\"low\"}\n"
                            "{\"dio\":2,\"mode\":\"output\",\"state\":\"high\"}\n"
                            "{\"dio\":3,\"mode\":\"output\",\"state\":\"high\"}\n");
}

TEST(Cli, ReportsAreSkippedByReadAndPrintedByWatch) {
    CTestDevice device;
    CLiveOutput console;
    std::ostream out(&console);
    std::future<CliRun> watch =
        RunCliAside(out, {"--json", device.Target(), "read", "4", "watch", "0.4"});
    ASSERT_TRUE(console.WaitForLines(1, std::chrono::seconds(10)));
    EXPECT_TRUE(FlipUntilShown(device.Simulator(), 5, 2, 4,
                               [&](std::size_t count, std::chrono::milliseconds limit) {
                                   return console.WaitForLines(count, limit);
                               }));
    const CliRun run = Finish(watch, std::chrono::milliseconds(5000));
    EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
    std::istringstream lines(console.Text());
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "{\"dio\":4,\"mode\":\"input\",\"state\":\"low\"}");
    const std::regex report("[{]\"dio\":5,\"mode\":\"input\",\"state\":\"(low|high)\","
                            "\"t\":([0-9.]+)[}]");
    int reports = 0;
    double last = 0;
    std::string lastState;
    while (std::getline(lines, line)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, report)) << line;
        EXPECT_NE(match[1].str(), lastState) << "each report flips the level";
        EXPECT_GE(std::stod(match[2].str()), last);
        lastState = match[1].str();
        last = std::stod(match[2].str());
        ++reports;
    }
    EXPECT_GE(reports, 3);
    EXPECT_LE(last, 2.0); // the watch and a generous margin

    // Only well-formed reports are printed: not one with other fixed bytes, nor one with a
    // state of 2, nor one without a state.
    using Bytes = std::vector<std::uint8_t>;
    CScriptedPeer peer(
        "127.0.0.1", [](const Bytes& request) { return Bytes{1, 2, 0, 3, request[4], 0, 0}; },
        [](const Bytes&) {
            return Bytes{1, 3, 0, 3, 2, 1, 1, 1, 2, 0, 3, 2, 1, 2,
                         1, 2, 0, 2, 2, 1, 1, 2, 0, 3, 2, 1, 1};
        },
        std::chrono::milliseconds(100));
    const CliRun few =
        RunCliWith({"127.0.0.1", "-p", std::to_string(peer.Port()), "read", "1", "watch", "0.6"});
    EXPECT_EQ(few.m_nStatus, 0) << few.m_strErr;
    EXPECT_EQ(few.m_strOut, "DIO1 Input Low\nDIO2 Output High\n");
}

TEST(Cli, LateUnusableAndCutShortAnswersFail) {
    {
        SimulatorOptions slow;
        slow.m_nReplyDelayMs = 500;
        CTestDevice device(slow);
        const CliRun run = RunCliWith({"-t", "100", device.Target(), "read", "3"});
        EXPECT_EQ(run.m_nStatus, 1);
        EXPECT_EQ(run.m_strErr,
                  "kelvane-cli: read 3: no answer within 100 ms (nothing received)\n");
    }
    {
        // The close waits up to the answer time-out for the device to end, and shows what it
        // still sends: here the late answer, due 200 ms into that wait.
        SimulatorOptions late;
        late.m_nReplyDelayMs = 600;
        CTestDevice device(late);
        const CliRun run = RunCliWith({"-v", "-t", "400", device.Target(), "read", "3"});
        EXPECT_EQ(run.m_nStatus, 1);
        EXPECT_TRUE(std::regex_match(run.m_strErr,
                                     std::regex("> 01 02 00 01 03 [^\n]*\n"
                                                "kelvane-cli: read 3: no answer within 400 ms "
                                                "[(]nothing received[)]\n"
                                                "< 01 02 00 03 03 00 00 [^\n]*\n")))
            << run.m_strErr;
    }
    CTestDevice device;
    CliRun run = RunCliWith({device.Target(), "read", "1", "read", "9", "read", "2"});
    EXPECT_EQ(run.m_nStatus, 1);
    EXPECT_EQ(run.m_strOut, "DIO1 Input Low\n"); // what was printed stays
    EXPECT_EQ(run.m_strErr,
              "kelvane-cli: read 9: unusable answer 01 02 00 01 06 (no mode and state)\n");
    run = RunCliWith({device.Target(), "read-range", "0", "20"});
    EXPECT_EQ(run.m_nStatus, 1);
    EXPECT_EQ(run.m_strErr, "kelvane-cli: read-range 0 20: unusable answer 05 02 00 01 06 (1 "
                            "payload bytes, not 42)\n");
    run = RunCliWith({device.Target(), "write", "12", "out", "low"});
    EXPECT_EQ(run.m_nStatus, 1);
    EXPECT_NE(run.m_strErr.find("refused the write with status 06"), std::string::npos);

    // A device that takes the write but does not keep it.
    CScriptedPeer forgetful("127.0.0.1", [](const std::vector<std::uint8_t>& request) {
        if (request[0] == DIO_CMD_SINGLE_WRITE) {
            return std::vector<std::uint8_t>{2, 2, 0, 1, 0};
        }
        return std::vector<std::uint8_t>{1, 2, 0, 3, request[4], 0, 0};
    });
    run = RunCliWith({"-q", "127.0.0.1", "-p", std::to_string(forgetful.Port()), "write", "3",
                      "output", "high", "--verify"});
    EXPECT_EQ(run.m_nStatus, 1);
    EXPECT_EQ(run.m_strOut, "");
    EXPECT_EQ(run.m_strErr, "kelvane-cli: write 3 output high: read back DIO3 Input Low, not "
                            "Output High\n");
}

// A device that surrounds its answers with frames that answer nothing.
std::vector<std::uint8_t> AnswerAmidOtherFrames(const std::vector<std::uint8_t>& request) {
    using Bytes = std::vector<std::uint8_t>;
    const std::uint8_t first = request[4];
    const std::uint8_t next = static_cast<std::uint8_t>(first + 1);
    if (request[0] == DIO_CMD_MULTI_READ) {
        // A report of another DIO and a write's acknowledgement first; then the answer, with
        // a pair more than asked for.
        const std::size_t pairs = request[5] - first + 2u;
        Bytes reply = {1, 2, 0, 3, next, 1, 1, 2,
                       2, 0, 1, 0, 5,    2, 0, static_cast<std::uint8_t>(2 * pairs)};
        reply.resize(reply.size() + 2 * pairs, 1);
        return reply;
    }
    switch (first) {
    case 4: // the same first; then the answer, which carries a byte more than it needs; then
            // a later report of the DIO, and the start of a report of DIO 6
        return Bytes{1, 2, 0, 3, next, 1, 1, 2, 2, 0, 1, 0, 1, 2, 0,
                     4, 4, 1, 0, 7,    1, 2, 0, 3, 4, 0, 1, 1, 2, 0};
    case 6: // the rest of that report, which began before the request; then the answer
        return Bytes{3, 6, 1, 1, 1, 2, 0, 3, 6, 0, 0};
    default: // an answer with a state of 2
        return Bytes{1, 2, 0, 3, first, 0, 2};
    }
}

TEST(Cli, AnAnswerIsKnownByItsCodeItsDioAndItsLength) {
    CScriptedPeer peer("127.0.0.1", AnswerAmidOtherFrames);
    CliRun run = RunCliWith({"127.0.0.1", "-p", std::to_string(peer.Port()), "read", "4", "read",
                             "6", "read-range", "0", "2"});
    EXPECT_EQ(run.m_nStatus, 1);
    EXPECT_EQ(run.m_strOut, "DIO4 Output Low\nDIO6 Input Low\n");
    EXPECT_EQ(run.m_strErr, "kelvane-cli: read-range 0 2: unusable answer 05 02 00 08 01 01 01 "
                            "01 01 01 01 01 (8 payload bytes, not 6)\n");

    CScriptedPeer another("127.0.0.1", AnswerAmidOtherFrames);
    run = RunCliWith({"127.0.0.1", "-p", std::to_string(another.Port()), "read", "7"});
    EXPECT_EQ(run.m_nStatus, 1);
    EXPECT_EQ(run.m_strErr,
              "kelvane-cli: read 7: unusable answer 01 02 00 03 07 00 02 (mode or state not 0 "
              "or 1)\n");
}

TEST(Cli, DeviceThatClosesOrResetsEndsWithStatus4) {
    for (const ConnectionEnd end : {ConnectionEnd::Close, ConnectionEnd::Reset}) {
        SimulatorOptions options;
        options.m_nEndAfterRequests = 2;
        options.m_end = end;
        CTestDevice device(options);
        Strings args = {device.Target(), "read", "1", "read", "2", "read", "3", "read", "4"};
        if (end == ConnectionEnd::Reset) {
            // which has nothing to go on with outside --repeat and watch
            args.push_back("--reconnect");
        }
        const CliRun run = RunCliWith(args);
        EXPECT_EQ(run.m_nStatus, 4);
        EXPECT_EQ(run.m_strOut, "DIO1 Input Low\nDIO2 Input Low\n");
        // (A reset may read as a close on some socket stacks: both are the device gone.)
        EXPECT_TRUE(
            std::regex_match(run.m_strErr, std::regex("kelvane-cli: read 3: the device [^;\n]*\n")))
            << run.m_strErr;
    }
}

TEST(Cli, ADeviceThatEndsTheConnectionEndsWhatIsLeftAtOnce) {
    using std::chrono::milliseconds;
    // Rounds or commands left: the first watch the device ends is the last thing that runs.
    const Strings options[] = {
        {"--repeat", "0", "--interval", "100"}, {"--repeat", "3", "--interval", "100"}, {}};
    for (const Strings& before : options) {
        CTestDevice device;
        Strings args = before;
        args.push_back(device.Target());
        args.insert(args.end(), {"watch", "5"});
        if (before.empty()) {
            args.insert(args.end(), {"watch", "5"});
        }
        std::future<CliRun> run = RunCliAside(args);
        ASSERT_TRUE(device.Simulator().WaitUntil(
            [](const SimulatorCounters& c) { return c.m_nConnections == 1; }, milliseconds(5000)));
        device.Simulator().Stop();
        const CliRun result = Finish(run, milliseconds(3000));
        EXPECT_EQ(result.m_nStatus, 4) << ::testing::PrintToString(args);
        EXPECT_EQ(result.m_strErr.rfind("kelvane-cli: watch 5: the device had ", 0), 0u)
            << result.m_strErr;
    }
    // Nothing left: a watch that the device ends is no failure.
    CTestDevice device;
    std::future<CliRun> run = RunCliAside({device.Target(), "read", "1", "watch"});
    ASSERT_TRUE(device.Simulator().WaitUntil(
        [](const SimulatorCounters& c) { return c.m_nFramesSent == 1; }, milliseconds(5000)));
    device.Simulator().Stop();
    const CliRun result = Finish(run, milliseconds(3000));
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    EXPECT_EQ(result.m_strOut, "DIO1 Input Low\n");
}

// Takes nothing: every write fails with error, as on a full disk or into a pipe whose reader
// has gone.
class CFailingOutput : public std::streambuf {
public:
    explicit CFailingOutput(int error) : m_nError(error) {}

protected:
    int overflow(int) override {
        errno = m_nError;
        return traits_type::eof();
    }
    std::streamsize xsputn(const char*, std::streamsize) override {
        errno = m_nError;
        return 0;
    }

private:
    int m_nError;
};

TEST(Cli, ResultsThatCannotBeWrittenGiveStatus5) {
    CTestDevice device;
#ifndef _WIN32
    {
        std::ofstream full("/dev/full");
        ASSERT_TRUE(full.is_open());
        const CliRun run = RunCliInto(full, {device.Target(), "read-range", "0", "8"});
        EXPECT_EQ(run.m_nStatus, 5);
        EXPECT_EQ(run.m_strErr, "kelvane-cli: cannot write the results: no space left on device\n");
    }
#endif
    CFailingOutput diskFull(ENOSPC);
    std::ostream full(&diskFull);
    CliRun run = RunCliInto(full, {"--json", device.Target(), "write", "1", "out", "low"});
    EXPECT_EQ(run.m_nStatus, 5);
    EXPECT_EQ(run.m_strErr, "kelvane-cli: cannot write the results: no space left on device\n");
    run = RunCliInto(full, {"--help"});
    EXPECT_EQ(run.m_nStatus, 5);

    // A pipe whose reader has gone (kelvane-cli ... | head -n 1) ends the run quietly, also
    // one without end.
    CFailingOutput pipeClosed(EPIPE);
    std::ostream pipe(&pipeClosed);
    std::future<CliRun> endless = std::async(std::launch::async, [&] {
        return RunCliInto(pipe, {"--repeat", "0", "--interval", "10", device.Target(), "watch",
                                 "0.1", "read", "2"});
    });
    run = Finish(endless, std::chrono::milliseconds(5000));
    EXPECT_EQ(run.m_nStatus, 5);
    EXPECT_EQ(run.m_strErr, "");
    // Nothing is printed then: a quiet run has no results to lose.
    run = RunCliInto(pipe, {"-q", device.Target(), "read", "2"});
    EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
}

TEST(Cli, UsageErrorsGiveStatus2AndOneLine) {
    const Strings bad[] = {
        {},
        {"127.0.0.1"},
        {"127.0.0.1", "frob"},
        {"127.0.0.1", "read"},
        {"127.0.0.1", "read", "x3"},
        {"127.0.0.1", "read", "256"},
        {"127.0.0.1", "write", "1", "sideways", "low"},
        {"127.0.0.1", "write", "1", "out"},
        {"127.0.0.1", "read-range", "5", "2"},
        {"127.0.0.1", "read-range", "0", "127"},
        {"127.0.0.1", "write-range", "0", "2", "out:high", "in:low"},
        {"127.0.0.1", "write-range", "0", "0", "out-high"},
        {"127.0.0.1", "write-range", "0", "200", "out:high"},
        {"127.0.0.1", "watch", "soon"},
        {"127.0.0.1:0", "read", "1"},
        {"[::1", "read", "1"},
        {"127.0.0.1:5001", "-p", "5002", "read", "1"},
        {"--timeout", "fast", "127.0.0.1", "read", "1"},
        {"--timestamps", "127.0.0.1", "read", "1"},
        {"--frob", "127.0.0.1", "read", "1"},
    };
    for (const Strings& args : bad) {
        const CliRun run = RunCliWith(args);
        EXPECT_EQ(run.m_nStatus, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(run.m_strOut, "");
        EXPECT_EQ(run.m_strErr.rfind("kelvane-cli: ", 0), 0u) << run.m_strErr;
        EXPECT_EQ(run.m_strErr.find('\n'), run.m_strErr.size() - 1) << run.m_strErr;
    }

    const CliRun help = RunCliWith({"--help"});
    EXPECT_EQ(help.m_nStatus, 0);
    for (const char* word : {"read DIO",
                             "write DIO MODE STATE",
                             "read-range START END",
                             "write-range START END",
                             "watch [SECONDS]",
                             "--port",
                             "--timeout",
                             "--connect-timeout",
                             "--json",
                             "--verbose",
                             "--timestamps",
                             "--quiet",
                             "--verify",
                             "--repeat",
                             "--interval",
                             "--reconnect",
                             "--version",
                             "--help",
                             "\n  0  ",
                             "\n  1  ",
                             "\n  2  ",
                             "\n  3  ",
                             "\n  4  ",
                             "\n  5  ",
                             "\n  130  "}) {
        EXPECT_NE(help.m_strOut.find(word), std::string::npos) << word;
    }
    const CliRun version = RunCliWith({"--version"});
    EXPECT_EQ(version.m_nStatus, 0);
    EXPECT_TRUE(
        std::regex_match(version.m_strOut, std::regex("Kelvane Version 2\\.0 Build .{8}\n")))
        << version.m_strOut;
}

CliRequest Parse(const Strings& args, CliArguments& arguments) {
    std::vector<const char*> argv = {"kelvane-cli"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    std::string text;
    arguments = {};
    return ParseCliArguments(static_cast<int>(argv.size()), argv.data(), arguments, text);
}

// n pairs of MODE:STATE.
Strings Pairs(int n) {
    return Strings(static_cast<std::size_t>(n), "out:high");
}

TEST(Cli, ArgumentsAtTheirLimitsAreTakenAndOneStepPastIsRefused) {
    CliArguments a;
    ASSERT_EQ(Parse({"h", "read-range", "0", "126"}, a), CliRequest::Run);
    EXPECT_EQ(a.m_vecCommands.front().m_nLast, 126);
    EXPECT_EQ(Parse({"h", "read-range", "129", "255"}, a), CliRequest::Run);
    EXPECT_EQ(Parse({"h", "read-range", "128", "255"}, a), CliRequest::Usage);

    Strings write = {"h", "write-range", "0", "125"};
    Strings pairs = Pairs(126);
    write.insert(write.end(), pairs.begin(), pairs.end());
    ASSERT_EQ(Parse(write, a), CliRequest::Run);
    EXPECT_EQ(a.m_vecCommands.front().m_vecValues.size(), 126u);
    write.push_back("in:low"); // a pair more than the range has
    EXPECT_EQ(Parse(write, a), CliRequest::Usage);
    write[3] = "126"; // and the range as long
    EXPECT_EQ(Parse(write, a), CliRequest::Usage);

    // A bare IPv6 address is a host, whatever its colons.
    ASSERT_EQ(Parse({"::1", "read", "255"}, a), CliRequest::Run);
    EXPECT_EQ(a.m_strHost, "::1");
    EXPECT_EQ(a.m_nPort, 5001);
    ASSERT_EQ(Parse({"-p", "6000", "fe80::1:2", "read", "1"}, a), CliRequest::Run);
    EXPECT_EQ(a.m_strHost, "fe80::1:2");
    EXPECT_EQ(a.m_nPort, 6000);
    ASSERT_EQ(Parse({"[::1]:6001", "read", "1"}, a), CliRequest::Run);
    EXPECT_EQ(a.m_strHost, "::1");
    EXPECT_EQ(a.m_nPort, 6001);
    ASSERT_EQ(Parse({"host:65535", "read", "1"}, a), CliRequest::Run);
    EXPECT_EQ(a.m_nPort, 65535);
    EXPECT_EQ(Parse({"host:65536", "read", "1"}, a), CliRequest::Usage);
}

TEST(Cli, AWatchLastsItsSecondsToTheMillisecond) {
    CliArguments a;
    const std::pair<const char*, int> seconds[] = {{"0", 0},      {"0.4", 400},  {".25", 250},
                                                   {"2.5", 2500}, {"10", 10000}, {"0.001", 1}};
    for (const auto& [text, ms] : seconds) {
        ASSERT_EQ(Parse({"h", "watch", text}, a), CliRequest::Run) << text;
        EXPECT_EQ(a.m_vecCommands.front().m_nWatchMs, ms) << text;
    }
    ASSERT_EQ(Parse({"h", "watch", "read", "1"}, a), CliRequest::Run);
    EXPECT_EQ(a.m_vecCommands.front().m_nWatchMs, -1); // until the end or Ctrl+C
    EXPECT_EQ(Parse({"h", "watch", "0.0001"}, a), CliRequest::Usage);

    CTestDevice device;
    using Clock = std::chrono::steady_clock;
    Clock::time_point start = Clock::now();
    std::future<CliRun> run = RunCliAside({device.Target(), "watch", "0"});
    EXPECT_EQ(Finish(run, std::chrono::milliseconds(2000)).m_nStatus, 0);
    start = Clock::now();
    run = RunCliAside({device.Target(), "watch", "0.4"});
    EXPECT_EQ(Finish(run, std::chrono::milliseconds(4000)).m_nStatus, 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(400));
}

TEST(Cli, RepeatRunsTheRoundsInOrderOnOneConnection) {
    CTestDevice device;
    const CliRun run = RunCliWith({"--json", "--repeat", "3", "--interval", "50", device.Target(),
                                   "write", "2", "1", "0", "read", "2"});
    EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
    std::string expected;
    for (int round = 1; round <= 3; ++round) {
        const std::string r = std::to_string(round);
        expected += "{\"dio\":2,\"written\":true,\"round\":" + r + "}\n" +
                    "{\"dio\":2,\"mode\":\"output\",\"state\":\"low\",\"round\":" + r + "}\n";
    }
    EXPECT_EQ(run.m_strOut, expected);
    EXPECT_EQ(device.Simulator().Counters().m_nConnections, 1u);
    EXPECT_EQ(device.Simulator().ReceivedRequests().size(), 6u);
}

// A console that takes its time over every line, as a slow pipe or a terminal on hold.
class CSlowConsole : public CLiveOutput {
protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return CLiveOutput::xsputn(text, count);
    }
};

TEST(Cli, EachRoundTakesAnAnswerSentAfterItsRequest) {
    // Once the first round is answered, DIO 3 goes high and is reported: while the program
    // prints the first round's line (slowly), or in the pause after it. Then it becomes an
    // output, unreported. The second round must print what the device answers then, not the
    // report sent before its request.
    using std::chrono::seconds;
    for (const bool pause : {true, false}) {
        CTestDevice device;
        CSlowConsole console;
        std::ostream out(&console);
        std::future<CliRun> run =
            RunCliAside(out, {"--repeat", "2", "--interval", pause ? "500" : "0", device.Target(),
                              "read", "3"});
        ASSERT_TRUE(device.Simulator().WaitUntil(
            [](const SimulatorCounters& c) { return c.m_nFramesSent == 1; }, seconds(10)));
        if (pause) {
            ASSERT_TRUE(console.WaitForLines(1, seconds(10)));
        }
        device.Simulator().Control("set 3 high");
        device.Simulator().SetDio(3, DIO_MODE_OUTPUT, DIO_STATE_HIGH);
        const CliRun result = Finish(run, std::chrono::milliseconds(10000));
        EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
        EXPECT_EQ(console.Text(), "DIO3 Input Low\nDIO3 Output High\n") << "pause " << pause;
    }
}

TEST(Cli, AFloodDuringAPauseIsTakenAsItComesAndNotKept) {
    SimulatorOptions options;
    options.m_nFloodBytes = 4 << 20;
    CTestDevice device(options);
    CliArguments arguments;
    std::string text;
    const char* argv[] = {"kelvane-cli", "127.0.0.1", "read", "1"};
    ASSERT_EQ(ParseCliArguments(4, argv, arguments, text), CliRequest::Run) << text;
    arguments.m_nPort = device.Simulator().Port();
    std::ostringstream out;
    std::ostringstream err;
    CCliSession session(arguments, out, err);
    ASSERT_EQ(session.Connect(), CLI_OK);
    // The flood runs through the pause: the session holds at most the start of one frame.
    std::size_t held = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (device.Simulator().Counters().m_nFloodsDone == 0 &&
           std::chrono::steady_clock::now() < end) {
        ASSERT_TRUE(session.Pause(20));
        held = std::max(held, session.HeldBytes());
    }
    ASSERT_TRUE(session.Pause(50)); // the flood's last bytes, sent just now
    EXPECT_GT(device.Simulator().Counters().m_nFloodedBytes, (4u << 20) - 7);
    EXPECT_LT(held, std::size_t{DIO_FRAME_HEADER_SIZE + 255});
    // The device's table follows its flood: the read after it tells the last value.
    ASSERT_EQ(session.RunCommand(arguments.m_vecCommands.front(), 0), CLI_OK) << err.str();
    const DioModeState last = device.Simulator().DioTable()[1];
    EXPECT_EQ(out.str(), "DIO1 " + std::string(DioModeWord(last.mode)) + " " +
                             DioStateWord(last.state) + "\n");
    session.Close();
}

TEST(Cli, VerboseDumpsEveryByteWithOneTimePerDump) {
    CTestDevice device;
    const CliRun run =
        RunCliWith({"-v", "--timestamps", "-q", device.Target(), "read-range", "0", "8"});
    EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
    EXPECT_EQ(run.m_strOut, "");
    const std::regex dump("(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d) > 05 02 00 02 00 08 [^\n]*\n"
                          "(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d) < 05 02 00 12 00 00 [^\n]*\n"
                          "(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d)   00 00 00 00 00 00 [^\n]*\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(run.m_strErr, match, dump)) << run.m_strErr;
    EXPECT_EQ(match[2].str(), match[3].str());

    const CliRun plain = RunCliWith({"-v", device.Target(), "read", "0"});
    EXPECT_EQ(plain.m_strErr, "> 01 02 00 01 00" + std::string(34, ' ') + "| .....\n" +
                                  "< 01 02 00 03 00 00 00" + std::string(28, ' ') + "| .......\n");
    // A range of one DIO is still read with a range request, and its answer taken.
    const CliRun one = RunCliWith({"-v", "-q", device.Target(), "read-range", "3", "3"});
    EXPECT_EQ(one.m_strErr, "> 05 02 00 02 03 03" + std::string(31, ' ') + "| ......\n" +
                                "< 05 02 00 02 00 00" + std::string(31, ' ') + "| ......\n");
}

TEST(Cli, CtrlCWhileAnAnswerIsAwaitedEndsAtOnceWithStatus130) {
    SimulatorOptions silent;
    silent.m_nReplyDelayMs = 60000;
    // Also in a round of several: only endless rounds stop this way without a failure.
    for (const Strings& repeat : {Strings{}, Strings{"--repeat", "3"}}) {
        CTestDevice device(silent);
        const auto start = std::chrono::steady_clock::now();
        std::thread stopper = CtrlCAfter(std::chrono::milliseconds(200));
        Strings args = repeat;
        args.insert(args.end(), {"-t", "60000", device.Target(), "read", "1", "read", "2"});
        const CliRun run = RunCliWith(args);
        stopper.join();
        EXPECT_EQ(run.m_nStatus, 130);
        EXPECT_EQ(run.m_strErr, "kelvane-cli: interrupted before every command was answered\n");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(device.Simulator().ReceivedRequests().size(), 1u);
    }
}

TEST(Cli, CtrlCInAWatchEndsTheRunThereAndCutsItShortWhenCommandsAreLeft) {
    CTestDevice device;
    std::thread stopper = CtrlCAfter(std::chrono::milliseconds(200));
    CliRun run = RunCliWith({device.Target(), "watch", "read", "1"});
    stopper.join();
    EXPECT_EQ(run.m_nStatus, 130);
    EXPECT_EQ(run.m_strErr, "kelvane-cli: interrupted before every command was answered\n");

    // Endless rounds end this way: promptly, with nothing run after the watch.
    const auto start = std::chrono::steady_clock::now();
    stopper = CtrlCAfter(std::chrono::milliseconds(200));
    run = RunCliWith({"--repeat", "0", "--interval", "50", device.Target(), "watch", "read", "1"});
    stopper.join();
    EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(device.Simulator().ReceivedRequests().empty());
}

TEST(Cli, CtrlCDuringTheConnectSendsNoRequest) {
    // A listener whose queue of connections is full: a connect to it waits until there is
    // room again (the system drops its first attempt and tries again a second later).
    const CSocketLibrary library;
    std::string error;
    CPortableSocket listener = CPortableSocket::Listen("127.0.0.1", 0, error);
    ASSERT_TRUE(listener.IsOpen()) << error;
    const std::uint16_t port = listener.LocalPort();
    std::vector<CPortableSocket> queued;
    const ConnectFailure failure = FillConnectQueue(port, queued, error);
    ASSERT_LT(queued.size(), 64u) << "the queue never fills";
    if (failure != ConnectFailure::TimedOut) {
        GTEST_SKIP() << "this system refuses a connect to a full queue: " << error;
    }

    std::future<CliRun> run = RunCliAside({"--connect-timeout", "10000", "127.0.0.1", "-p",
                                           std::to_string(port), "write", "3", "out", "high"});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RequestCliStop();
    // Room for the program's connect, which now goes through behind the test's own: it must
    // send nothing on it before it closes.
    std::string peer;
    CPortableSocket device;
    for (std::size_t accepted = 0; accepted <= queued.size();) {
        SocketWait wait{&listener, true, false};
        ASSERT_GT(WaitForSockets(std::span<SocketWait>(&wait, 1), 10000), 0);
        device = listener.Accept(peer);
        accepted += device.IsOpen() ? 1 : 0;
    }
    const CliRun result = Finish(run, std::chrono::milliseconds(10000));
    SocketWait wait{&device, true, false};
    WaitForSockets(std::span<SocketWait>(&wait, 1), 2000);
    std::uint8_t request[64];
    std::size_t received = 0;
    EXPECT_EQ(device.Receive(request, sizeof request, received), SocketIo::Closed)
        << received << " bytes received";
    EXPECT_EQ(result.m_nStatus, 130);
    EXPECT_EQ(result.m_strErr, "kelvane-cli: interrupted before every command was answered\n");
}

// Busy for a while, without sleeping (a short sleep is no sleep at all on some systems).
void Busy(std::chrono::microseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
    }
}

// A wake target that takes its time, and counts the wakes that reach it after its owner has
// let it go.
struct CSlowWake {
    std::atomic<bool> m_bReleased{false};
    std::atomic<int> m_nLateWakes{0};
    void Wake() {
        Busy(std::chrono::microseconds(1000));
        if (m_bReleased.load()) {
            ++m_nLateWakes;
        }
    }
};

TEST(CliStop, NoCtrlCReachesTheWakeAfterItIsDetached) {
    // Ctrl+C after Ctrl+C from a thread of its own, as Windows runs its handler, while runs
    // attach a wake socket and close it again.
    CCliStop<CSlowWake> stop;
    std::atomic<bool> done{false};
    std::thread handler([&] {
        while (!done.load()) {
            stop.Request();
        }
    });
    std::array<CSlowWake, 40> wakes;
    for (CSlowWake& wake : wakes) {
        stop.Attach(&wake);
        Busy(std::chrono::microseconds(1500));
        stop.Detach();
        wake.m_bReleased = true; // closed by its owner
    }
    done = true;
    handler.join();
    int late = 0;
    for (const CSlowWake& wake : wakes) {
        late += wake.m_nLateWakes.load();
    }
    EXPECT_EQ(late, 0);
}

TEST(Cli, CannotConnectGivesStatus3) {
    const CSocketLibrary library;
    std::uint16_t closedPort = 0;
    {
        std::string error;
        const CPortableSocket probe = CPortableSocket::Listen("127.0.0.1", 0, error);
        closedPort = probe.LocalPort();
    }
    CliRun run = RunCliWith({"127.0.0.1", "-p", std::to_string(closedPort), "read", "1"});
    EXPECT_EQ(run.m_nStatus, 3);
    EXPECT_NE(run.m_strErr.find("connection refused"), std::string::npos) << run.m_strErr;
    run = RunCliWith({"no-such-host.invalid", "read", "1"});
    EXPECT_EQ(run.m_nStatus, 3);
    EXPECT_EQ(run.m_strErr, "kelvane-cli: cannot resolve 'no-such-host.invalid'\n");
}

TEST(Cli, ReachesAnIpv6Device) {
    CScriptedPeer peer("::1", [](const std::vector<std::uint8_t>& request) {
        return std::vector<std::uint8_t>{1, 2, 0, 3, request[4], 1, 0};
    });
    if (!peer.IsListening()) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    const CliRun run = RunCliWith({"[::1]:" + std::to_string(peer.Port()), "read", "4"});
    EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
    EXPECT_EQ(run.m_strOut, "DIO4 Output Low\n");
}

} // namespace
