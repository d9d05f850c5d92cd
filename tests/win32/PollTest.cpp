// Device > Poll: the rows follow a device by themselves, a poll's range read and the
// operator's never land on each other's rows, a slow device is polled once at a time, and
// polling stops with the connection and resumes with the next one.
#include "res/resource.h"
#include "tests/win32/AnsweringDevice.h"
#include "tests/win32/DialogHarness.h"

#include <gtest/gtest.h>

#include <random>

namespace {
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

// A poll of the 4-row and of the 9-row model.
const Bytes POLL_4{0x05, 0x02, 0x00, 0x02, 0x00, 0x03};
const Bytes POLL_9{0x05, 0x02, 0x00, 0x02, 0x00, 0x08};

// Connects to the device (whose thread accepts).
void Connect(const CDialogHarness& h, CTestPeer& peer, const CAnsweringDevice& device) {
    h.ConnectTo(peer.PortText());
    ASSERT_TRUE(WaitUntil([&] { return device.Connected(); }));
    ASSERT_EQ(h.Text(IDC_BTN_CONNECT), "Dis&connect");
}

bool RowsShow(const CDialogHarness& h, const std::vector<std::pair<int, int>>& values) {
    for (std::size_t r = 0; r < values.size(); ++r) {
        if (h.Row(static_cast<int>(r)) != values[r])
            return false;
    }
    return true;
}
} // namespace

TEST(Poll, EveryRowFollowsADeviceWhoseInputsChangeSilently) {
    CTestDialogHarness h;
    CTestPeer peer;
    CAnsweringDevice device(peer);
    h.Command(ID_TARGET_MODEL_FIRST + 1); // nine rows
    Connect(h, peer, device);
    h.Command(ID_POLL_250MS);

    std::vector<std::pair<int, int>> values(CAnsweringDevice::DIOS);
    for (int round = 0; round < 3; ++round) {
        for (int d = 0; d < CAnsweringDevice::DIOS; ++d) {
            values[static_cast<std::size_t>(d)] = {(d + round) % 2, (d / 2 + round) % 2};
            device.SetDio(d, (d + round) % 2, (d / 2 + round) % 2);
        }
        EXPECT_TRUE(WaitUntil([&] { return RowsShow(h, values); })) << "round " << round;
    }
    // Poll traffic is dumped like any other, and recorded in the history.
    EXPECT_NE(h.LogText().find("> 05 02 00 02 00 08"), std::string::npos);
    EXPECT_NE(h.LogText().find("< 05 02 00 12 "), std::string::npos);
    h.OnUiThread([&] {
        for (int d = 0; d < CAnsweringDevice::DIOS; ++d) {
            const DioValue known = h.TestDlg().m_history.LastKnown(d);
            EXPECT_EQ(std::make_pair(int(known.mode), int(known.state)),
                      values[static_cast<std::size_t>(d)])
                << "DIO " << d;
        }
    });

    // The next poll reads the rows of the model chosen now.
    h.Command(ID_TARGET_MODEL_FIRST);
    EXPECT_TRUE(WaitUntil([&] { return device.CountRequests(POLL_4) > 0; }));

    // Off: no more polls.
    h.Command(ID_POLL_OFF);
    const std::size_t polls = device.Requests().size();
    EXPECT_FALSE(
        WaitUntil([&] { return device.Requests().size() > polls + 1; }, milliseconds(800)));
}

TEST(Poll, TheOperatorsRangeReadAndThePollsNeverLandOnEachOthersRows) {
    CTestDialogHarness h;
    CTestPeer peer;
    // Each DIO has a value of its own, so that a range reply landing two rows off shows; the
    // device answers after a little while, so that replies are often under way.
    CAnsweringDevice device(peer, milliseconds(3));
    const std::vector<std::pair<int, int>> values{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0},
                                                  {1, 1}, {1, 0}, {0, 0}, {0, 1}};
    for (int d = 0; d < CAnsweringDevice::DIOS; ++d)
        device.SetDio(d, values[static_cast<std::size_t>(d)].first,
                      values[static_cast<std::size_t>(d)].second);
    h.Command(ID_TARGET_MODEL_FIRST + 1);
    Connect(h, peer, device);
    h.SetRange("2", "5");
    h.Command(ID_POLL_100MS);

    const Bytes operatorRead{0x05, 0x02, 0x00, 0x02, 0x02, 0x05};
    std::mt19937 random(17);
    constexpr std::size_t kReads = 1000;
    auto rangeRepliesDecoded = [&] {
        std::uint64_t decoded = 0;
        h.OnUiThread([&] { decoded = h.TestDlg().m_connection.RangeRepliesDecoded(); });
        return decoded;
    };
    for (std::size_t i = 0; i < kReads; ++i) {
        h.Click(IDC_BTN_MULTI_READ);
        ASSERT_TRUE(WaitUntil([&] { return device.CountRequests(operatorRead) > i; }))
            << "range read " << i << " never reached the device";
        // An operator who waits for the answer (two range reads of one's own under way at once
        // are another matter: the first reply clears the start of the second).
        ASSERT_TRUE(
            WaitUntil([&] { return rangeRepliesDecoded() >= device.CountRequests({0x05}); }));
        // At random moments against the polls.
        WaitUntil([] { return false; }, milliseconds(random() % 12));
    }
    ASSERT_TRUE(WaitUntil([&] { return RowsShow(h, values); }));

    EXPECT_GE(device.CountRequests(POLL_9), 20u) << "the polls hardly ran";
    // In the rows' history: every DIO only ever had its own value.
    DioHistorySnapshot history;
    h.OnUiThread([&] { history = h.TestDlg().m_history.Snapshot(); });
    ASSERT_GE(history.lanes.size(), values.size());
    for (std::size_t d = 0; d < values.size(); ++d) {
        ASSERT_FALSE(history.lanes[d].empty());
        EXPECT_EQ(history.lanes[d].size(), 1u) << "DIO " << d << " showed another DIO's value";
        EXPECT_EQ(std::make_pair(int(history.lanes[d][0].value.mode),
                                 int(history.lanes[d][0].value.state)),
                  values[d]);
    }
}

TEST(Poll, ASlowDeviceIsPolledOnceAtATime) {
    CTestDialogHarness h;
    CTestPeer peer;
    CAnsweringDevice device(peer, milliseconds(400));
    Connect(h, peer, device);
    h.Command(ID_POLL_100MS);
    WaitUntil([] { return false; }, milliseconds(3000));
    EXPECT_EQ(device.MostRangeReadsAwaited(), 1);
    // A tick while a poll's reply is awaited is skipped: about one poll per answer.
    const std::size_t polls = device.CountRequests(POLL_4);
    EXPECT_GE(polls, 3u);
    EXPECT_LE(polls, 9u);
}

TEST(Poll, StopsWithTheConnectionAndResumesOnTheNext) {
    CTestDialogHarness h;
    h.Command(ID_POLL_100MS);
    {
        CTestPeer peer;
        h.ConnectTo(peer.PortText());
        ASSERT_TRUE(peer.Accept());
        EXPECT_EQ(peer.Read(6), POLL_4);
        ASSERT_TRUE(peer.Send({0x05, 0x02, 0x00, 0x08, 1, 1, 1, 1, 1, 1, 1, 1}));
        ASSERT_TRUE(WaitUntil([&] { return h.Row(3) == std::make_pair(1, 1); }));
        // Disconnect asked for: no poll goes out any more while the device keeps its side open
        // (it would fail, and show as a bare mark in the log).
        h.Click(IDC_BTN_CONNECT);
        ASSERT_TRUE(peer.SawEndOfStream());
        WaitUntil([] { return false; }, milliseconds(500));
        peer.Close();
        ASSERT_TRUE(WaitUntil([&] { return h.LogText().ends_with("Disconnected\r\n"); }));
        const std::string log = h.LogText();
        for (std::size_t at = log.find('>'); at != std::string::npos; at = log.find('>', at + 1))
            EXPECT_EQ(log[at + 1], ' ') << "a failed send: " << log;
    }
    for (bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "after the device closed" : "after a Disconnect");
        CTestPeer peer;
        h.ConnectTo(peer.PortText());
        ASSERT_TRUE(peer.Accept());
        // Polls go on at their pace, nothing of the last connection holding them up.
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(peer.Read(6, milliseconds(1000)), POLL_4) << "poll " << i;
            ASSERT_TRUE(peer.Send({0x05, 0x02, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0, 0}));
        }
        // The device ends this one.
        peer.Close();
        ASSERT_TRUE(WaitUntil([&] { return h.LogText().ends_with("Disconnected\r\n"); }));
    }
}
