// Many clients on one simulated device: they share its table and its reports, none holds up
// another, and the client limit holds.
#include "protocol/DioFrame.h"
#include "tools/simulator/DeviceSimulator.h"

#include "LoopbackClient.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

constexpr milliseconds WAIT(10000);

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& frame) {
    return Bytes(frame.begin(), frame.end());
}

SimulatorOptions LoopbackOptions() {
    SimulatorOptions options;
    options.m_nPort = 0;
    return options;
}

// A request and its answer of answerSize bytes, which must come within timeout.
Bytes Ask(CLoopbackClient& client, const Bytes& request, std::size_t answerSize,
          milliseconds timeout = WAIT) {
    client.TakeReceived();
    if (!client.Send(request) ||
        client.ReceiveUntil([&](const Bytes& b) { return b.size() >= answerSize; }, timeout) !=
            SocketIo::Done) {
        return {};
    }
    return client.TakeReceived();
}

const auto ClientsConnected = [](std::size_t count) {
    return [count](const SimulatorCounters& c) {
        return c.m_nClientsConnected == count;
    };
};

} // namespace

TEST(SimulatorClients, ShareOneDeviceTable) {
    CDeviceSimulator simulator(LoopbackOptions());
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    CLoopbackClient first(simulator.Port());
    CLoopbackClient second(simulator.Port());

    EXPECT_EQ(Ask(first, ToBytes(EncodeSingleWrite(5, 1, 1)), 5),
              (Bytes{0x02, 0x02, 0x00, 0x01, 0x00}));
    EXPECT_EQ(Ask(second, ToBytes(EncodeSingleRead(5)), 7),
              (Bytes{0x01, 0x02, 0x00, 0x03, 0x05, 0x01, 0x01}));
    const DioModeState pairs[] = {{1, 0}, {0, 1}};
    EXPECT_EQ(Ask(second, EncodeMultiWrite(0, 1, pairs), 5), (Bytes{0x06, 0x02, 0x00, 0x01, 0x00}));
    EXPECT_EQ(Ask(first, ToBytes(EncodeMultiRead(0, 1)), 8),
              (Bytes{0x05, 0x02, 0x00, 0x04, 1, 0, 0, 1}));
    EXPECT_EQ(simulator.Counters().m_nConnections, 2u);
}

TEST(SimulatorClients, AnInputChangeIsReportedToEveryClient) {
    CDeviceSimulator simulator(LoopbackOptions());
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    std::vector<std::unique_ptr<CLoopbackClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<CLoopbackClient>(simulator.Port()));
    }
    ASSERT_TRUE(simulator.WaitUntil(ClientsConnected(3), WAIT));

    EXPECT_EQ(simulator.Control("set 2 high"),
              R"({"dio":2,"mode":"input","state":"high","changed":true})");
    for (auto& client : clients) {
        ASSERT_EQ(client->ReceiveBytes(7), SocketIo::Done);
        EXPECT_EQ(client->TakeReceived(), (Bytes{0x01, 0x02, 0x00, 0x03, 0x02, 0x00, 0x01}));
    }
    // A level that does not change is not reported: the next frame is the answer.
    EXPECT_EQ(simulator.Control("set 2 high"),
              R"({"dio":2,"mode":"input","state":"high","changed":false})");
    EXPECT_EQ(Ask(*clients[1], ToBytes(EncodeSingleRead(0)), 7),
              (Bytes{0x01, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00}));
}

// Beside each difficult client, a working client is answered at once, many times over: the
// difficult one holds up nobody, though it stays connected meanwhile.
TEST(SimulatorClients, NoClientHoldsUpAnother) {
    const Bytes rangeRead = ToBytes(EncodeMultiRead(0, 126)); // 258 bytes of answer
    const auto requests = [&](int count) {
        Bytes stream;
        for (int i = 0; i < count; ++i) {
            stream.insert(stream.end(), rangeRead.begin(), rangeRead.end());
        }
        return stream;
    };
    struct Difficult {
        const char* name;
        std::function<void(CDeviceSimulator&, CLoopbackClient&, CLoopbackClient&)> begin;
    };
    const Difficult kinds[] = {
        {"idle after half a frame",
         [](CDeviceSimulator&, CLoopbackClient& device, CLoopbackClient&) {
             EXPECT_TRUE(device.Send(Bytes{0x01, 0x02}));
         }},
        {"sends requests and never reads",
         [&](CDeviceSimulator& simulator, CLoopbackClient& device, CLoopbackClient&) {
             EXPECT_TRUE(device.Send(requests(10000)));
             EXPECT_TRUE(simulator.WaitUntil(
                 [](const SimulatorCounters& c) {
                     return c.m_nMostQueuedFrames == SIM_MAX_QUEUED_FRAMES;
                 },
                 WAIT));
         }},
        {"ended its side and takes nothing",
         [&](CDeviceSimulator& simulator, CLoopbackClient& device, CLoopbackClient&) {
             EXPECT_TRUE(device.Send(requests(2000))); // more than the sockets hold
             device.ShutdownSend();
             EXPECT_TRUE(simulator.WaitForRequests(2000, WAIT));
         }},
        {"floods the control port and never reads",
         [](CDeviceSimulator& simulator, CLoopbackClient&, CLoopbackClient& control) {
             std::string lines;
             for (int i = 0; i < 5000; ++i) {
                 lines += "state\n";
             }
             EXPECT_TRUE(control.SendText(lines));
             EXPECT_TRUE(simulator.WaitUntil(
                 [](const SimulatorCounters& c) { return c.m_nControlCommands >= 20; }, WAIT));
         }},
    };
    for (const Difficult& kind : kinds) {
        SCOPED_TRACE(kind.name);
        SimulatorOptions options = LoopbackOptions();
        options.m_nDioCount = 255;
        options.m_nControlPort = 0;
        CDeviceSimulator simulator(options);
        std::string error;
        ASSERT_TRUE(simulator.Start(error)) << error;
        CLoopbackClient difficult(simulator.Port());
        CLoopbackClient control(simulator.ControlPort());
        kind.begin(simulator, difficult, control);

        CLoopbackClient working(simulator.Port());
        for (int i = 0; i < 20; ++i) {
            ASSERT_EQ(Ask(working, ToBytes(EncodeSingleRead(i)), 7, milliseconds(1000)),
                      (Bytes{0x01, 0x02, 0x00, 0x03, static_cast<std::uint8_t>(i), 0, 0}))
                << "round trip " << i;
        }
        const SimulatorCounters counters = simulator.Counters();
        EXPECT_EQ(counters.m_nClientsConnected, 2u);
        EXPECT_EQ(counters.m_nClientsDropped, 0u);
        // Nor does it pile up answers: once some wait (about 170 here, what the sockets
        // hold), no more lines are read.
        EXPECT_FALSE(simulator.WaitUntil(
            [](const SimulatorCounters& c) { return c.m_nControlCommands >= 1000; },
            milliseconds(500)));
    }
}

TEST(SimulatorClients, OneMoreThanTheLimitIsClosedAtOnce) {
    SimulatorOptions options = LoopbackOptions();
    options.m_nMaxClients = 2;
    std::ostringstream log;
    CDeviceSimulator simulator(options, &log);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    auto first = std::make_unique<CLoopbackClient>(simulator.Port());
    CLoopbackClient second(simulator.Port());
    ASSERT_TRUE(simulator.WaitUntil(ClientsConnected(2), WAIT));

    CLoopbackClient third(simulator.Port());
    const SocketIo end = third.ReceiveToEnd();
    EXPECT_TRUE(end == SocketIo::Closed || end == SocketIo::Reset);
    EXPECT_TRUE(third.Received().empty());
    EXPECT_EQ(simulator.Counters().m_nClientsRefused, 1u);

    // Once one has gone, the next is served.
    first.reset();
    ASSERT_TRUE(simulator.WaitUntil(ClientsConnected(1), WAIT));
    CLoopbackClient fourth(simulator.Port());
    EXPECT_EQ(Ask(fourth, ToBytes(EncodeSingleRead(1)), 7).size(), 7u);
    simulator.Stop();
    EXPECT_NE(log.str().find(": refused, 2 clients are connected already (--max-clients 2)"),
              std::string::npos)
        << log.str();
}

TEST(SimulatorClients, ServesAsManyClientsAsTheLargestLimit) {
#ifndef _WIN32
    // Both ends of every connection are in this process.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 2 * SIM_MAX_CLIENTS + 64) {
        GTEST_SKIP() << "this process may open only " << limit.rlim_cur << " files";
    }
#endif
    SimulatorOptions options = LoopbackOptions();
    options.m_nMaxClients = SIM_MAX_CLIENTS;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    std::vector<std::unique_ptr<CLoopbackClient>> clients;
    for (int i = 0; i < SIM_MAX_CLIENTS; ++i) {
        clients.push_back(std::make_unique<CLoopbackClient>(simulator.Port()));
        ASSERT_TRUE(clients.back()->IsConnected()) << i << ": " << clients.back()->Error();
    }
    for (int i = 0; i < SIM_MAX_CLIENTS; ++i) {
        ASSERT_TRUE(clients[static_cast<std::size_t>(i)]->Send(ToBytes(EncodeSingleRead(i % 9))));
    }
    for (int i = 0; i < SIM_MAX_CLIENTS; ++i) {
        CLoopbackClient& client = *clients[static_cast<std::size_t>(i)];
        ASSERT_EQ(client.ReceiveBytes(7), SocketIo::Done) << i;
        EXPECT_EQ(client.Received()[4], i % 9) << i;
    }
    CLoopbackClient oneMore(simulator.Port());
    const SocketIo end = oneMore.ReceiveToEnd();
    EXPECT_TRUE(end == SocketIo::Closed || end == SocketIo::Reset);
    EXPECT_EQ(simulator.Counters().m_nConnections, static_cast<std::uint64_t>(SIM_MAX_CLIENTS));
}
