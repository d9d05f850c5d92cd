// The Timeline window (its menu item: MainDialogTest): one lane per DIO of the target model, the
// keys that pan and zoom it, Follow, the cursor readout and marker, Clear, and Export; a reply
// seen in its row is what the Timeline shows at that time.
#include "res/resource.h"
#include "tests/win32/DialogHarness.h"
#include "tests/win32/RealInput.h"
#include "tests/win32/TestPeer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {
using std::chrono::microseconds;
using std::chrono::seconds;

// Stands in for the Save dialog: answers g_answer with the filter g_filter (cancels when the
// answer is empty).
std::string g_answer;
int g_filter = 1;
BOOL WINAPI FakeGetSaveFileName(LPOPENFILENAMEA ofn) {
    if (g_answer.empty())
        return FALSE;
    g_answer.copy(ofn->lpstrFile, ofn->nMaxFile - 1);
    ofn->lpstrFile[g_answer.size()] = '\0';
    ofn->nFilterIndex = static_cast<DWORD>(g_filter);
    return TRUE;
}
struct SaveDialogStandIn {
    SaveDialogStandIn() { g_pfnGetSaveFileName = &FakeGetSaveFileName; }
    ~SaveDialogStandIn() { g_pfnGetSaveFileName = &::GetSaveFileNameA; }
};

std::string TempPath(const std::string& name) {
    char folder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

DioTime Now() {
    return ToDioTime(std::chrono::system_clock::now());
}

TimelineState State(const CTestDialogHarness& h) {
    TimelineState state;
    h.OnUiThread([&] { state = h.TestDlg().m_timeline.State(); });
    return state;
}

// Opens the Timeline from the Device menu.
HWND OpenTimeline(const CTestDialogHarness& h) {
    h.Command(ID_DEVICE_TIMELINE);
    HWND hChart = nullptr;
    h.OnUiThread([&] { hChart = h.TestDlg().m_timeline.Chart(); });
    EXPECT_TRUE(State(h).bVisible);
    return hChart;
}

// A key as the keyboard gives it: posted, so that it goes through the dialog's message loop.
void Key(const CDialogHarness& h, HWND hChart, WPARAM key, UINT message = WM_KEYDOWN) {
    ::PostMessageA(hChart, message, key, 0);
    h.OnUiThread([] {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_PAINT &&
               msg.message != WM_TIMER)
            WaitUntil([] { return false; }, std::chrono::milliseconds(1));
    });
    WaitUntil([] { return false; }, std::chrono::milliseconds(20));
}

// The pointer over the chart at the column of a time.
void PointAt(const CDialogHarness& h, HWND hChart, const TimelineState& state, DioTime time,
             UINT message = WM_MOUSEMOVE) {
    const int x = state.plotLeft + static_cast<int>((time - state.start).count() * state.plotWidth /
                                                    state.span.count());
    h.Send(hChart, message, message == WM_MOUSEMOVE ? 0 : MK_LBUTTON, MAKELPARAM(x, 10));
}
} // namespace

TEST(Timeline, OpensFromTheDeviceMenuAndFollowsTheTargetModel) {
    CTestDialogHarness h;
    // The model's DIOs have lanes; after switching to nine DIOs, nine, and DIO 0 to 3 keep
    // their history.
    const DioTime then = Now() - seconds(2);
    h.OnUiThread([&] {
        std::vector<DioReport> reports = {{0, {1, 1}}, {3, {0, 1}}};
        h.TestDlg().m_history.RecordReports(then, reports.data(), reports.size());
    });
    const HWND hChart = OpenTimeline(h);
    TimelineState state = State(h);
    EXPECT_EQ(state.laneLabels, (std::vector<std::string>{"DIO0", "DIO1", "DIO2", "DIO3"}));
    EXPECT_TRUE(state.bFollow);
    h.Command(ID_TARGET_MODEL_FIRST + 1);
    state = State(h);
    ASSERT_EQ(state.laneLabels.size(), 9u);
    EXPECT_EQ(state.laneLabels[8], "DIO8");
    PointAt(h, hChart, state, then + seconds(1));
    EXPECT_NE(State(h).readout.find("DIO0 Output High | DIO1 not known | DIO2 not known | DIO3 "
                                    "Input High | DIO4 not known"),
              std::string::npos)
        << State(h).readout;

    // Closing only hides it; the history goes on; opening again shows it as it was.
    HWND hFrame = ::GetParent(hChart);
    h.Send(hFrame, WM_CLOSE);
    EXPECT_FALSE(State(h).bVisible);
    EXPECT_TRUE(::IsWindow(hFrame));
    OpenTimeline(h);
    EXPECT_EQ(State(h).laneLabels.size(), 9u);
}

TEST(Timeline, KeysZoomPanAndFollow) {
    CTestDialogHarness h;
    // A minute of data, so that there is somewhere to pan to.
    const DioTime begin = Now() - seconds(60);
    h.OnUiThread([&] {
        std::vector<DioReport> reports = {{1, {0, 1}}};
        h.TestDlg().m_history.RecordReports(begin, reports.data(), reports.size());
    });
    const HWND hChart = OpenTimeline(h);
    EXPECT_EQ(State(h).span, seconds(10));

    Key(h, hChart, '+', WM_CHAR);
    EXPECT_EQ(State(h).span, seconds(5));
    Key(h, hChart, '-', WM_CHAR);
    Key(h, hChart, '-', WM_CHAR);
    EXPECT_EQ(State(h).span, seconds(20));
    EXPECT_TRUE(State(h).bFollow);

    // Back in time: Follow ends; End turns it on again.
    TimelineState before = State(h);
    Key(h, hChart, VK_LEFT);
    TimelineState after = State(h);
    EXPECT_FALSE(after.bFollow);
    EXPECT_NEAR(static_cast<double>((before.start - after.start).count()), 2e6, 0.2e6);
    Key(h, hChart, VK_PRIOR);
    EXPECT_NEAR(static_cast<double>((after.start - State(h).start).count()), 20e6, 0.2e6);
    Key(h, hChart, VK_HOME);
    EXPECT_EQ(State(h).start, begin);
    Key(h, hChart, VK_NEXT);
    EXPECT_EQ(State(h).start, begin + seconds(20));
    Key(h, hChart, VK_END);
    EXPECT_TRUE(State(h).bFollow);
    EXPECT_TRUE(h.Send(::GetDlgItem(::GetParent(hChart), IDC_TIMELINE_FOLLOW), BM_GETCHECK) ==
                BST_CHECKED);

    // Fit shows everything (and goes on following); Ctrl+wheel zooms in, to the ladder's
    // next span.
    Key(h, hChart, 'f', WM_CHAR);
    after = State(h);
    EXPECT_NEAR(static_cast<double>((after.start - begin).count()), 0, 0.2e6);
    EXPECT_GE(after.span, seconds(60));
    h.Send(hChart, WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, WHEEL_DELTA), 0);
    EXPECT_EQ(State(h).span, seconds(60));

    // The Follow button, and dragging back in time.
    const HWND hFollow = ::GetDlgItem(::GetParent(hChart), IDC_TIMELINE_FOLLOW);
    h.Send(hFollow, BM_CLICK);
    EXPECT_FALSE(State(h).bFollow);
    h.Send(hFollow, BM_CLICK);
    EXPECT_TRUE(State(h).bFollow);
    before = State(h);
    h.Send(hChart, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 20));
    h.Send(hChart, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, 20));
    h.Send(hChart, WM_LBUTTONUP, 0, MAKELPARAM(300, 20));
    after = State(h);
    EXPECT_FALSE(after.bFollow);
    EXPECT_LT(after.start, before.start);
    EXPECT_FALSE(after.marker) << "a drag is not a click";
}

TEST(Timeline, CursorReadoutMarkerAndClear) {
    CTestDialogHarness h;
    const DioTime t0 = Now() - seconds(8);
    h.OnUiThread([&] {
        CDioHistory& history = h.TestDlg().m_history;
        std::vector<DioReport> reports = {{0, {0, 0}}, {2, {1, 1}}};
        history.RecordReports(t0, reports.data(), reports.size());
        reports = {{0, {0, 1}}};
        history.RecordReports(t0 + seconds(2), reports.data(), reports.size());
    });
    const HWND hChart = OpenTimeline(h);
    TimelineState state = State(h);
    PointAt(h, hChart, state, t0 + seconds(1));
    EXPECT_NE(State(h).readout.find("| DIO0 Input Low | DIO1 not known | DIO2 Output High | DIO3 "
                                    "not known"),
              std::string::npos)
        << State(h).readout;
    // A click sets the marker; the readout gives the time from it to the cursor.
    PointAt(h, hChart, state, t0 + seconds(1), WM_LBUTTONDOWN);
    PointAt(h, hChart, state, t0 + seconds(1), WM_LBUTTONUP);
    ASSERT_TRUE(State(h).marker);
    PointAt(h, hChart, state, t0 + seconds(3));
    state = State(h);
    EXPECT_NE(state.readout.find("DIO0 Input High"), std::string::npos) << state.readout;
    const std::string difference = FormatDuration(*state.cursor - *state.marker);
    EXPECT_NE(state.readout.find("cursor - marker " + difference), std::string::npos)
        << state.readout;
    EXPECT_NEAR(static_cast<double>((*state.cursor - *state.marker).count()), 2e6, 0.1e6);

    // The keyboard moves the cursor a column at a time; Esc clears the marker.
    real_input::Click(hChart);
    const DioTime clicked = *State(h).cursor;
    real_input::Chord({VK_SHIFT}, VK_RIGHT);
    EXPECT_TRUE(WaitUntil([&] { return State(h).cursor > clicked; }));
    real_input::Chord({}, VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return !State(h).marker; }));

    // Clear Log leaves the history alone; the Timeline's Clear empties it.
    std::size_t size = 0;
    h.Click(IDC_BTN_CLEAR_LOG);
    h.OnUiThread([&] { size = h.TestDlg().m_history.Size(); });
    EXPECT_EQ(size, 3u);
    h.Send(::GetDlgItem(::GetParent(hChart), IDC_TIMELINE_CLEAR), BM_CLICK);
    h.OnUiThread([&] { size = h.TestDlg().m_history.Size(); });
    EXPECT_EQ(size, 0u);
}

TEST(Timeline, AReplySeenInItsRowIsWhatTheTimelineShowsAndExports) {
    SaveDialogStandIn standIn;
    CTestDialogHarness h;
    CTestPeer peer;
    h.ConnectTo(peer.PortText());
    ASSERT_TRUE(peer.Accept());
    const HWND hChart = OpenTimeline(h);
    // The device's word on DIO 2, twice; each time the row shows it, the Timeline shows the
    // same at the present.
    const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> replies = {
        {{0x01, 0x02, 0x00, 0x03, 0x02, 0x01, 0x01}, "DIO2 Output High"},
        {{0x01, 0x02, 0x00, 0x03, 0x02, 0x00, 0x00}, "DIO2 Input Low"}};
    for (const auto& [bytes, shown] : replies) {
        ASSERT_TRUE(peer.Send(bytes));
        const std::pair<int, int> sent(bytes[5], bytes[6]);
        ASSERT_TRUE(WaitUntil([&] { return h.Row(2) == sent; }));
        // The cursor stands at the start of a pixel column: the one after the moment the row
        // showed the value, once the view (which follows the present) has come that far.
        const TimelineState state = State(h);
        const DioTime seen = Now() + state.span / state.plotWidth;
        ASSERT_TRUE(
            WaitUntil([&] { return State(h).start + State(h).span > seen + state.span / 100; }));
        PointAt(h, hChart, State(h), seen);
        EXPECT_NE(State(h).readout.find(shown), std::string::npos) << State(h).readout;
    }
    peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return h.Text(IDC_BTN_CONNECT) == "&Connect"; }));

    // Ctrl+S in the Timeline exports; the format follows the filter when no extension is typed.
    const std::string path = TempPath("kelvane-timeline-test");
    ::DeleteFileA((path + ".csv").c_str());
    g_answer = path;
    g_filter = 2;
    real_input::Click(hChart);
    real_input::Chord({VK_CONTROL}, 'S');
    ASSERT_TRUE(WaitUntil([&] { return !ReadFile(path + ".csv").empty(); }));
    const std::string csv = ReadFile(path + ".csv");
    ::DeleteFileA((path + ".csv").c_str());
    const std::string connected = ",,connected 127.0.0.1:" + peer.PortText() + ",\r\n";
    const std::size_t at = csv.find(connected);
    const std::size_t high = csv.find(",2,output,high\r\n");
    const std::size_t low = csv.find(",2,input,low\r\n");
    const std::size_t closed = csv.find(",,closed by device,\r\n");
    EXPECT_EQ(csv.rfind("time,dio,mode,state\r\n", 0), 0u) << csv;
    EXPECT_TRUE(at < high && high < low && low < closed && closed != std::string::npos) << csv;

    // A file that cannot be written: a box names it and why; the history stays.
    g_answer = TempPath("no-such-folder\\history.vcd");
    std::size_t size = 0;
    h.OnUiThread([&] { size = h.TestDlg().m_history.Size(); });
    h.ClearBoxes();
    h.Send(::GetDlgItem(::GetParent(hChart), IDC_TIMELINE_EXPORT), BM_CLICK);
    ASSERT_EQ(h.Boxes().size(), 1u);
    EXPECT_EQ(h.Boxes()[0].caption, "Export");
    EXPECT_NE(h.Boxes()[0].text.find("Cannot export the history to " + g_answer), std::string::npos)
        << h.Boxes()[0].text;
    std::size_t after = 0;
    h.OnUiThread([&] { after = h.TestDlg().m_history.Size(); });
    EXPECT_EQ(after, size);
}
