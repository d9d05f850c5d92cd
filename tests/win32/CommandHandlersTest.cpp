// The Write and Read buttons: the bytes each puts on the wire, the log's record of them, the
// range checks and their messages, and the pending range start that range replies rely on.
#include "tests/win32/DialogHarness.h"
#include "tests/win32/TestPeer.h"

#include <gtest/gtest.h>

namespace {
using Bytes = std::vector<std::uint8_t>;

void Connect(const CDialogHarness& h, CTestPeer& peer) {
    h.ConnectTo(peer.PortText());
    ASSERT_TRUE(peer.Accept());
}

int PendingStart(const CTestDialogHarness& h) {
    int start = 0;
    h.OnUiThread([&] { start = h.TestDlg().m_nPendingStart; });
    return start;
}

// The log's last line(s) after the connection line.
std::string LogAfterConnect(const CDialogHarness& h) {
    const std::string log = h.LogText();
    return log.substr(log.find("\r\n") + 2);
}
} // namespace

TEST(CommandHandlers, RowWriteAndReadSendTheirFramesAndLogThem) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    h.SetRow(2, 1, 1);
    h.Click(2303);
    EXPECT_EQ(peer.Read(7), (Bytes{0x02, 0x02, 0x00, 0x03, 0x02, 0x01, 0x01}));
    EXPECT_EQ(LogAfterConnect(h),
              "> 02 02 00 03 02 01 01" + std::string(27, ' ') + " | .......\r\n");

    h.OnUiThread([&] { h.TestDlg().m_nPendingStart = 5; });
    h.Click(2401);
    EXPECT_EQ(peer.Read(5), (Bytes{0x01, 0x02, 0x00, 0x01, 0x00}));
    EXPECT_EQ(PendingStart(h), 5); // row requests leave it alone
    EXPECT_TRUE(peer.Silent());
}

TEST(CommandHandlers, RangeReadSendsWhateverTheBoxesHoldAndRecordsTheStart) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    struct Case {
        std::string start, end;
        Bytes frame;
        int pending;
    };
    const Case cases[] = {
        {"2", "5", {0x05, 0x02, 0x00, 0x02, 0x02, 0x05}, 2},
        {"7", "1", {0x05, 0x02, 0x00, 0x02, 0x07, 0x01}, 7}, // no checks at all
        {"", "", {0x05, 0x02, 0x00, 0x02, 0x00, 0x00}, 0},   // empty reads as 0
        {"300", "3", {0x05, 0x02, 0x00, 0x02, 0x2C, 0x03}, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start + ".." + c.end);
        h.SetRange(c.start, c.end);
        h.Click(1015);
        EXPECT_EQ(peer.Read(6), c.frame);
        EXPECT_EQ(PendingStart(h), c.pending);
    }
    EXPECT_TRUE(h.Boxes().empty());
    // The picked list item counts like typed text.
    h.Send(h.Item(1011), CB_SETCURSEL, 3);
    h.Send(h.Item(1013), CB_SETCURSEL, 3);
    h.Click(1015);
    EXPECT_EQ(peer.Read(6), (Bytes{0x05, 0x02, 0x00, 0x02, 0x03, 0x03}));
}

TEST(CommandHandlers, RangeWriteChecksItsRangeInOrderAndSendsNothingWhenItFails) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    h.OnUiThread([&] { h.TestDlg().m_nPendingStart = 42; });
    struct Case {
        std::string start, end, message;
    };
    const Case cases[] = {
        {"4", "0", "Start DIO is invalid."},           {"1", "4", "End DIO is invalid."},
        {"3", "1", "End DIO is less than Start DIO."}, {"9", "1", "Start DIO is invalid."},
        {"99999999999", "1", "Start DIO is invalid."}, // saturates instead of wrapping
        {"0", "99999999999", "End DIO is invalid."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start + ".." + c.end);
        h.ClearBoxes();
        h.SetRange(c.start, c.end);
        h.Click(1014);
        const std::vector<CaughtBox> boxes = h.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.message);
        EXPECT_EQ(boxes[0].caption, "kelvane_win32_tests");
        EXPECT_EQ(boxes[0].hIcon, nullptr); // a plain box: OK and no icon
        EXPECT_EQ(boxes[0].hOwner, h.Dialog());
    }
    EXPECT_TRUE(peer.Silent());
    EXPECT_EQ(PendingStart(h), 42);
    EXPECT_EQ(LogAfterConnect(h), "");
}

TEST(CommandHandlers, RangeWriteSendsEachRowsModeAndStateInOrder) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    h.SetRow(0, 0, 0);
    h.SetRow(1, 1, 1);
    h.SetRow(2, 1, 0);
    h.SetRow(3, 0, 1);
    h.SetRange("0", "3");
    h.Click(1014);
    EXPECT_EQ(peer.Read(14), (Bytes{0x06, 0x02, 0x00, 0x0A, 0x00, 0x03, 0x00, 0x00, 0x01, 0x01,
                                    0x01, 0x00, 0x00, 0x01}));
    EXPECT_EQ(PendingStart(h), 0);

    h.SetRange("1", "1");
    h.Click(1014);
    EXPECT_EQ(peer.Read(8), (Bytes{0x06, 0x02, 0x00, 0x04, 0x01, 0x01, 0x01, 0x01}));
    EXPECT_EQ(PendingStart(h), 1);
    EXPECT_TRUE(peer.Silent());
    EXPECT_TRUE(h.Boxes().empty());
}

TEST(CommandHandlers, NotConnectedEveryCommandIsIgnoredSilently) {
    CTestDialogHarness h;
    h.SetRange("9", "1");
    for (int id : {1014, 1015, 2301, 2401})
        h.Command(id); // as if the disabled buttons had been clicked
    EXPECT_TRUE(h.Boxes().empty());
    EXPECT_EQ(h.LogText(), "");
    EXPECT_EQ(PendingStart(h), -1);
}

TEST(CommandHandlers, RowCommandsBeyondTheRowsAreIgnored) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    h.Command(2305); // row 4 of 4
    h.Command(2432);
    EXPECT_TRUE(peer.Silent());
    EXPECT_EQ(LogAfterConnect(h), "");
}

TEST(CommandHandlers, APendingRangeStartSurvivesReconnectingUntilAReplyEndsIt) {
    CTestDialogHarness h;
    {
        CTestPeer peer;
        Connect(h, peer);
        h.SetRange("2", "3");
        h.Click(1015);
        ASSERT_EQ(peer.Read(6).size(), 6u);
        peer.Close(); // no reply
        ASSERT_TRUE(WaitUntil([&] { return h.LogText().ends_with("Disconnected\r\n"); }));
    }
    EXPECT_EQ(PendingStart(h), 2);
    CTestPeer peer;
    Connect(h, peer);
    ASSERT_TRUE(peer.Send({0x05, 0x02, 0x00, 0x04, 0x01, 0x01, 0x01, 0x00}));
    EXPECT_TRUE(WaitUntil([&] { return h.Row(3) == std::make_pair(1, 0); }));
    EXPECT_EQ(h.Row(2), std::make_pair(1, 1));
    EXPECT_EQ(PendingStart(h), -1);
}

TEST(CommandHandlers, ARowReplyArrivingFirstClearsThePendingStart) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    h.SetRange("2", "3");
    h.Click(1015);
    h.Click(2401);
    ASSERT_EQ(peer.Read(11).size(), 11u);
    // The row reply comes first and clears the range start, so the range reply lands at row 0.
    ASSERT_TRUE(peer.Send({0x01, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00, //
                           0x05, 0x02, 0x00, 0x02, 0x01, 0x01}));
    EXPECT_TRUE(WaitUntil([&] { return h.Row(0) == std::make_pair(1, 1); }));
    EXPECT_EQ(h.Row(2), std::make_pair(0, 0));
}

TEST(CommandHandlers, ASendThatFailsIsLoggedAsTheBareMark) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    h.Click(1022); // disconnect requested: sending is shut down
    ASSERT_TRUE(peer.SawEndOfStream());
    h.Click(2401);
    EXPECT_EQ(LogAfterConnect(h), ">");
    peer.Close();
    EXPECT_TRUE(WaitUntil([&] { return h.LogText().ends_with(">Disconnected\r\n"); }));
}
