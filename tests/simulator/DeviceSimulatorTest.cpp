// The simulator as a server on the loopback interface: what a client sends and gets back.
#include "protocol/DioFrame.h"
#include "protocol/DioFrameReader.h"
#include "tools/simulator/DeviceProtocol.h"
#include "tools/simulator/DeviceSimulator.h"

#include "LoopbackClient.h"
#include "ProcessCpuTime.h"
#include "RecordingReplySink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <sstream>
#include <thread>

namespace {

using Bytes = std::vector<std::uint8_t>;
using SimFrame = Bytes;
using std::chrono::milliseconds;

constexpr milliseconds WAIT(10000);

SimulatorOptions LoopbackOptions() {
    SimulatorOptions options;
    options.m_nPort = 0;
    return options;
}

// The frames of the codes the program acts on or consumes, junk left out.
std::vector<SimFrame> KnownFrames(const Bytes& stream) {
    std::vector<SimFrame> known;
    for (SimFrame& frame : SplitFrames(stream)) {
        if (IsDioCommandCode(frame[0])) {
            known.push_back(std::move(frame));
        }
    }
    return known;
}

const auto HasKnownFrames = [](std::size_t count) {
    return [count](const Bytes& stream) {
        return KnownFrames(stream).size() >= count;
    };
};

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes joined;
    for (const Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& frame) {
    return Bytes(frame.begin(), frame.end());
}

// The answers a fresh device gives to the frames of a request stream, one after the other.
std::vector<SimFrame> ExpectedAnswers(const Bytes& requests, int dioCount = 9) {
    CDioDevice device(dioCount);
    std::vector<SimFrame> answers;
    for (const SimFrame& frame : SplitFrames(requests)) {
        answers.push_back(HandleDioRequest(device, frame).m_vecBytes);
    }
    return answers;
}

// Requests of every kind, good and bad.
Bytes MixedRequests() {
    const DioModeState pairs[] = {{1, 0}, {0, 1}, {1, 1}};
    return Join({ToBytes(EncodeSingleWrite(2, 1, 1)), ToBytes(EncodeSingleRead(2)),
                 Bytes{0x07, 0x02, 0x00, 0x02, 0xAA, 0xBB}, // unknown code
                 EncodeMultiWrite(4, 6, pairs), ToBytes(EncodeMultiRead(3, 7)),
                 Bytes{0x01, 0x05, 0x05, 0x01, 0x00},             // bad fixed bytes
                 ToBytes(EncodeSingleRead(9)),                    // beyond the last DIO
                 ToBytes(EncodeMultiRead(5, 2)),                  // start above end
                 Bytes{0x02, 0x02, 0x00, 0x03, 0x01, 0x03, 0x00}, // mode 3
                 ToBytes(EncodeSingleRead(5))});
}

} // namespace

TEST(SimulatorServer, AnswersRequestsOverTcp) {
    CDeviceSimulator simulator(LoopbackOptions());
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    ASSERT_NE(simulator.Port(), 0);
    CLoopbackClient client(simulator.Port());
    ASSERT_TRUE(client.IsConnected()) << client.Error();

    const DioModeState pairs[] = {{1, 0}, {0, 1}};
    const std::vector<Bytes> requests = {
        ToBytes(EncodeSingleWrite(2, 1, 1)), ToBytes(EncodeSingleRead(2)),
        EncodeMultiWrite(0, 1, pairs), ToBytes(EncodeMultiRead(0, 2))};
    ASSERT_TRUE(client.Send(Join(requests)));
    const Bytes expected = {0x02, 0x02, 0x00, 0x01, 0x00,                       // written
                            0x01, 0x02, 0x00, 0x03, 0x02, 0x01, 0x01,           // DIO 2
                            0x06, 0x02, 0x00, 0x01, 0x00,                       // written
                            0x05, 0x02, 0x00, 0x06, 1,    0,    0,    1, 1, 1}; // DIOs 0 to 2
    ASSERT_EQ(client.ReceiveBytes(expected.size()), SocketIo::Done);
    EXPECT_EQ(client.Received(), expected);

    EXPECT_EQ(simulator.ReceivedRequests(), requests);
    const std::vector<DioModeState> table = simulator.DioTable();
    ASSERT_EQ(table.size(), 9u);
    EXPECT_EQ(table[0].mode, 1);
    EXPECT_EQ(table[0].state, 0);
    EXPECT_EQ(table[1].mode, 0);
    EXPECT_EQ(table[1].state, 1);
    EXPECT_EQ(table[2].mode, 1);
    EXPECT_EQ(table[2].state, 1);
    const SimulatorCounters counters = simulator.Counters();
    EXPECT_EQ(counters.m_nRequests, 4u);
    EXPECT_EQ(counters.m_nErrorReplies, 0u);
    EXPECT_TRUE(counters.m_bClientConnected);
}

// Delayed, cut, randomly cut and junk-laden answers reassemble into the same answers, and the
// program's parser makes the same row updates of them.
TEST(SimulatorServer, ShapedAnswersCarryTheSameFrames) {
    const Bytes requests = MixedRequests();
    const std::vector<SimFrame> answers = ExpectedAnswers(requests);
    const std::vector<SimFrame> expected = KnownFrames(Join(answers)); // less the code-7 answer
    CRecordingReplySink expectedRows(9, 3);
    expectedRows.Feed(Join(answers));

    struct Mode {
        const char* name;
        ReplySplit split;
        int delay;
        int gap;
        int junk;
        std::uint32_t seed;
    };
    const Mode modes[] = {
        {"whole", ReplySplit::Whole, 0, 0, 0, 1},
        {"delayed", ReplySplit::Whole, 30, 0, 0, 1},
        {"bytes", ReplySplit::Bytes, 0, 0, 0, 1},
        {"bytes with gaps", ReplySplit::Bytes, 0, 1, 0, 1},
        {"random", ReplySplit::Random, 0, 0, 0, 9},
        {"junk", ReplySplit::Whole, 0, 0, 3, 4},
        {"junk in random pieces", ReplySplit::Random, 5, 1, 2, 77},
    };
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        SimulatorOptions options = LoopbackOptions();
        options.m_split = mode.split;
        options.m_nReplyDelayMs = mode.delay;
        options.m_nPieceGapMs = mode.gap;
        options.m_nJunkFrames = mode.junk;
        options.m_nSeed = mode.seed;
        CDeviceSimulator simulator(options);
        std::string error;
        ASSERT_TRUE(simulator.Start(error)) << error;
        CLoopbackClient client(simulator.Port());
        ASSERT_TRUE(client.Send(requests));
        ASSERT_EQ(client.ReceiveUntil(HasKnownFrames(expected.size())), SocketIo::Done);
        EXPECT_EQ(KnownFrames(client.Received()), expected);
        if (mode.junk > 0) {
            EXPECT_EQ(SplitFrames(client.Received()).size(), answers.size() * (1 + mode.junk));
        } else {
            EXPECT_EQ(client.Received(), Join(answers));
        }
        CRecordingReplySink rows(9, 3);
        rows.Feed(client.Received());
        EXPECT_EQ(rows.m_vecUpdates, expectedRows.m_vecUpdates);
    }
}

// Requests arriving a byte at a time, with bad frames among them, are answered as if they had
// come whole, and the connection goes on serving.
TEST(SimulatorServer, SplitRequestsAndBadBytesKeepTheFraming) {
    CDeviceSimulator simulator(LoopbackOptions());
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    CLoopbackClient client(simulator.Port());
    const Bytes requests = MixedRequests();
    for (const std::uint8_t byte : requests) {
        ASSERT_TRUE(client.Send(Bytes{byte}));
    }
    const std::vector<SimFrame> expected = ExpectedAnswers(requests);
    ASSERT_EQ(client.ReceiveBytes(Join(expected).size()), SocketIo::Done);
    EXPECT_EQ(client.TakeReceived(), Join(expected));

    ASSERT_TRUE(client.Send(ToBytes(EncodeSingleRead(4))));
    ASSERT_EQ(client.ReceiveBytes(7), SocketIo::Done);
    EXPECT_EQ(client.Received(), (Bytes{0x01, 0x02, 0x00, 0x03, 0x04, 0x01, 0x00}));
    EXPECT_EQ(simulator.Counters().m_nErrorReplies, 5u);
}

TEST(SimulatorServer, ClosesAfterTheGivenNumberOfRequests) {
    SimulatorOptions options = LoopbackOptions();
    options.m_nEndAfterRequests = 2;
    options.m_end = ConnectionEnd::Close;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;

    CLoopbackClient client(simulator.Port());
    const Bytes read = ToBytes(EncodeSingleRead(1));
    ASSERT_TRUE(client.Send(Join({read, read, read})));
    EXPECT_EQ(client.ReceiveToEnd(), SocketIo::Closed);
    const Bytes answer = {0x01, 0x02, 0x00, 0x03, 0x01, 0x00, 0x00};
    EXPECT_EQ(client.Received(), Join({answer, answer})); // the third is never served
    EXPECT_EQ(simulator.ReceivedRequests().size(), 2u);

    // The count starts again with the next client.
    CLoopbackClient next(simulator.Port());
    ASSERT_TRUE(next.Send(read));
    ASSERT_EQ(next.ReceiveBytes(7), SocketIo::Done);
    EXPECT_EQ(next.Received(), answer);
}

TEST(SimulatorServer, ResetsAfterTheGivenNumberOfRequests) {
    SimulatorOptions options = LoopbackOptions();
    options.m_nEndAfterRequests = 1;
    options.m_end = ConnectionEnd::Reset;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;

    CLoopbackClient client(simulator.Port());
    ASSERT_TRUE(client.Send(ToBytes(EncodeSingleRead(0))));
    const SocketIo end = client.ReceiveToEnd();
    EXPECT_EQ(client.Received(), (Bytes{0x01, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00}));
    if (end == SocketIo::Closed) {
        // Some socket layers take the reset's error in their own poll and then report the end
        // of the stream; the connection is still gone, so nothing can be sent any more (after
        // an orderly close the client could still send).
        EXPECT_FALSE(client.Send(Bytes{0x01}));
    } else {
        EXPECT_EQ(end, SocketIo::Reset);
    }
    EXPECT_TRUE(simulator.WaitUntil(
        [](const SimulatorCounters& c) { return c.m_nDisconnections == 1; }, WAIT));
}

TEST(SimulatorServer, FloodsValidReportsThenKeepsServing) {
    SimulatorOptions options = LoopbackOptions();
    options.m_nFloodBytes = 70000;
    std::ostringstream log;
    CDeviceSimulator simulator(options, &log);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;

    CLoopbackClient client(simulator.Port());
    const std::size_t flood = 70000 / 7 * 7; // whole frames only
    ASSERT_EQ(client.ReceiveBytes(flood), SocketIo::Done);
    const Bytes received = client.TakeReceived();
    ASSERT_EQ(received.size(), flood); // nothing more until asked
    const std::vector<SimFrame> frames = SplitFrames(received);
    ASSERT_EQ(frames.size(), flood / 7);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const SimFrame& frame = frames[i];
        ASSERT_EQ(frame.size(), 7u) << i;
        ASSERT_EQ(frame[0], 0x01) << i;
        ASSERT_LT(frame[4], 9) << i;
        ASSERT_LE(frame[5], 1) << i;
        ASSERT_LE(frame[6], 1) << i;
    }

    // Served as usual afterwards, and a read agrees with the last report of that DIO.
    ASSERT_TRUE(client.Send(ToBytes(EncodeMultiRead(0, 8))));
    ASSERT_EQ(client.ReceiveBytes(22), SocketIo::Done);
    const Bytes answer = client.Received();
    for (std::size_t back = 1; back <= 9; ++back) {
        const SimFrame& report = frames[frames.size() - back];
        EXPECT_EQ(answer[4 + 2 * report[4]], report[5]);
        EXPECT_EQ(answer[5 + 2 * report[4]], report[6]);
    }
    EXPECT_TRUE(simulator.WaitUntil(
        [&](const SimulatorCounters& c) { return c.m_nFloodsDone == 1; }, WAIT));
    EXPECT_EQ(simulator.Counters().m_nFloodedBytes, flood);
    client.Close();
    simulator.Stop();
    EXPECT_NE(log.str().find(": flooded " + std::to_string(flood) + " bytes"), std::string::npos)
        << log.str().substr(0, 2000);
}

TEST(SimulatorServer, AnswersRequestsDuringAFloodBetweenItsFrames) {
    SimulatorOptions options = LoopbackOptions();
    options.m_nFloodBytes = 700000;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;

    CLoopbackClient client(simulator.Port());
    ASSERT_TRUE(client.Send(ToBytes(EncodeSingleWrite(8, 1, 0))));
    const std::size_t flood = 700000 / 7 * 7;
    ASSERT_EQ(client.ReceiveBytes(flood + 5), SocketIo::Done);
    ASSERT_EQ(client.Received().size(), flood + 5);
    std::size_t writeAnswers = 0;
    for (const SimFrame& frame : SplitFrames(client.Received())) {
        if (frame[0] == 0x02) {
            EXPECT_EQ(frame, (SimFrame{0x02, 0x02, 0x00, 0x01, 0x00}));
            ++writeAnswers;
        } else {
            ASSERT_EQ(frame.size(), 7u);
            ASSERT_EQ(frame[0], 0x01);
        }
    }
    EXPECT_EQ(writeAnswers, 1u);
}

TEST(SimulatorServer, FloodsForTheGivenTime) {
    SimulatorOptions options = LoopbackOptions();
    options.m_nFloodSeconds = 1;
    options.m_nDioCount = 4;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;

    CLoopbackClient client(simulator.Port());
    std::uint64_t total = 0;
    bool valid = true;
    const auto check = [&](const std::uint8_t* data, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i, ++total) {
            const std::uint8_t b = data[i];
            switch (total % 7) {
            case 0:
                valid = valid && b == 0x01;
                break;
            case 1:
                valid = valid && b == 0x02;
                break;
            case 2:
                valid = valid && b == 0x00;
                break;
            case 3:
                valid = valid && b == 0x03;
                break;
            case 4:
                valid = valid && b < 4;
                break;
            default:
                valid = valid && b <= 1;
                break;
            }
        }
    };
    const auto floodOver = [&] {
        const SimulatorCounters c = simulator.Counters();
        return c.m_nFloodsDone == 1 && total == c.m_nFloodedBytes;
    };
    ASSERT_EQ(client.Stream(check, floodOver), SocketIo::Done);
    EXPECT_TRUE(valid);
    EXPECT_GT(total, 0u);
    EXPECT_EQ(total % 7, 0u);
}

TEST(SimulatorServer, ReportsEachToggleOfAnInputDio) {
    SimulatorOptions options = LoopbackOptions();
    options.m_vecToggleDios = {1, 3};
    options.m_nToggleMs = 20;
    CDeviceSimulator simulator(options);
    simulator.SetDio(3, DIO_MODE_OUTPUT, DIO_STATE_LOW); // an output does not toggle
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;

    CLoopbackClient client(simulator.Port());
    ASSERT_EQ(client.ReceiveUntil(HasKnownFrames(4)), SocketIo::Done);
    const std::vector<SimFrame> reports = SplitFrames(client.Received());
    ASSERT_GE(reports.size(), 4u);
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const SimFrame& report = reports[i];
        ASSERT_EQ(report.size(), 7u);
        EXPECT_EQ((Bytes{report.begin(), report.begin() + 6}),
                  (Bytes{0x01, 0x02, 0x00, 0x03, 0x01, 0x00}));
        if (i > 0) {
            EXPECT_NE(report[6], reports[i - 1][6]) << "the level alternates";
        }
    }
    EXPECT_EQ(simulator.DioTable()[3].state, DIO_STATE_LOW);
    EXPECT_TRUE(simulator.WaitUntil(
        [](const SimulatorCounters& c) { return c.m_nReportsSent >= 4; }, WAIT));
}

TEST(SimulatorServer, StopsPromptlyWhileAClientIsIdle) {
    CDeviceSimulator simulator(LoopbackOptions());
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    CLoopbackClient client(simulator.Port());
    ASSERT_TRUE(
        simulator.WaitUntil([](const SimulatorCounters& c) { return c.m_bClientConnected; }, WAIT));

    simulator.Stop(); // returns although the client sends nothing
    EXPECT_FALSE(simulator.IsRunning());
    const SocketIo end = client.ReceiveToEnd();
    EXPECT_TRUE(end == SocketIo::Closed || end == SocketIo::Reset);
    simulator.Stop(); // again: harmless
}

TEST(SimulatorServer, OutlivesClientsThatResetOrLeaveBeforeTheirAnswer) {
    SimulatorOptions options = LoopbackOptions();
    options.m_nReplyDelayMs = 50;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;

    {
        CLoopbackClient halfFrame(simulator.Port());
        ASSERT_TRUE(halfFrame.Send(Bytes{0x02, 0x02, 0x00, 0x03, 0x01}));
        ASSERT_TRUE(simulator.WaitUntil(
            [](const SimulatorCounters& c) { return c.m_nConnections == 1; }, WAIT));
        halfFrame.Reset();
    }
    {
        CLoopbackClient leaver(simulator.Port());
        ASSERT_TRUE(leaver.Send(ToBytes(EncodeMultiRead(0, 8))));
        ASSERT_TRUE(simulator.WaitForRequests(1, WAIT));
        leaver.Reset(); // gone before the delayed answer
    }
    {
        CLoopbackClient closer(simulator.Port());
        ASSERT_TRUE(closer.Send(ToBytes(EncodeSingleRead(0))));
        ASSERT_TRUE(simulator.WaitForRequests(2, WAIT));
        closer.Close();
    }
    CLoopbackClient client(simulator.Port());
    ASSERT_TRUE(client.Send(ToBytes(EncodeSingleRead(8))));
    ASSERT_EQ(client.ReceiveBytes(7), SocketIo::Done);
    EXPECT_EQ(client.Received(), (Bytes{0x01, 0x02, 0x00, 0x03, 0x08, 0x00, 0x00}));
    EXPECT_EQ(simulator.Counters().m_nConnections, 4u);
}

TEST(SimulatorServer, AClientThatEndsItsSideStillGetsItsAnswers) {
    // The program's way of disconnecting: it ends its sending side and waits for the device
    // to close.
    SimulatorOptions options = LoopbackOptions();
    options.m_nReplyDelayMs = 20;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    CLoopbackClient client(simulator.Port());
    ASSERT_TRUE(client.Send(ToBytes(EncodeSingleRead(1))));
    client.ShutdownSend();
    EXPECT_EQ(client.ReceiveToEnd(), SocketIo::Closed);
    EXPECT_EQ(client.Received(), (Bytes{0x01, 0x02, 0x00, 0x03, 0x01, 0x00, 0x00}));
}

// The half-close rule with delayed answers: a client that ends its side at once still gets
// every answer when it is due, though that is later than the client time-out, then an
// orderly close.
TEST(SimulatorServer, AHalfClosedClientGetsItsDelayedAnswersThenTheClose) {
    SimulatorOptions options = LoopbackOptions();
    options.m_nClientTimeoutMs = 500;
    options.m_nReplyDelayMs = 1200;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    CLoopbackClient client(simulator.Port());
    const Bytes read = ToBytes(EncodeSingleRead(6));
    ASSERT_TRUE(client.Send(Join({read, read, read})));
    client.ShutdownSend();
    EXPECT_EQ(client.ReceiveToEnd(), SocketIo::Closed);
    const Bytes answer = {0x01, 0x02, 0x00, 0x03, 0x06, 0x00, 0x00};
    EXPECT_EQ(client.Received(), Join({answer, answer, answer}));
    EXPECT_EQ(simulator.Counters().m_nClientsDropped, 0u);
}

// With junk frames on, a request is answered only when its answer and its junk frames all
// fit: the queue never holds more than its limit, and no answer is lost.
TEST(SimulatorServer, TheQueueLimitCountsJunkFramesToo) {
    SimulatorOptions options = LoopbackOptions();
    options.m_nDioCount = 255;
    options.m_nJunkFrames = 16;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    CLoopbackClient client(simulator.Port());
    const Bytes read = ToBytes(EncodeMultiRead(0, 126));
    Bytes requests;
    for (int i = 0; i < 5000; ++i) {
        requests.insert(requests.end(), read.begin(), read.end());
    }
    ASSERT_TRUE(client.Send(requests));
    ASSERT_TRUE(simulator.WaitUntil(
        [](const SimulatorCounters& c) {
            return c.m_nMostQueuedFrames + 16 >= SIM_MAX_QUEUED_FRAMES;
        },
        WAIT));
    std::size_t answers = 0;
    CDioFrameReader reader;
    const auto count = [&](const std::uint8_t* data, std::size_t length) {
        reader.ReadFrames(data, length, [&](const DioFrameView& frame) {
            answers += frame.m_header.m_nCode == DIO_CMD_MULTI_READ ? 1 : 0;
        });
    };
    ASSERT_EQ(client.Stream(count, [&] { return answers == 5000; }), SocketIo::Done);
    EXPECT_LE(simulator.Counters().m_nMostQueuedFrames, SIM_MAX_QUEUED_FRAMES);
}

TEST(SimulatorServer, PrintsEachRequestAndAnswerAsADump) {
    for (const bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "quiet" : "dumps");
        SimulatorOptions options = LoopbackOptions();
        options.m_bQuiet = quiet;
        std::ostringstream log;
        CDeviceSimulator simulator(options, &log);
        std::string error;
        ASSERT_TRUE(simulator.Start(error)) << error;
        {
            CLoopbackClient client(simulator.Port());
            ASSERT_TRUE(client.Send(ToBytes(EncodeSingleRead(3))));
            ASSERT_EQ(client.ReceiveBytes(7), SocketIo::Done);
        }
        ASSERT_TRUE(simulator.WaitUntil(
            [](const SimulatorCounters& c) { return c.m_nDisconnections == 1; }, WAIT));
        simulator.Stop();

        const std::string text = log.str();
        const std::string listening =
            "kelvane-sim: listening on 127.0.0.1:" + std::to_string(simulator.Port()) +
            ", 9 DIOs\n";
        EXPECT_EQ(text.rfind(listening, 0), 0u) << text;
        EXPECT_NE(text.find("client 127.0.0.1:"), std::string::npos) << text;
        const std::string request = ": request\n< 01 02 00 01 03" + std::string(33, ' ') + " | ";
        const std::string answer = ": answer (read DIO 3: Input, Low)\n> 01 02 00 03 03 00 00";
        EXPECT_EQ(text.find(request) != std::string::npos, !quiet) << text;
        EXPECT_EQ(text.find(answer) != std::string::npos, !quiet) << text;
        EXPECT_EQ(text.find('\r'), std::string::npos);
    }
}

TEST(SimulatorServer, StartFailsCleanly) {
    CDeviceSimulator first(LoopbackOptions());
    std::string error;
    ASSERT_TRUE(first.Start(error)) << error;
    EXPECT_FALSE(first.Start(error));
    EXPECT_EQ(error, "the simulator is running already");

    SimulatorOptions options = LoopbackOptions();
    options.m_nPort = first.Port();
    CDeviceSimulator second(options);
    EXPECT_FALSE(second.Start(error));
    EXPECT_NE(error.find("the port is in use"), std::string::npos) << error;
    EXPECT_FALSE(second.IsRunning());

    CDeviceSimulator neverStarted(LoopbackOptions()); // destroyed without Start
}

namespace {

// A client whose time-out is short, so that the faults below show within a test.
SimulatorOptions ImpatientOptions() {
    SimulatorOptions options = LoopbackOptions();
    options.m_nClientTimeoutMs = 1000;
    return options;
}

// Plays a difficult client (fault returns when its part is over) and checks what the
// simulator did meanwhile: it waited rather than spun (its CPU time stays far below the wall
// time, and it woke up no more often than its timed events ask, at most every millisecond),
// its queue stayed within the limit, and it serves the next client afterwards. (Under Wine a
// wait costs the Wine server's time, not this process's: there the count of wakeups tells.)
void ExpectCalmBoundedAndServing(CDeviceSimulator& simulator, const std::function<void()>& fault) {
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = ProcessCpuSeconds();
    const std::uint64_t waitsStart = simulator.Counters().m_nWaits;
    fault();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const double waits = static_cast<double>(simulator.Counters().m_nWaits - waitsStart);
    ASSERT_GE(cpuStart, 0) << "the CPU time cannot be read";
    EXPECT_LT(cpu, wall / 4) << "CPU " << cpu << " s in " << wall << " s";
    EXPECT_LT(waits, 1500 * wall) << waits << " waits in " << wall << " s";
    EXPECT_LE(simulator.Counters().m_nMostQueuedFrames, SIM_MAX_QUEUED_FRAMES);

    CLoopbackClient next(simulator.Port());
    ASSERT_TRUE(next.Send(ToBytes(EncodeMultiRead(0, 0))));
    const auto hasRangeAnswer = [](const Bytes& stream) {
        const std::vector<SimFrame> frames = KnownFrames(stream);
        return std::any_of(frames.begin(), frames.end(),
                           [](const SimFrame& f) { return f[0] == 0x05; });
    };
    EXPECT_EQ(next.ReceiveUntil(hasRangeAnswer), SocketIo::Done);
}

const auto Dropped = [](const SimulatorCounters& c) {
    return c.m_nClientsDropped == 1;
};
const auto QueueFull = [](const SimulatorCounters& c) {
    return c.m_nMostQueuedFrames >= SIM_MAX_QUEUED_FRAMES;
};

} // namespace

// A flood against a reader as slow as the program: the simulator waits for the socket, and a
// reader that keeps taking bytes is never dropped, however long the time-out is exceeded.
TEST(SimulatorServer, WaitsForASlowReaderWithoutSpinningOrDroppingIt) {
    SimulatorOptions options = ImpatientOptions();
    options.m_nFloodSeconds = 60;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    ExpectCalmBoundedAndServing(simulator, [&] {
        CLoopbackClient client(simulator.Port());
        client.LimitReads(4096);
        std::uint64_t total = 0;
        const auto end = std::chrono::steady_clock::now() + milliseconds(2500);
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(milliseconds(10)); // about 400 KB/s at most
            ASSERT_EQ(client.ReceiveUntil([](const Bytes& b) { return b.size() >= 4096; }),
                      SocketIo::Done);
            total += client.TakeReceived().size();
        }
        const SimulatorCounters counters = simulator.Counters();
        EXPECT_EQ(counters.m_nClientsDropped, 0u);
        EXPECT_TRUE(counters.m_bClientConnected);
        EXPECT_GE(counters.m_nFloodedBytes, total);
        client.Reset();
    });
}

// Clients that send many requests and end their side without taking the answers: one that
// never reads is dropped for it, and one that reads slowly gets until the time-out after its
// last answer was due.
TEST(SimulatorServer, DropsAHalfClosedClientThatDoesNotTakeItsAnswers) {
    SimulatorOptions options = ImpatientOptions();
    options.m_nDioCount = 255;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    const auto requests = [](int count) {
        const Bytes read = ToBytes(EncodeMultiRead(0, 126)); // 258 bytes of answer
        Bytes stream;
        for (int i = 0; i < count; ++i) {
            stream.insert(stream.end(), read.begin(), read.end());
        }
        return stream;
    };
    // Answering requests is real work; what is measured is the wait once the queue is full.
    CLoopbackClient client(simulator.Port()); // 10 MB of answers, more than sockets hold
    ASSERT_TRUE(client.Send(requests(40000)));
    client.ShutdownSend();
    ASSERT_TRUE(simulator.WaitUntil(QueueFull, WAIT));
    ExpectCalmBoundedAndServing(simulator,
                                [&] { EXPECT_TRUE(simulator.WaitUntil(Dropped, WAIT)); });

    CLoopbackClient slow(simulator.Port()); // 1 MB, which takes it 10 s
    slow.LimitReads(1024);
    ASSERT_TRUE(slow.Send(requests(4000)));
    slow.ShutdownSend();
    SocketIo io = SocketIo::Done;
    const auto end = std::chrono::steady_clock::now() + WAIT;
    while (io == SocketIo::Done && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(milliseconds(10));
        io = slow.ReceiveUntil([](const Bytes& b) { return !b.empty(); });
        slow.TakeReceived();
    }
    EXPECT_TRUE(io == SocketIo::Reset || io == SocketIo::Closed);
    EXPECT_EQ(simulator.Counters().m_nClientsDropped, 2u);
}

// Inputs that toggle fast for a client that never reads: the reports coalesce instead of
// growing the queue, and the client is dropped after the time-out.
TEST(SimulatorServer, CoalescesReportsForAClientThatNeverReads) {
    SimulatorOptions options = ImpatientOptions();
    options.m_nDioCount = 255;
    options.m_vecToggleDios.resize(255);
    std::iota(options.m_vecToggleDios.begin(), options.m_vecToggleDios.end(), 0);
    options.m_nToggleMs = 1;
    CDeviceSimulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    CLoopbackClient client(simulator.Port());
    // Filling the sockets with 7-byte reports is real work; what is measured is the wait once
    // the queue is full.
    ASSERT_TRUE(simulator.WaitUntil(QueueFull, WAIT));
    ExpectCalmBoundedAndServing(simulator, [&] {
        EXPECT_TRUE(simulator.WaitUntil(Dropped, WAIT));
        EXPECT_EQ(simulator.Counters().m_nMostQueuedFrames, SIM_MAX_QUEUED_FRAMES);
    });
}
