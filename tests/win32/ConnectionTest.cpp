// The device connection: connecting and failing to, the states of the controls, replies
// decoded into the rows, and every way a connection ends, including closing the window.
#include "tests/win32/DialogHarness.h"
#include "tests/win32/TestPeer.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {
using Bytes = std::vector<std::uint8_t>;

void SetTarget(const CDialogHarness& h, const std::string& target, const std::string& port) {
    h.SetText(1006, target);
    h.SetText(1007, port);
}

// Connects the dialog to the peer and waits until the connection is up on both sides.
void Connect(const CDialogHarness& h, CTestPeer& peer) {
    h.ConnectTo(peer.PortText());
    ASSERT_TRUE(peer.Accept());
    ASSERT_EQ(h.Text(1022), "Dis&connect");
}

bool IsConnectedLayout(const CDialogHarness& h) {
    bool rows = true;
    for (int r = 0; h.Item(2301 + r) != nullptr; ++r)
        rows = rows && h.Enabled(2301 + r) && h.Enabled(2401 + r);
    return h.Text(1022) == "Dis&connect" && !h.Enabled(1006) && !h.Enabled(1007) &&
           h.Enabled(1014) && h.Enabled(1015) && rows && h.Enabled(1022);
}

bool IsNotConnectedLayout(const CDialogHarness& h) {
    bool rows = true;
    for (int r = 0; h.Item(2301 + r) != nullptr; ++r)
        rows = rows && !h.Enabled(2301 + r) && !h.Enabled(2401 + r);
    return h.Text(1022) == "&Connect" && h.Enabled(1006) && h.Enabled(1007) && !h.Enabled(1014) &&
           !h.Enabled(1015) && rows && h.Enabled(1022);
}

bool WaitDisconnected(const CDialogHarness& h) {
    return WaitUntil([&] { return h.LogText().ends_with("Disconnected\r\n"); }) &&
           IsNotConnectedLayout(h);
}

bool ConnectionOpen(const CTestDialogHarness& h) {
    bool open = false;
    h.OnUiThread([&] { open = h.TestDlg().m_connection.IsOpen(); });
    return open;
}
} // namespace

TEST(Connection, EveryFailedAttemptShowsConnectFailAndChangesNothing) {
    CTestDialogHarness h;
    CTestPeer refused;
    const std::string refusedPort = refused.PortText();
    refused.StopListening();

    const std::pair<std::string, std::string> attempts[] = {
        {"", "5001"},               // empty address
        {"localhost", "5001"},      // a host name: no look-up
        {"127.0.0.1", ""},          // empty port: port 0
        {"127.0.0.1", refusedPort}, // nobody listening
        {"127.0.0.1.5", "5001"},    // not an address
    };
    for (const auto& [target, port] : attempts) {
        SCOPED_TRACE(target + ":" + port);
        h.ClearBoxes();
        SetTarget(h, target, port);
        h.Click(1022);
        const std::vector<CaughtBox> boxes = h.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Connect fail");
        EXPECT_EQ(boxes[0].caption, "kelvane_win32_tests");
        EXPECT_EQ(boxes[0].hIcon, ::LoadIconA(nullptr, IDI_HAND)); // the stop icon
        EXPECT_EQ(boxes[0].hOwner, h.Dialog());
        EXPECT_EQ(h.LogText(), "");
        EXPECT_EQ(h.Text(1006), target);
        EXPECT_EQ(h.Text(1007), port);
        EXPECT_TRUE(IsNotConnectedLayout(h));
        EXPECT_FALSE(ConnectionOpen(h));
    }
}

TEST(Connection, ConnectingLogsTheTargetAsTypedAndSwitchesTheControls) {
    CTestDialogHarness h;
    CTestPeer peer;
    // Leading zeros reach the log as typed; the port is still the peer's.
    SetTarget(h, "127.0.0.1", "00" + peer.PortText());
    h.Click(1022);
    ASSERT_TRUE(peer.Accept());
    EXPECT_EQ(h.LogText(), "Connected to 127.0.0.1:00" + peer.PortText() + "\r\n");
    EXPECT_TRUE(IsConnectedLayout(h));
    EXPECT_TRUE(ConnectionOpen(h));
    EXPECT_TRUE(h.Boxes().empty());
    HWND hFocus = nullptr;
    h.OnUiThread([&] { hFocus = ::GetFocus(); });
    EXPECT_EQ(hFocus, h.Item(1022));

    // Rows built while connected come with working buttons.
    h.Command(2002);
    EXPECT_TRUE(IsConnectedLayout(h));
}

TEST(Connection, EnterConnectsWhenNotConnectedAndDoesNothingOtherwise) {
    CTestDialogHarness h;
    CTestPeer peer;
    SetTarget(h, "127.0.0.1", peer.PortText());
    // Enter in the port field, as the dialog's modal loop turns it into the OK command.
    ::PostMessageA(h.Item(1007), WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(WaitUntil([&] { return IsConnectedLayout(h); }));
    h.Command(IDOK);
    h.Command(IDOK);
    EXPECT_TRUE(IsConnectedLayout(h));
    EXPECT_TRUE(peer.Silent());
    EXPECT_FALSE(h.Closed());
    EXPECT_EQ(h.LogText(), "Connected to 127.0.0.1:" + peer.PortText() + "\r\n");
}

TEST(Connection, DisconnectOnlyStopsSendingUntilTheDeviceCloses) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    h.Click(1022);
    EXPECT_TRUE(peer.SawEndOfStream());
    // Still connected, and still receiving, while the device keeps its side open.
    EXPECT_TRUE(IsConnectedLayout(h));
    ASSERT_TRUE(peer.Send({0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x01}));
    EXPECT_TRUE(WaitUntil([&] { return h.Row(1) == std::make_pair(1, 1); }));
    h.Click(1022); // asking again changes nothing
    EXPECT_TRUE(IsConnectedLayout(h));

    peer.Close();
    ASSERT_TRUE(WaitDisconnected(h));
    EXPECT_EQ(h.LogText(), "Connected to 127.0.0.1:" + peer.PortText() +
                               "\r\n< 01 02 00 03 01 01 01" + std::string(27, ' ') +
                               " | .......\r\nDisconnected\r\n");
    EXPECT_FALSE(ConnectionOpen(h));
}

TEST(Connection, DeviceResetEndsTheConnectionLikeAClose) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    ASSERT_TRUE(peer.Send({0x02, 0x02, 0x00, 0x01, 0x00}));
    ASSERT_TRUE(
        WaitUntil([&] { return h.LogText().find("< 02 02 00 01 00") != std::string::npos; }));
    peer.Reset();
    EXPECT_TRUE(WaitDisconnected(h));
    EXPECT_TRUE(h.Boxes().empty());

    // A new connection can follow at once.
    CTestPeer next;
    Connect(h, next);
    EXPECT_TRUE(IsConnectedLayout(h));
}

TEST(Connection, RepliesSetTheRowsWhateverTheirChunking) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    // A single read reply, then one cut into single bytes.
    ASSERT_TRUE(peer.Send({0x01, 0x02, 0x00, 0x03, 0x02, 0x01, 0x00}));
    EXPECT_TRUE(WaitUntil([&] { return h.Row(2) == std::make_pair(1, 0); }));
    for (std::uint8_t b : Bytes{0x01, 0x02, 0x00, 0x03, 0x03, 0x01, 0x01}) {
        ASSERT_TRUE(peer.Send({b}));
        ::Sleep(5);
    }
    EXPECT_TRUE(WaitUntil([&] { return h.Row(3) == std::make_pair(1, 1); }));
    // Junk frames are skipped by their length; the reply after them counts.
    ASSERT_TRUE(peer.Send({0x03, 0x02, 0x00, 0x02, 0x00, 0x00, 0x09, 0x09, 0x09, 0x01, 0xAA, 0x01,
                           0x02, 0x00, 0x03, 0x00, 0x01, 0x01}));
    EXPECT_TRUE(WaitUntil([&] { return h.Row(0) == std::make_pair(1, 1); }));
    // A range reply with no range pending starts at row 0.
    ASSERT_TRUE(peer.Send({0x05, 0x02, 0x00, 0x04, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_TRUE(WaitUntil([&] { return h.Row(1) == std::make_pair(1, 0); }));
    EXPECT_EQ(h.Row(0), std::make_pair(0, 0));
}

TEST(Connection, RepliesForRowsBeyondTheRowCountAreDropped) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    ASSERT_TRUE(peer.Send({0x01, 0x02, 0x00, 0x03, 0x04, 0x01, 0x01,    // row 4 of 4
                           0x01, 0x02, 0x00, 0x03, 0x09, 0x01, 0x01,    // row 9
                           0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x01})); // row 1: marker
    ASSERT_TRUE(WaitUntil([&] { return h.Row(1) == std::make_pair(1, 1); }));
    for (int r : {0, 2, 3})
        EXPECT_EQ(h.Row(r), std::make_pair(0, 0));
    // With nine rows the same reply reaches row 4.
    h.Command(2002);
    ASSERT_TRUE(peer.Send({0x01, 0x02, 0x00, 0x03, 0x04, 0x01, 0x01}));
    EXPECT_TRUE(WaitUntil([&] { return h.Row(4) == std::make_pair(1, 1); }));
}

TEST(Connection, SwitchingModelsWhileRepliesStreamInNeverTouchesRemovedRows) {
    CTestDialogHarness h;
    CTestPeer peer;
    Connect(h, peer);
    h.Command(2002);
    std::atomic<bool> streaming{true};
    std::thread device([&] {
        // Range replies for all nine rows, flipping values, as fast as they go (a bounded
        // number, so that nothing is left to drain on a slow machine).
        for (int i = 0; streaming && i < 20000; ++i) {
            Bytes reply{0x05, 0x02, 0x00, 18};
            for (int r = 0; r < 9; ++r) {
                reply.push_back(static_cast<std::uint8_t>((i + r) & 1));
                reply.push_back(static_cast<std::uint8_t>((i + r + 1) & 1));
            }
            if (!peer.Send(reply))
                break;
        }
    });
    for (int i = 0; i < 10; ++i)
        h.Command(i % 2 == 0 ? 2001 : 2002);
    h.Command(2001);
    streaming = false;
    device.join();
    // Four rows now; a reply for rows 4 to 8 only is dropped whole.
    ASSERT_TRUE(peer.Send({0x01, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(WaitUntil([&] { return h.Row(0) == std::make_pair(0, 0); }));
    EXPECT_EQ(h.Item(2105), nullptr);
    EXPECT_TRUE(IsConnectedLayout(h));
}

TEST(Connection, AFrameCutOffByACloseDoesNotSwallowTheNextConnectionsBytes) {
    CTestDialogHarness h;
    {
        CTestPeer peer;
        Connect(h, peer);
        ASSERT_TRUE(peer.Send({0x01, 0x02, 0x00, 0x03, 0x02})); // two payload bytes missing
        ASSERT_TRUE(
            WaitUntil([&] { return h.LogText().find("< 01 02 00 03 02") != std::string::npos; }));
        peer.Close();
        ASSERT_TRUE(WaitDisconnected(h));
    }
    CTestPeer peer;
    Connect(h, peer);
    ASSERT_TRUE(peer.Send({0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x01}));
    EXPECT_TRUE(WaitUntil([&] { return h.Row(1) == std::make_pair(1, 1); }));
    EXPECT_EQ(h.Row(2), std::make_pair(0, 0));
}

TEST(Connection, ClosingTheWindowWhileConnectedEndsPromptly) {
    {
        CDialogHarness h;
        CTestPeer peer;
        Connect(h, peer);
        const auto start = std::chrono::steady_clock::now();
        ::PostMessageA(h.Dialog(), WM_CLOSE, 0, 0);
        EXPECT_TRUE(h.WaitClosed(std::chrono::seconds(1)));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_TRUE(peer.SawEndOfStream());
    }
    {
        // Also while the device floods the worker with replies.
        CDialogHarness h;
        CTestPeer peer;
        Connect(h, peer);
        std::atomic<bool> flooding{true};
        std::thread device([&] {
            const Bytes reply{0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x01};
            while (flooding && peer.Send(reply)) {
            }
        });
        WaitUntil([&] { return h.LogText().size() > 20000; });
        ::PostMessageA(h.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(h.WaitClosed(std::chrono::seconds(1)));
        flooding = false;
        peer.Reset();
        device.join();
    }
}

namespace {
// A dialog whose receive worker can never be started.
class CNoWorkerDlg : public CTestMainDlg {
protected:
    bool StartReceiveWorker() override { return false; }
};
} // namespace

TEST(Connection, AWorkerThatCannotStartGivesTheConnectionUpAndSaysSo) {
    CDialogHarness h([] { return std::make_unique<CNoWorkerDlg>(); });
    CTestPeer peer;
    SetTarget(h, "127.0.0.1", peer.PortText());
    h.Click(1022);
    ASSERT_TRUE(peer.Accept());
    EXPECT_TRUE(peer.SawEndOfStream());
    EXPECT_TRUE(IsNotConnectedLayout(h));
    EXPECT_EQ(h.LogText(), "Connected to 127.0.0.1:" + peer.PortText() + "\r\nDisconnected\r\n");
    const std::vector<CaughtBox> boxes = h.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Cannot receive from the device: the receive thread could not be started.");
    EXPECT_EQ(boxes[0].hIcon, ::LoadIconA(nullptr, IDI_HAND));
}

TEST(Connection, ARequestTheDeviceHasNoRoomForIsGivenUpUnsentInsteadOfHanging) {
    CTestDialogHarness h;
    CTestPeer peer(4096);
    Connect(h, peer);
    SOCKET s = INVALID_SOCKET;
    h.OnUiThread([&] { s = h.TestDlg().m_connection.Socket(); });
    // The device stops reading. Fixed, small buffers on both ends (so that they do not grow),
    // filled until a send blocks.
    const int sendBuffer = 8192;
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer),
                 sizeof sendBuffer);
    std::thread filler([s] {
        const std::vector<char> block(65536, 0x55);
        while (::send(s, block.data(), static_cast<int>(block.size()), 0) > 0) {
        }
    });
    auto full = [s] {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        timeval now{0, 0};
        return ::select(0, nullptr, &writable, nullptr, &now) == 0;
    };
    ASSERT_TRUE(WaitUntil(full, std::chrono::seconds(20)));

    // The click comes back, nothing of it went out, and the log says so with the bare mark.
    const std::string before = h.LogText();
    DWORD_PTR result = 0;
    const bool answered =
        ::SendMessageTimeoutA(h.Item(2401), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
    if (!answered)
        peer.Reset(); // frees the window before the test ends
    ASSERT_TRUE(answered) << "the click hung in send";
    EXPECT_EQ(h.LogText(), before + ">");
    // And the window still answers Disconnect.
    h.Click(1022);
    peer.Reset();
    filler.join();
    EXPECT_TRUE(WaitDisconnected(h));
}

namespace {
struct WorkerStandIn {
    HWND hWnd;
    std::atomic<bool> finished{false};
};

// Sends to the waiting thread and waits for the answer, as the receive worker does at the end
// of a connection, then takes a while over its last steps.
UINT StandInProc(LPVOID pParam) {
    auto* pWorker = static_cast<WorkerStandIn*>(pParam);
    ::SendMessageA(pWorker->hWnd, WM_NULL, 0, 0);
    ::Sleep(150);
    pWorker->finished = true;
    return 0;
}
} // namespace

TEST(Connection, AFailingWaitForTheWorkerStillWaitsUntilItHasFinished) {
    WorkerStandIn worker;
    worker.hWnd =
        ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    std::unique_ptr<CWinThread> pThread = AfxBeginThread(&StandInProc, &worker);
    ASSERT_NE(pThread, nullptr);
    const WorkerWaitFunction failing = [](HANDLE, DWORD) -> DWORD {
        return WAIT_FAILED;
    };
    EXPECT_TRUE(WaitServingSentMessages(pThread->m_hThread, worker.finished, 10000, failing));
    EXPECT_TRUE(worker.finished);
    ::WaitForSingleObject(pThread->m_hThread, INFINITE);
    ::DestroyWindow(worker.hWnd);
}
