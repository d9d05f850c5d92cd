// kelvane-cli --reconnect: a device that drops the connection, and comes back or does not.
#include "CliTestSupport.h"

#include <regex>

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

bool WaitForDisconnections(const CDeviceSimulator& device, std::uint64_t count) {
    return device.WaitUntil(
        [count](const SimulatorCounters& c) { return c.m_nDisconnections >= count; },
        milliseconds(10000));
}

TEST(CliReconnect, ARoundCutShortByACloseOrAResetIsToldAndTheNextRoundsRun) {
    for (const ConnectionEnd end : {ConnectionEnd::Close, ConnectionEnd::Reset}) {
        SimulatorOptions options;
        options.m_nEndAfterRequests = 3; // after the second round's first answer
        options.m_end = end;
        CTestDevice device(options);
        const CliRun run = RunCliWith({"--reconnect", "--repeat", "3", "--interval", "0",
                                       device.Target(), "read", "1", "read", "2"});
        EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
        EXPECT_EQ(run.m_strOut, "DIO1 Input Low\nDIO2 Input Low\n"
                                "DIO1 Input Low\n"
                                "DIO1 Input Low\nDIO2 Input Low\n");
        // (A reset may read as a close on some socket stacks, and the device may end before
        // or after read 2's request goes out.)
        EXPECT_TRUE(std::regex_match(
            run.m_strErr,
            std::regex("kelvane-cli: read 2: (the device (had )?(closed|reset) the connection"
                       "( before answering)?|the request could not be sent); round 2 cut short; "
                       "connecting again in 1 s\n")))
            << run.m_strErr;
        EXPECT_EQ(device.Simulator().Counters().m_nConnections, 2u);
    }
}

TEST(CliReconnect, TheNewConnectionStartsWithNothingOfTheOld) {
    // The first connection ends in the middle of the answer: its first bytes are no start of
    // the answer on the next one.
    const CSocketLibrary library;
    std::string error;
    CPortableSocket listener = CPortableSocket::Listen("127.0.0.1", 0, error);
    ASSERT_TRUE(listener.IsOpen()) << error;
    std::future<CliRun> run =
        RunCliAside({"--reconnect", "--repeat", "2", "--interval", "0", "127.0.0.1", "-p",
                     std::to_string(listener.LocalPort()), "read", "1"});
    const std::uint8_t answer[] = {1, 2, 0, 3, 1, 1, 1};
    for (const std::size_t length : {std::size_t{5}, sizeof answer}) {
        SocketWait wait{&listener, true, false};
        ASSERT_GT(WaitForSockets(std::span<SocketWait>(&wait, 1), 10000), 0);
        std::string peer;
        CPortableSocket client = listener.Accept(peer);
        std::uint8_t request[5];
        for (std::size_t got = 0; got < sizeof request;) {
            SocketWait readable{&client, true, false};
            ASSERT_GT(WaitForSockets(std::span<SocketWait>(&readable, 1), 10000), 0);
            std::size_t received = 0;
            const SocketIo io = client.Receive(request + got, sizeof request - got, received);
            ASSERT_TRUE(io == SocketIo::Done || io == SocketIo::WouldBlock);
            got += received;
        }
        std::size_t sent = 0;
        ASSERT_EQ(client.Send(answer, length, sent), SocketIo::Done);
        ASSERT_EQ(sent, length);
    }
    const CliRun result = Finish(run, milliseconds(10000));
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    EXPECT_EQ(result.m_strOut, "DIO1 Output High\n");
    EXPECT_EQ(result.m_strErr, "kelvane-cli: read 1: the device closed the connection before "
                               "answering; round 1 cut short; connecting again in 1 s\n");
}

TEST(CliReconnect, AWatchGoesOnAcrossADropForTheRestOfItsTime) {
    SimulatorOptions options;
    options.m_nEndAfterRequests = 1; // closes after the answer to read 1
    CTestDevice device(options);
    CLiveOutput console;
    std::ostream out(&console);
    std::future<CliRun> watch =
        RunCliAside(out, {"--json", "--reconnect", device.Target(), "read", "1", "watch", "1.5"});
    // DIO 5 changes on the new connection.
    ASSERT_TRUE(device.Simulator().WaitUntil(
        [](const SimulatorCounters& c) { return c.m_nConnections == 2; }, milliseconds(10000)));
    EXPECT_TRUE(
        FlipUntilShown(device.Simulator(), 5, 2, 4, [&](std::size_t count, milliseconds limit) {
            return console.WaitForLines(count, limit);
        }));
    const CliRun run = Finish(watch, milliseconds(5000));
    EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
    EXPECT_EQ(run.m_strErr, "kelvane-cli: watch 1.5: the device closed the connection; "
                            "connecting again in 1 s\n");
    std::istringstream lines(console.Text());
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "{\"dio\":1,\"mode\":\"input\",\"state\":\"low\"}");
    const std::regex report("[{]\"dio\":5,\"mode\":\"input\",\"state\":\"(low|high)\","
                            "\"t\":([0-9.]+)[}]");
    int afterTheDrop = 0;
    double last = 0;
    while (std::getline(lines, line)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, report)) << line;
        last = std::stod(match[2].str());
        afterTheDrop += last >= 1.0 ? 1 : 0;
    }
    EXPECT_GE(afterTheDrop, 3);
    // The watch's 1.5 s count from its start, the second of them spent connecting again.
    EXPECT_LT(last, 1.9);
    EXPECT_EQ(device.Simulator().Counters().m_nConnections, 2u);
}

TEST(CliReconnect, ARefusedPortIsTriedAgainAfterOneAndThenTwoSeconds) {
    SimulatorOptions ends;
    ends.m_nEndAfterRequests = 1;
    ends.m_end = ConnectionEnd::Reset; // which leaves the port free at once
    CTestDevice first(ends);
    const std::uint16_t port = first.Simulator().Port();
    const std::string target = "127.0.0.1:" + std::to_string(port);
    const Clock::time_point start = Clock::now();
    std::future<CliRun> run =
        RunCliAside({"--reconnect", "--repeat", "2", "--interval", "300", target, "read", "1"});
    ASSERT_TRUE(WaitForDisconnections(first.Simulator(), 1));
    first.Simulator().Stop();
    // Nobody listens for the attempt 1 s after the drop; the device is back for the next one,
    // 2 s later.
    std::this_thread::sleep_for(milliseconds(2000));
    SimulatorOptions back;
    back.m_nPort = port;
    back.m_bQuiet = true;
    CDeviceSimulator second(back);
    std::string error;
    ASSERT_TRUE(second.Start(error)) << error;
    const CliRun result = Finish(run, milliseconds(10000));
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    EXPECT_EQ(result.m_strOut, "DIO1 Input Low\nDIO1 Input Low\n");
    EXPECT_TRUE(std::regex_match(result.m_strErr,
                                 std::regex("kelvane-cli: the device (reset|closed) the "
                                            "connection; connecting again in 1 s\n"
                                            "kelvane-cli: cannot connect to 127[.]0[.]0[.]1 port " +
                                            std::to_string(port) +
                                            ": connection refused; connecting again in 2 s\n")))
        << result.m_strErr;
    EXPECT_GE(Clock::now() - start, milliseconds(3000));
}

TEST(CliReconnect, CtrlCEndsTheWaitToConnectAgainAndAnAttemptAtOnce) {
    {
        // Waiting for the first attempt, with rounds left: cut short.
        SimulatorOptions ends;
        ends.m_nEndAfterRequests = 1;
        CTestDevice device(ends);
        std::future<CliRun> run = RunCliAside(
            {"--reconnect", "--repeat", "3", "--interval", "300", device.Target(), "read", "1"});
        ASSERT_TRUE(WaitForDisconnections(device.Simulator(), 1));
        std::this_thread::sleep_for(milliseconds(100));
        const Clock::time_point stop = Clock::now();
        RequestCliStop();
        const CliRun result = Finish(run, milliseconds(5000));
        EXPECT_LT(Clock::now() - stop, milliseconds(700)); // the attempt was due in 900 ms
        EXPECT_EQ(result.m_nStatus, 130);
        EXPECT_EQ(result.m_strErr,
                  "kelvane-cli: the device closed the connection; connecting again in 1 s\n"
                  "kelvane-cli: interrupted before every command was answered\n");
        EXPECT_EQ(device.Simulator().Counters().m_nConnections, 1u);
    }

    // An attempt that gets no answer (a listener whose queue of connections is full), in a
    // watch without end, which Ctrl+C ends in order.
    const CSocketLibrary library;
    std::string error;
    CPortableSocket listener = CPortableSocket::Listen("127.0.0.1", 0, error);
    ASSERT_TRUE(listener.IsOpen()) << error;
    const std::uint16_t port = listener.LocalPort();
    std::future<CliRun> run = RunCliAside({"--reconnect", "--connect-timeout", "20000", "127.0.0.1",
                                           "-p", std::to_string(port), "watch"});
    SocketWait wait{&listener, true, false};
    ASSERT_GT(WaitForSockets(std::span<SocketWait>(&wait, 1), 10000), 0);
    std::string peer;
    CPortableSocket device = listener.Accept(peer);
    std::vector<CPortableSocket> queued;
    const ConnectFailure failure = FillConnectQueue(port, queued, error);
    ASSERT_LT(queued.size(), 64u) << "the queue never fills";
    device.Close();
    if (failure != ConnectFailure::TimedOut) {
        RequestCliStop();
        Finish(run, milliseconds(5000));
        GTEST_SKIP() << "this system refuses a connect to a full queue: " << error;
    }
    std::this_thread::sleep_for(milliseconds(1500)); // the attempt began 1 s after the close
    const Clock::time_point stop = Clock::now();
    RequestCliStop();
    const CliRun result = Finish(run, milliseconds(5000));
    EXPECT_LT(Clock::now() - stop, milliseconds(1000));
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    EXPECT_EQ(result.m_strErr,
              "kelvane-cli: watch: the device closed the connection; connecting again in 1 s\n");
}

} // namespace
