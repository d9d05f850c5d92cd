// Device > Reconnect Automatically: after the device closes or resets the connection the
// program connects again by itself, with back-off, logging each step and showing no box;
// Dis&connect and closing the window stop it at any moment; and the window takes real input
// while an attempt waits for an address that does not answer.
#include "bench/BenchClock.h"
#include "platform/SystemErrorText.h"
#include "res/resource.h"
#include "tests/win32/DialogHarness.h"
#include "tests/win32/RealInput.h"
#include "tests/win32/TestPeer.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using std::chrono::seconds;

const Bytes POLL_4{0x05, 0x02, 0x00, 0x02, 0x00, 0x03};

// An address that never answers, as a device that is switched off: a listener on port whose
// backlog is full, so that the system drops every further connection request.
class CSilentListener {
public:
    explicit CSilentListener(std::uint16_t port) {
        m_listener = Socket();
        const BOOL reuse = TRUE;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                     sizeof reuse);
        sockaddr_in address = Address(port);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 0);
        for (SOCKET& s : m_fillers) {
            s = Socket();
            u_long nonBlocking = 1;
            ::ioctlsocket(s, FIONBIO, &nonBlocking);
            ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    ~CSilentListener() {
        for (SOCKET s : m_fillers)
            ::closesocket(s);
        ::closesocket(m_listener);
    }
    CSilentListener(const CSilentListener&) = delete;
    CSilentListener& operator=(const CSilentListener&) = delete;

private:
    static SOCKET Socket() { return ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP); }
    static sockaddr_in Address(std::uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
        address.sin_port = ::htons(port);
        return address;
    }
    SOCKET m_listener = INVALID_SOCKET;
    SOCKET m_fillers[4] = {INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET};
};

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool RowButtonsEnabled(const CDialogHarness& h, bool bEnabled) {
    for (int r = 0; h.Item(IDC_ROW_WRITE_FIRST + r) != nullptr; ++r) {
        if (h.Enabled(IDC_ROW_WRITE_FIRST + r) != bEnabled ||
            h.Enabled(IDC_ROW_READ_FIRST + r) != bEnabled)
            return false;
    }
    return h.Enabled(IDC_BTN_MULTI_WRITE) == bEnabled && h.Enabled(IDC_BTN_MULTI_READ) == bEnabled;
}

// Reconnecting: Dis&connect stops it, the address stays as it is, nothing can be sent.
bool IsReconnectingLayout(const CDialogHarness& h) {
    return h.Text(IDC_BTN_CONNECT) == "Dis&connect" && !h.Enabled(IDC_EDIT_TARGET) &&
           !h.Enabled(IDC_EDIT_PORT) && RowButtonsEnabled(h, false);
}

bool IsConnectedLayout(const CDialogHarness& h) {
    return h.Text(IDC_BTN_CONNECT) == "Dis&connect" && !h.Enabled(IDC_EDIT_TARGET) &&
           RowButtonsEnabled(h, true);
}

bool IsNotConnectedLayout(const CDialogHarness& h) {
    return h.Text(IDC_BTN_CONNECT) == "&Connect" && h.Enabled(IDC_EDIT_TARGET) &&
           h.Enabled(IDC_EDIT_PORT) && RowButtonsEnabled(h, false);
}

// Connects to the peer with Reconnect Automatically on, and drops the connection from the
// device's side; returns once the log says that the program reconnects.
void ConnectAndDrop(const CDialogHarness& h, CTestPeer& peer, bool bStopListening) {
    h.Command(ID_DEVICE_RECONNECT);
    h.ConnectTo(peer.PortText());
    ASSERT_TRUE(peer.Accept());
    peer.Close();
    if (bStopListening)
        peer.StopListening();
    const std::string reconnecting =
        "Disconnected\r\nReconnecting to 127.0.0.1:" + peer.PortText() + "...\r\n";
    ASSERT_TRUE(WaitUntil([&] { return h.LogText().ends_with(reconnecting); }));
}

std::string FailedLine(DWORD nError) {
    std::string reason = SystemErrorText(nError);
    reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return "Reconnect failed: " + reason + "\r\n";
}
} // namespace

TEST(Reconnect, AfterTheDeviceClosesOrResetsItConnectsAgainWithinTheBackOffAndPollResumes) {
    CDialogHarness h;
    CTestPeer peer;
    h.Command(ID_DEVICE_RECONNECT);
    h.Command(ID_POLL_100MS);
    h.ConnectTo(peer.PortText());
    ASSERT_TRUE(peer.Accept());
    const std::string connected = "Connected to 127.0.0.1:" + peer.PortText() + "\r\n";
    auto pollsGoOn = [&] {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(peer.Read(6, milliseconds(1000)), POLL_4) << "poll " << i;
            ASSERT_TRUE(peer.Send({0x05, 0x02, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0, 0}));
        }
    };
    for (bool bReset : {false, true}) {
        SCOPED_TRACE(bReset ? "reset" : "closed");
        pollsGoOn();
        const double dropped = NowMs();
        if (bReset)
            peer.Reset();
        else
            peer.Close();
        ASSERT_TRUE(WaitUntil([&] {
            return h.LogText().ends_with(
                "Disconnected\r\nReconnecting to 127.0.0.1:" + peer.PortText() + "...\r\n");
        }));
        EXPECT_TRUE(IsReconnectingLayout(h));
        ASSERT_TRUE(peer.Accept());
        // The first attempt comes after a second.
        EXPECT_GT(NowMs() - dropped, 900);
        EXPECT_TRUE(WaitUntil([&] { return h.LogText().ends_with(connected); }));
        EXPECT_TRUE(IsConnectedLayout(h));
    }
    pollsGoOn();
    EXPECT_EQ(Count(h.LogText(), connected), 3u);
    EXPECT_TRUE(h.Boxes().empty());

    // The operator's Disconnect never brings a reconnect.
    h.Click(IDC_BTN_CONNECT);
    ASSERT_TRUE(peer.SawEndOfStream());
    peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return h.LogText().ends_with("Disconnected\r\n"); }));
    EXPECT_FALSE(peer.Accept(milliseconds(1500)));
    EXPECT_TRUE(h.LogText().ends_with("Disconnected\r\n"));
    EXPECT_TRUE(IsNotConnectedLayout(h));
}

TEST(Reconnect, KeepsTryingARefusedPortWithBackOffUntilItListens) {
    CDialogHarness h;
    CTestPeer peer;
    ConnectAndDrop(h, peer, true);
    const double dropped = NowMs();
    // Attempts at 1, 3 and 7 s are refused; the one at 12 s finds the port listening.
    WaitUntil([] { return false; }, seconds(10));
    CTestPeer again(0, 0, peer.Port());
    ASSERT_TRUE(again.Accept(seconds(5)));
    EXPECT_GT(NowMs() - dropped, 11000);
    EXPECT_TRUE(WaitUntil([&] { return IsConnectedLayout(h); }));
    const std::string log = h.LogText();
    EXPECT_EQ(Count(log, "Reconnect failed: "), 3u) << log;
    EXPECT_EQ(Count(log, FailedLine(WSAECONNREFUSED)), 3u) << log;
    EXPECT_TRUE(log.ends_with("Connected to 127.0.0.1:" + peer.PortText() + "\r\n")) << log;
    EXPECT_TRUE(h.Boxes().empty());
}

TEST(Reconnect, DisconnectStopsItBetweenAttemptsAndDuringOne) {
    {
        CDialogHarness h;
        CTestPeer peer;
        ConnectAndDrop(h, peer, true);
        h.Command(IDOK); // Enter does not stop it
        EXPECT_TRUE(IsReconnectingLayout(h));
        h.Click(IDC_BTN_CONNECT);
        EXPECT_TRUE(h.LogText().ends_with("Reconnecting stopped\r\n"));
        EXPECT_TRUE(IsNotConnectedLayout(h));
        // No attempt follows.
        CTestPeer again(0, 0, peer.Port());
        EXPECT_FALSE(again.Accept(milliseconds(2500)));
    }
    {
        CDialogHarness h;
        CTestPeer peer;
        ConnectAndDrop(h, peer, true);
        const double dropped = NowMs();
        CSilentListener silent(peer.Port());
        // The first attempt waits for an answer from 1 s on.
        WaitUntil([] { return false; }, milliseconds(1500));
        h.Click(IDC_BTN_CONNECT);
        EXPECT_TRUE(h.LogText().ends_with("Reconnecting stopped\r\n"));
        EXPECT_TRUE(IsNotConnectedLayout(h));
        // The attempt given up says nothing more, even when its time would have run out.
        WaitUntil([] { return false; }, milliseconds(7000 - static_cast<int>(NowMs() - dropped)));
        EXPECT_TRUE(h.LogText().ends_with("Reconnecting stopped\r\n")) << h.LogText();
        EXPECT_EQ(Count(h.LogText(), "Reconnect failed"), 0u) << h.LogText();
        EXPECT_TRUE(h.Boxes().empty());
    }
}

TEST(Reconnect, ClosingTheWindowWhileReconnectingEndsPromptly) {
    for (bool bAttempting : {false, true}) {
        SCOPED_TRACE(bAttempting ? "during an attempt" : "between attempts");
        CDialogHarness h;
        CTestPeer peer;
        ConnectAndDrop(h, peer, true);
        CSilentListener silent(peer.Port());
        if (bAttempting)
            WaitUntil([] { return false; }, milliseconds(1500));
        // Well under the 5 s an attempt may last, which a close that waited for it would take.
        const auto start = std::chrono::steady_clock::now();
        ::PostMessageA(h.Dialog(), WM_CLOSE, 0, 0);
        EXPECT_TRUE(h.WaitClosed(seconds(3)));
        EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(3));
    }
}

TEST(Reconnect, RealInputGetsThroughWhileAttemptsWaitForAnAddressThatDoesNotAnswer) {
    CDialogHarness h;
    CTestPeer peer;
    ConnectAndDrop(h, peer, true);
    const double dropped = NowMs();
    CSilentListener silent(peer.Port());
    // Generous limits, for a busy machine: a window blocked by an attempt would answer only
    // when the attempt ends, 5 s or more later.
    constexpr double kLimitMs = 3000;

    // The first attempt waits from 1 s on, for up to 5 s: typing gets through meanwhile.
    WaitUntil([] { return false; }, milliseconds(1300));
    const HWND hStartEdit =
        reinterpret_cast<HWND>(h.Send(h.Item(IDC_COMBO_START_DIO), CBEM_GETEDITCONTROL));
    real_input::Click(hStartEdit);
    const double typed = NowMs();
    real_input::Type("7");
    EXPECT_TRUE(WaitUntil([&] { return h.Text(hStartEdit).find('7') != std::string::npos; },
                          milliseconds(static_cast<int>(kLimitMs))))
        << real_input::DescribeTarget(hStartEdit);
    EXPECT_LT(NowMs() - typed, kLimitMs);

    // It is given up with the system's words for a time-out; the next one comes 2 s later.
    ASSERT_TRUE(
        WaitUntil([&] { return h.LogText().ends_with(FailedLine(WSAETIMEDOUT)); }, seconds(10)));
    EXPECT_GT(NowMs() - dropped, 5900);
    WaitUntil([] { return false; }, milliseconds(2500));
    EXPECT_EQ(Count(h.LogText(), "Reconnect failed"), 1u) << h.LogText();

    // A click on Dis&connect in the middle of that one.
    const double clicked = NowMs();
    real_input::Click(h.Item(IDC_BTN_CONNECT));
    EXPECT_TRUE(WaitUntil([&] { return h.Text(IDC_BTN_CONNECT) == "&Connect"; },
                          milliseconds(static_cast<int>(kLimitMs))))
        << real_input::DescribeTarget(h.Item(IDC_BTN_CONNECT));
    EXPECT_LT(NowMs() - clicked, kLimitMs);
    EXPECT_TRUE(h.LogText().ends_with("Reconnecting stopped\r\n")) << h.LogText();
    EXPECT_TRUE(h.Boxes().empty());
}
