// The device's answers to requests, and that an answer to a bad request never moves a row in
// the program.
#include "protocol/DioFrame.h"
#include "tools/simulator/DeviceProtocol.h"

#include "RecordingReplySink.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

SimReply Handle(CDioDevice& device, const Bytes& frame) {
    return HandleDioRequest(device, frame);
}

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& frame) {
    return Bytes(frame.begin(), frame.end());
}

} // namespace

TEST(SimulatorProtocol, SingleReadAnswersTheDiosModeAndState) {
    CDioDevice device;
    device.Set(3, DIO_MODE_OUTPUT, DIO_STATE_HIGH);
    const SimReply reply = Handle(device, ToBytes(EncodeSingleRead(3)));
    EXPECT_EQ(reply.m_vecBytes, (Bytes{0x01, 0x02, 0x00, 0x03, 0x03, 0x01, 0x01}));
    EXPECT_EQ(reply.m_nStatus, SIM_STATUS_OK);
    // Every DIO starts as "Input" and "Low".
    EXPECT_EQ(Handle(device, ToBytes(EncodeSingleRead(8))).m_vecBytes,
              (Bytes{0x01, 0x02, 0x00, 0x03, 0x08, 0x00, 0x00}));
}

TEST(SimulatorProtocol, SingleWriteAppliesAndAnswersDone) {
    CDioDevice device;
    const SimReply reply = Handle(device, ToBytes(EncodeSingleWrite(0, 1, 1)));
    EXPECT_EQ(reply.m_vecBytes, (Bytes{0x02, 0x02, 0x00, 0x01, 0x00}));
    EXPECT_EQ(device.Get(0).mode, 1);
    EXPECT_EQ(device.Get(0).state, 1);
    EXPECT_EQ(device.Get(1).mode, 0); // only the one DIO
}

TEST(SimulatorProtocol, RangeReadAnswersThePairsOfTheRange) {
    CDioDevice device;
    device.Set(2, 1, 0);
    device.Set(4, 1, 1);
    EXPECT_EQ(Handle(device, ToBytes(EncodeMultiRead(2, 4))).m_vecBytes,
              (Bytes{0x05, 0x02, 0x00, 0x06, 1, 0, 0, 0, 1, 1}));
    EXPECT_EQ(Handle(device, ToBytes(EncodeMultiRead(8, 8))).m_vecBytes,
              (Bytes{0x05, 0x02, 0x00, 0x02, 0, 0}));
}

TEST(SimulatorProtocol, RangeReadIsLimitedToWhatALengthByteHolds) {
    CDioDevice device(SIM_MAX_DIO_COUNT);
    const SimReply longest = Handle(device, ToBytes(EncodeMultiRead(0, SIM_MAX_RANGE_READ - 1)));
    ASSERT_EQ(longest.m_vecBytes.size(), 4u + 2 * SIM_MAX_RANGE_READ);
    EXPECT_EQ(longest.m_vecBytes[3], 2 * SIM_MAX_RANGE_READ);
    EXPECT_EQ(Handle(device, ToBytes(EncodeMultiRead(0, SIM_MAX_RANGE_READ))).m_vecBytes,
              (Bytes{0x05, 0x02, 0x00, 0x01, SIM_STATUS_RANGE_TOO_LONG}));
}

TEST(SimulatorProtocol, RangeWriteAppliesEachPairInOrder) {
    CDioDevice device;
    const DioModeState pairs[] = {{0, 0}, {1, 1}, {1, 0}};
    const Bytes request = EncodeMultiWrite(1, 3, pairs);
    const SimReply reply = Handle(device, request);
    EXPECT_EQ(reply.m_vecBytes, (Bytes{0x06, 0x02, 0x00, 0x01, 0x00}));
    const std::vector<DioModeState>& table = device.Table();
    EXPECT_EQ(table[1].mode, 0);
    EXPECT_EQ(table[1].state, 0);
    EXPECT_EQ(table[2].mode, 1);
    EXPECT_EQ(table[2].state, 1);
    EXPECT_EQ(table[3].mode, 1);
    EXPECT_EQ(table[3].state, 0);

    const DioModeState single[] = {{1, 0}};
    EXPECT_EQ(Handle(device, EncodeMultiWrite(8, 8, single)).m_nStatus, SIM_STATUS_OK);
    EXPECT_EQ(device.Get(8).mode, 1);
}

TEST(SimulatorProtocol, ARangeReadAnswerSetsTheProgramsRowsToTheDeviceTable) {
    CDioDevice device;
    device.Set(1, 1, 1);
    device.Set(2, 0, 1);
    device.Set(3, 1, 0);
    CRecordingReplySink sink(9, 1); // the program sent a range read starting at DIO 1
    sink.Feed(Handle(device, ToBytes(EncodeMultiRead(1, 3))).m_vecBytes);
    EXPECT_EQ(sink.m_vecUpdates, (std::vector<std::string>{"mode 1=1", "state 1=1", "mode 2=0",
                                                           "state 2=1", "mode 3=1", "state 3=0"}));
}

// Requests the device cannot serve: each is answered with its own code and one status byte,
// changes no DIO, and its answer moves no row in the program, whether or not the program has a
// range read pending (a status of 0 or 1 in a code-5 answer would set a mode).
TEST(SimulatorProtocol, UnserviceableRequestsGetAStatusAnswerAndChangeNothing) {
    struct Case {
        const char* name;
        Bytes request;
        std::uint8_t status;
    };
    const Case cases[] = {
        {"code 0", {0x00, 0x02, 0x00, 0x00}, SIM_STATUS_UNKNOWN_CODE},
        {"code 3", {0x03, 0x02, 0x00, 0x02, 0x00, 0x00}, SIM_STATUS_UNKNOWN_CODE},
        {"code 4", {0x04, 0x02, 0x00, 0x01, 0x01}, SIM_STATUS_UNKNOWN_CODE},
        {"code 7", {0x07, 0x02, 0x00, 0x01, 0x01}, SIM_STATUS_UNKNOWN_CODE},
        {"code 255 and bad fixed bytes", {0xFF, 0xFF, 0xFF, 0x00}, SIM_STATUS_UNKNOWN_CODE},
        {"read, bad offset-1 byte", {0x01, 0x03, 0x00, 0x01, 0x00}, SIM_STATUS_BAD_HEADER},
        {"write, bad offset-2 byte",
         {0x02, 0x02, 0x01, 0x03, 0x00, 0x01, 0x01},
         SIM_STATUS_BAD_HEADER},
        {"read without payload", {0x01, 0x02, 0x00, 0x00}, SIM_STATUS_BAD_LENGTH},
        {"read with two bytes", {0x01, 0x02, 0x00, 0x02, 0x00, 0x00}, SIM_STATUS_BAD_LENGTH},
        {"write with two bytes", {0x02, 0x02, 0x00, 0x02, 0x00, 0x01}, SIM_STATUS_BAD_LENGTH},
        {"write with four bytes",
         {0x02, 0x02, 0x00, 0x04, 0x00, 0x01, 0x01, 0x00},
         SIM_STATUS_BAD_LENGTH},
        {"range read with one byte", {0x05, 0x02, 0x00, 0x01, 0x00}, SIM_STATUS_BAD_LENGTH},
        {"range read with three bytes",
         {0x05, 0x02, 0x00, 0x03, 0x00, 0x01, 0x00},
         SIM_STATUS_BAD_LENGTH},
        {"range write with one byte", {0x06, 0x02, 0x00, 0x01, 0x00}, SIM_STATUS_BAD_LENGTH},
        {"range write 1..3 with two pairs",
         {0x06, 0x02, 0x00, 0x06, 1, 3, 1, 1, 1, 1},
         SIM_STATUS_BAD_LENGTH},
        {"range write 1..2 with a spare byte",
         {0x06, 0x02, 0x00, 0x07, 1, 2, 1, 1, 1, 1, 0},
         SIM_STATUS_BAD_LENGTH},
        {"range read start above end", {0x05, 0x02, 0x00, 0x02, 0x05, 0x02}, SIM_STATUS_BAD_RANGE},
        {"range write start above end", {0x06, 0x02, 0x00, 0x04, 5, 2, 1, 1}, SIM_STATUS_BAD_RANGE},
        {"read DIO 9 of 9", {0x01, 0x02, 0x00, 0x01, 0x09}, SIM_STATUS_BAD_DIO},
        {"write DIO 200", {0x02, 0x02, 0x00, 0x03, 200, 1, 1}, SIM_STATUS_BAD_DIO},
        {"range read 5..9", {0x05, 0x02, 0x00, 0x02, 5, 9}, SIM_STATUS_BAD_DIO},
        {"range write 8..9", {0x06, 0x02, 0x00, 0x06, 8, 9, 1, 1, 1, 1}, SIM_STATUS_BAD_DIO},
        {"write mode 2", {0x02, 0x02, 0x00, 0x03, 0x01, 0x02, 0x00}, SIM_STATUS_BAD_VALUE},
        {"write state 255", {0x02, 0x02, 0x00, 0x03, 0x01, 0x01, 0xFF}, SIM_STATUS_BAD_VALUE},
        {"range write, one bad state",
         {0x06, 0x02, 0x00, 0x08, 0, 2, 1, 1, 1, 7, 1, 1},
         SIM_STATUS_BAD_VALUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDioDevice device;
        const SimReply reply = Handle(device, c.request);
        EXPECT_EQ(reply.m_vecBytes, (Bytes{c.request[0], 0x02, 0x00, 0x01, c.status}));
        EXPECT_EQ(reply.m_nStatus, c.status);
        EXPECT_FALSE(reply.m_strNote.empty());
        for (int dio = 0; dio < device.Count(); ++dio) {
            EXPECT_EQ(device.Get(dio).mode, DIO_MODE_INPUT);
            EXPECT_EQ(device.Get(dio).state, DIO_STATE_LOW);
        }
        for (const int pending : {-1, 0, 2}) {
            CRecordingReplySink sink(9, pending);
            sink.Feed(reply.m_vecBytes);
            EXPECT_TRUE(sink.m_vecUpdates.empty()) << "pending start " << pending;
        }
    }
}

TEST(SimulatorProtocol, AFrameThatIsNotWholeIsRefused) {
    CDioDevice device;
    EXPECT_EQ(Handle(device, Bytes{}).m_nStatus, SIM_STATUS_BAD_LENGTH);
    EXPECT_EQ(Handle(device, Bytes{0x01, 0x02}).m_vecBytes,
              (Bytes{0x01, 0x02, 0x00, 0x01, SIM_STATUS_BAD_LENGTH}));
    EXPECT_EQ(Handle(device, Bytes{0x01, 0x02, 0x00, 0x01}).m_nStatus, SIM_STATUS_BAD_LENGTH);
}

TEST(SimulatorProtocol, ReportsEncodeAsSingleReadAnswers) {
    EXPECT_EQ(EncodeDioReport(7, 0, 1), (Bytes{0x01, 0x02, 0x00, 0x03, 0x07, 0x00, 0x01}));
}

TEST(SimulatorDevice, OnlyInputsToggle) {
    CDioDevice device(4);
    EXPECT_TRUE(device.ToggleInput(1));
    EXPECT_EQ(device.Get(1).state, DIO_STATE_HIGH);
    EXPECT_TRUE(device.ToggleInput(1));
    EXPECT_EQ(device.Get(1).state, DIO_STATE_LOW);
    device.Set(2, DIO_MODE_OUTPUT, DIO_STATE_HIGH);
    EXPECT_FALSE(device.ToggleInput(2));
    EXPECT_EQ(device.Get(2).state, DIO_STATE_HIGH);
    EXPECT_FALSE(device.ToggleInput(4));
    EXPECT_FALSE(device.ToggleInput(-1));
}
