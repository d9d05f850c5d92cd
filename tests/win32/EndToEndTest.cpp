// The whole program against the bundled device simulator over real loopback sockets: what an
// operator does, end to end. The last tests run the real kelvane.exe as a separate process.
#include "tests/win32/DialogHarness.h"
#include "tools/simulator/DeviceSimulator.h"

#include <gtest/gtest.h>

namespace {
using namespace std::chrono_literals;

// A simulator on a free loopback port, with the given options on top of the defaults.
class CSimulator {
public:
    explicit CSimulator(SimulatorOptions options = {}) {
        options.m_strAddress = "127.0.0.1";
        options.m_nPort = 0;
        options.m_bQuiet = true;
        m_pSim = std::make_unique<CDeviceSimulator>(options);
        std::string error;
        EXPECT_TRUE(m_pSim->Start(error)) << error;
    }
    CDeviceSimulator* operator->() const { return m_pSim.get(); }
    std::string PortText() const { return std::to_string(m_pSim->Port()); }

private:
    std::unique_ptr<CDeviceSimulator> m_pSim;
};

void Connect(const CDialogHarness& h, const CSimulator& sim) {
    h.ConnectTo(sim.PortText());
    ASSERT_EQ(h.Text(1022), "Dis&connect");
    ASSERT_TRUE(
        sim->WaitUntil([](const SimulatorCounters& c) { return c.m_bClientConnected; }, 5s));
}

// The rows show exactly the simulator's table.
bool RowsMatch(const CDialogHarness& h, const CSimulator& sim, int count) {
    const std::vector<DioModeState> table = sim->DioTable();
    for (int r = 0; r < count; ++r) {
        if (h.Row(r) != std::make_pair(table[r].mode, table[r].state))
            return false;
    }
    return true;
}

// The operator's session: write rows one by one and as a range, read them back one by one
// and as a range, on the nine-row model.
void OperatorSession(const CDialogHarness& h, const CSimulator& sim, bool wholeReplies) {
    h.Command(2002);
    Connect(h, sim);

    h.SetRow(2, 1, 1);
    h.Click(2303);
    ASSERT_TRUE(sim->WaitForRequests(1, 5s));
    EXPECT_TRUE(WaitUntil([&] { return sim->DioTable()[2].mode == 1; }));
    EXPECT_EQ(sim->DioTable()[2].state, 1);

    // The device changes behind the program's back; a row Read shows it.
    sim->SetDio(7, 1, 0);
    h.Click(2408);
    EXPECT_TRUE(WaitUntil([&] { return h.Row(7) == std::make_pair(1, 0); }));

    // Range Write of rows 3 to 5, then a range Read of everything after the device changed.
    h.SetRow(3, 1, 0);
    h.SetRow(4, 0, 1);
    h.SetRow(5, 1, 1);
    h.SetRange("3", "5");
    h.Click(1014);
    EXPECT_TRUE(WaitUntil([&] { return sim->DioTable()[5].mode == 1; }));
    const std::vector<DioModeState> table = sim->DioTable();
    EXPECT_EQ((std::vector<int>{table[3].mode, table[3].state, table[4].mode, table[4].state,
                                table[5].mode, table[5].state}),
              (std::vector<int>{1, 0, 0, 1, 1, 1}));

    sim->SetDio(0, 1, 1);
    sim->SetDio(8, 0, 1);
    h.Command(2001);
    h.Command(2002); // fresh rows: all Input/Low until read
    h.SetRange("0", "8");
    h.Click(1015);
    EXPECT_TRUE(WaitUntil([&] { return RowsMatch(h, sim, 9); }));

    // Every request and every reply is in the log, requests marked '>' and replies '<' (each
    // reply in one line when it arrived in one piece).
    if (!wholeReplies)
        return;
    const std::string log = h.LogText();
    EXPECT_NE(log.find("> 02 02 00 03 02 01 01"), std::string::npos);
    EXPECT_NE(log.find("< 02 02 00 01 00"), std::string::npos);
    EXPECT_NE(log.find("> 05 02 00 02 00 08"), std::string::npos);
    EXPECT_NE(log.find("< 05 02 00 12 01 01 00 00 01 01 01 00 00 01 01 01"), std::string::npos);
}
} // namespace

TEST(EndToEnd, AnOperatorsSessionAgainstTheSimulator) {
    CDialogHarness h;
    CSimulator sim;
    OperatorSession(h, sim, true);
    h.Click(1022);
    // The simulator closes its side when the program has shut its own.
    EXPECT_TRUE(WaitUntil([&] { return h.LogText().ends_with("Disconnected\r\n"); }));
    EXPECT_EQ(h.Text(1022), "&Connect");
    EXPECT_TRUE(h.Boxes().empty());
}

TEST(EndToEnd, RepliesCutIntoBytesAndMixedWithJunkGiveTheSameSession) {
    SimulatorOptions bytes;
    bytes.m_split = ReplySplit::Bytes;
    bytes.m_nJunkFrames = 2;
    CDialogHarness h;
    CSimulator sim(bytes);
    OperatorSession(h, sim, false);
}

TEST(EndToEnd, ADeviceThatClosesOrResetsReturnsTheWindowToNotConnected) {
    for (ConnectionEnd end : {ConnectionEnd::Close, ConnectionEnd::Reset}) {
        SimulatorOptions options;
        options.m_nEndAfterRequests = 2;
        options.m_end = end;
        CDialogHarness h;
        CSimulator sim(options);
        Connect(h, sim);
        h.Click(2401);
        h.Click(2402);
        EXPECT_TRUE(WaitUntil([&] { return h.LogText().ends_with("Disconnected\r\n"); }));
        EXPECT_EQ(h.Text(1022), "&Connect");
        EXPECT_TRUE(h.Enabled(1006));
        EXPECT_FALSE(h.Enabled(2401));
    }
}

TEST(EndToEnd, InputLevelsThatChangeByThemselvesAreShown) {
    SimulatorOptions options;
    options.m_vecToggleDios = {1};
    options.m_nToggleMs = 20;
    CDialogHarness h;
    CSimulator sim(options);
    Connect(h, sim);
    EXPECT_TRUE(WaitUntil([&] { return h.Row(1).second == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return h.Row(1).second == 0; }));
    EXPECT_EQ(h.Row(0), std::make_pair(0, 0));
}

namespace {
struct CProgram {
    PROCESS_INFORMATION process{};
    HWND hDialog = nullptr;

    bool Start() {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "\"" + ProgramPath() + "\"";
        if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process))
            return false;
        return WaitUntil(
            [&] {
                hDialog = nullptr;
                ::EnumWindows(
                    [](HWND hWnd, LPARAM lParam) -> BOOL {
                        auto* self = reinterpret_cast<CProgram*>(lParam);
                        DWORD pid = 0;
                        ::GetWindowThreadProcessId(hWnd, &pid);
                        if (pid == self->process.dwProcessId &&
                            CWnd::GetWindowText(hWnd) == "Kelvane") {
                            self->hDialog = hWnd;
                            return FALSE;
                        }
                        return TRUE;
                    },
                    reinterpret_cast<LPARAM>(this));
                return hDialog != nullptr && ::IsWindowVisible(hDialog);
            },
            20s);
    }
    bool Ended(DWORD timeoutMs) const {
        return ::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    }
    ~CProgram() {
        if (process.hProcess != nullptr) {
            if (!Ended(0))
                ::TerminateProcess(process.hProcess, 1);
            ::CloseHandle(process.hProcess);
            ::CloseHandle(process.hThread);
        }
    }
};

// Fills in the address and port of the running program and clicks Connect, across processes.
void ConnectProgram(const CProgram& program, const CSimulator& sim) {
    const std::string port = sim.PortText();
    ::SendMessageA(::GetDlgItem(program.hDialog, 1006), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>("127.0.0.1"));
    ::SendMessageA(::GetDlgItem(program.hDialog, 1007), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(port.c_str()));
    ::PostMessageA(program.hDialog, WM_COMMAND, MAKEWPARAM(1022, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(program.hDialog, 1022)));
}
} // namespace

TEST(EndToEnd, TheProgramStartsWithItsWindowAndEndsWhenItCloses) {
    CProgram program;
    ASSERT_TRUE(program.Start());
    char port[16] = {};
    ::SendMessageA(::GetDlgItem(program.hDialog, 1007), WM_GETTEXT, sizeof port,
                   reinterpret_cast<LPARAM>(port));
    EXPECT_STREQ(port, "5001");
    ::PostMessageA(program.hDialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.Ended(5000));
}

TEST(EndToEnd, ClosingTheProgramWhileConnectedEndsItPromptly) {
    for (bool flooding : {false, true}) {
        SCOPED_TRACE(flooding ? "while the device floods it" : "while the device is quiet");
        SimulatorOptions options;
        if (flooding)
            options.m_nFloodSeconds = 60;
        CSimulator sim(options);
        CProgram program;
        ASSERT_TRUE(program.Start());
        ConnectProgram(program, sim);
        ASSERT_TRUE(sim->WaitUntil(
            [&](const SimulatorCounters& c) {
                return c.m_bClientConnected && (!flooding || c.m_nFloodedBytes > 100000);
            },
            10s));
        // The program's part takes a fraction of a second; the bound leaves room for Wine
        // ending the process on a busy machine, and is still far below what a close that
        // waits for the device (a quiet one never ends, a flood lasts a minute) would take.
        const auto start = std::chrono::steady_clock::now();
        ::PostMessageA(program.hDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(program.Ended(3000));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        DWORD exitCode = STILL_ACTIVE;
        ::GetExitCodeProcess(program.process.hProcess, &exitCode);
        EXPECT_NE(exitCode, STILL_ACTIVE);
        EXPECT_TRUE(
            sim->WaitUntil([](const SimulatorCounters& c) { return !c.m_bClientConnected; }, 5s));
    }
}
