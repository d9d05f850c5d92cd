// The control port: its lines, every command's answer, bad input, and faults changed while
// clients stay connected.
#include "protocol/DioFrame.h"
#include "protocol/DioFrameReader.h"
#include "tools/simulator/ControlCommand.h"
#include "tools/simulator/DeviceSimulator.h"

#include "LoopbackClient.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

constexpr milliseconds WAIT(10000);

SimulatorOptions ControlledOptions() {
    SimulatorOptions options;
    options.m_nPort = 0;
    options.m_nControlPort = 0;
    return options;
}

// Everything a line reader hands over for the chunks, one string a line ("!" for too long).
std::vector<std::string> Lines(const std::vector<std::string>& chunks) {
    CControlLineReader reader;
    std::vector<std::string> lines;
    for (const std::string& chunk : chunks) {
        reader.Feed(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
        EXPECT_LE(reader.HeldBytes(), chunk.size() + CONTROL_MAX_LINE + 2);
        std::string line;
        bool tooLong = false;
        while (reader.Next(line, tooLong)) {
            lines.push_back(tooLong ? "!" : line);
        }
    }
    return lines;
}

} // namespace

TEST(SimulatorControlLines, TakeLinesUpToTheLimitAndRefuseLongerOnesInTheirPlace) {
    const std::string longest(CONTROL_MAX_LINE, 'a');
    EXPECT_EQ(Lines({"state\nfaults\r\nhel", "p\n\n"}),
              (std::vector<std::string>{"state", "faults", "help", ""}));
    EXPECT_EQ(Lines({longest + "\n", longest + "\r\n", longest + "b\n", "state\n"}),
              (std::vector<std::string>{longest, longest, "!", "state"}));
    // A line that never ends is not held: its bytes go as they come, and its end, when it
    // comes, marks its place among the others.
    std::vector<std::string> chunks = {"help\n" + longest.substr(0, 100)};
    for (int i = 0; i < 300; ++i) {
        chunks.push_back(std::string(4096, 'x'));
    }
    chunks.push_back("x\nstate\n");
    EXPECT_EQ(Lines(chunks), (std::vector<std::string>{"help", "!", "state"}));
    EXPECT_EQ(Lines({longest.substr(0, 3000), longest.substr(0, 2000) + "\nstate\n"}),
              (std::vector<std::string>{"!", "state"}));
}

// One script over the control port: every command, and every kind of bad line, which changes
// nothing.
TEST(SimulatorControlPort, AnswersEveryLineWithOneLineOfJson) {
    CDeviceSimulator simulator(ControlledOptions());
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    CLoopbackClient device(simulator.Port());
    ASSERT_TRUE(
        simulator.WaitUntil([](const SimulatorCounters& c) { return c.m_bClientConnected; }, WAIT));
    CLoopbackClient control(simulator.ControlPort());
    ASSERT_TRUE(control.IsConnected()) << control.Error();

    std::string table;
    for (int dio = 0; dio < 9; ++dio) {
        table += std::string(dio == 0 ? "" : ",") + R"({"dio":)" + std::to_string(dio) +
                 R"(,"mode":"input","state":")" + (dio == 3 ? "high" : "low") + R"("})";
    }
    const std::pair<std::string, std::string> script[] = {
        {"set 3 high", R"({"dio":3,"mode":"input","state":"high","changed":true})"},
        {"state", R"({"dios":[)" + table + "]}"},
        {"set 4 output high", R"({"dio":4,"mode":"output","state":"high","changed":true})"},
        {"set 4 low",
         R"j({"error":"set: DIO 4 is an output, which the device drives (set DIO MODE STATE forces it)"})j"},
        {" set\t4  input   low \r", R"({"dio":4,"mode":"input","state":"low","changed":true})"},
        {"fault delay 20", R"({"fault":"delay","value":"20"})"},
        {"fault split bytes", R"({"fault":"split","value":"bytes"})"},
        {"fault delay off", R"({"fault":"delay","value":"off"})"},
        // Bad lines.
        {"sate", R"({"error":"unknown command 'sate': try help"})"},
        {"", R"({"error":"empty line: try help"})"},
        {"set x high", R"({"error":"set: 'x' is not a DIO number"})"},
        {"set 9 high", R"j({"error":"set: DIO 9 is beyond the last DIO (8)"})j"},
        {"set 99999999999 high", R"({"error":"set: '99999999999' is not a DIO number"})"},
        {"set 1 hi", R"j({"error":"set: 'hi' is not a state (low or high)"})j"},
        {"set 1 in low", R"j({"error":"set: 'in' is not a mode (input or output)"})j"},
        {"set 1", R"({"error":"usage: set DIO STATE, or set DIO MODE STATE"})"},
        {"state now", R"({"error":"usage: state"})"},
        {"fault delay 60001",
         R"({"error":"fault delay: '60001' is not a whole number from 0 to 60000"})"},
        {"fault delay", R"({"error":"usage: fault NAME VALUE, or fault NAME off"})"},
        {"fault toggle 9", R"j({"error":"fault toggle: DIO 9 is beyond the last DIO (8)"})j"},
        {"fault nosuch 1",
         R"({"error":"fault: 'nosuch' is not one of delay, split, gap, junk, close-after, reset-after, flood-seconds, flood-bytes, toggle, toggle-ms"})"},
        {"drop 99", R"({"error":"drop: there is no client 99"})"},
        {"reset all", R"({"error":"reset: 'all' is not a client id"})"},
        {std::string("set 1 \x01\xff\xfe"),
         R"({"error":"the line holds bytes that are not text"})"},
        {std::string(CONTROL_MAX_LINE + 1, 's'),
         R"({"error":"the line is longer than 4096 bytes"})"},
        // Nothing of the above changed anything.
        {"faults", R"({"faults":{"split":"bytes"}})"},
        {"state", R"({"dios":[)" + table + "]}"},
        {"drop 1", R"({"dropped":[1]})"},
    };
    std::string lines;
    for (const auto& [line, answer] : script) {
        lines += line + "\n";
    }
    ASSERT_TRUE(control.SendText(lines)); // all at once: the answers still come one a line
    for (const auto& [line, answer] : script) {
        EXPECT_EQ(control.TakeLine(), answer) << line.substr(0, 60);
    }
    // The reports of DIO 3 and DIO 4 (in pieces now), then the end of the stream.
    EXPECT_EQ(device.ReceiveToEnd(), SocketIo::Closed);
    EXPECT_EQ(SplitFrames(device.Received()),
              (std::vector<Bytes>{{0x01, 0x02, 0x00, 0x03, 0x03, 0x00, 0x01},
                                  {0x01, 0x02, 0x00, 0x03, 0x04, 0x01, 0x01},
                                  {0x01, 0x02, 0x00, 0x03, 0x04, 0x00, 0x00}}));

    device.Close();
    ASSERT_TRUE(simulator.WaitUntil(
        [](const SimulatorCounters& c) { return c.m_nDisconnections == 1; }, WAIT));
    CLoopbackClient next(simulator.Port());
    ASSERT_TRUE(simulator.WaitUntil(
        [](const SimulatorCounters& c) { return c.m_nClientsConnected == 1; }, WAIT));
    ASSERT_TRUE(control.SendText("clients\nhelp\nreset 2\n"));
    const std::string clients = control.TakeLine();
    EXPECT_EQ(clients.rfind(R"({"clients":[{"id":2,"address":"127.0.0.1:)", 0), 0u) << clients;
    EXPECT_EQ(control.TakeLine().rfind(R"({"help":["state: every DIO's mode and state",)", 0), 0u);
    EXPECT_EQ(control.TakeLine(), R"({"reset":[2]})");
    const SocketIo end = next.ReceiveToEnd();
    EXPECT_TRUE(end == SocketIo::Reset || end == SocketIo::Closed);
}

// Faults changed while clients stay connected take effect for the next request, frame or
// connection.
TEST(SimulatorControlPort, FaultsChangeWhileClientsStayConnected) {
    CDeviceSimulator simulator(ControlledOptions());
    std::string error;
    ASSERT_TRUE(simulator.Start(error)) << error;
    CLoopbackClient client(simulator.Port());
    const Bytes read = {0x01, 0x02, 0x00, 0x01, 0x02};
    const Bytes answer = {0x01, 0x02, 0x00, 0x03, 0x02, 0x00, 0x00};
    const auto frames = [](std::size_t count) {
        return [count](const Bytes& b) {
            return SplitFrames(b).size() >= count;
        };
    };

    simulator.Control("fault junk 2");
    ASSERT_TRUE(client.Send(read));
    ASSERT_EQ(client.ReceiveUntil(frames(3)), SocketIo::Done);
    std::vector<Bytes> received = SplitFrames(client.TakeReceived());
    ASSERT_EQ(received.size(), 3u);
    EXPECT_FALSE(IsDioCommandCode(received[0][0]));
    EXPECT_EQ(received[2], answer);

    simulator.Control("fault junk off");
    simulator.Control("fault flood-bytes 700");
    ASSERT_TRUE(client.Send(read));
    ASSERT_EQ(client.ReceiveBytes(7), SocketIo::Done);
    EXPECT_EQ(client.TakeReceived(), answer); // the flood is for the next connection

    CLoopbackClient flooded(simulator.Port());
    ASSERT_EQ(flooded.ReceiveBytes(700), SocketIo::Done);
    ASSERT_TRUE(
        simulator.WaitUntil([](const SimulatorCounters& c) { return c.m_nFloodsDone == 1; }, WAIT));
    EXPECT_EQ(flooded.Received().size(), 700u);

    simulator.Control("set 5 input low"); // the flood may have left it an output
    simulator.Control("fault toggle 5");
    simulator.Control("fault toggle-ms 10");
    ASSERT_EQ(client.ReceiveUntil(frames(2)), SocketIo::Done); // each client gets the reports
    received = SplitFrames(client.TakeReceived());
    EXPECT_EQ(received[0][4], 5);
    EXPECT_NE(received[0][6], received[1][6]);
    simulator.Control("fault toggle off");

    simulator.Control("fault close-after 1");
    client.TakeReceived();
    ASSERT_TRUE(client.Send(read));
    EXPECT_EQ(client.ReceiveToEnd(), SocketIo::Closed);
    received = SplitFrames(client.Received());
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back(), answer);
}

// Each setting of each fault can be set, is listed while on, and turned off; a new fault
// needs its line here.
TEST(SimulatorControlPort, EveryFaultSettingCanBeSetListedAndTurnedOff) {
    const std::pair<const char*, const char*> samples[] = {
        {"delay", "250"},     {"split", "random"},  {"gap", "3"},           {"junk", "16"},
        {"close-after", "7"}, {"reset-after", "8"}, {"flood-seconds", "2"}, {"flood-bytes", "1000"},
        {"toggle", "0,2,3"},  {"toggle-ms", "20"}};
    std::set<std::string> registered;
    for (const std::unique_ptr<CSimFault>& fault : MakeSimFaults()) {
        for (const SimFaultSetting& setting : fault->Settings()) {
            registered.insert(std::string(setting.m_strName));
        }
    }
    std::set<std::string> sampled;
    CDeviceSimulator simulator(ControlledOptions()); // not started: the commands run at once
    for (const auto& [name, value] : samples) {
        SCOPED_TRACE(name);
        sampled.insert(name);
        EXPECT_EQ(simulator.Control("fault " + std::string(name) + " " + value),
                  R"({"fault":")" + std::string(name) + R"(","value":")" + value + "\"}");
        // Listed alone: no other setting is on.
        EXPECT_EQ(simulator.Control("faults"),
                  R"({"faults":{")" + std::string(name) + R"(":")" + value + "\"}}");
        EXPECT_EQ(simulator.Control("fault " + std::string(name) + " off"),
                  R"({"fault":")" + std::string(name) + R"(","value":"off"})");
        EXPECT_EQ(simulator.Control("faults"), R"({"faults":{}})");
    }
    EXPECT_EQ(sampled, registered);
}
