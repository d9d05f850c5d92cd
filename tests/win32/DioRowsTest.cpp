// The DIO rows: built per target model under their column headers, rebuilt from the menu,
// their clicks passed on to the dialog, scrolled with the panel's scroll bar, and following the
// window's size.
#include "tests/win32/DialogHarness.h"
#include "tests/win32/TestPeer.h"

#include <gtest/gtest.h>

#include <map>

namespace {
constexpr int kPanel = 1004;
constexpr int kScroll = 1003;

std::vector<std::string> ComboItems(const CDialogHarness& h, HWND hCombo) {
    std::vector<std::string> items;
    const int count = static_cast<int>(h.Send(hCombo, CB_GETCOUNT));
    for (int i = 0; i < count; ++i) {
        char text[64] = {};
        h.Send(hCombo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

std::vector<std::string> Numbers(int count) {
    std::vector<std::string> numbers;
    for (int i = 0; i < count; ++i)
        numbers.push_back(std::to_string(i));
    return numbers;
}

// The row set as the dialog holds it: how many slots each array has before its terminator.
struct RowArrays {
    int labels = -1, modes = -1, states = -1, writes = -1, reads = -1;
    int count = -1;
};

template <class T>
int Slots(T** pp) {
    if (pp == nullptr)
        return -1;
    int n = 0;
    while (pp[n] != nullptr)
        ++n;
    return n;
}

RowArrays ReadRowArrays(const CTestDialogHarness& h) {
    RowArrays arrays;
    h.OnUiThread([&] {
        CTestMainDlg& d = h.TestDlg();
        arrays = {Slots(d.m_ppLabels),       Slots(d.m_ppModeCombos),  Slots(d.m_ppStateCombos),
                  Slots(d.m_ppWriteButtons), Slots(d.m_ppReadButtons), d.m_nDioCount};
    });
    return arrays;
}

SCROLLINFO ScrollInfo(const CDialogHarness& h) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    ::GetScrollInfo(h.Item(kScroll), SB_CTL, &info);
    return info;
}

int PanelPage(const CDialogHarness& h) {
    RECT client;
    ::GetClientRect(h.Item(kPanel), &client);
    return client.bottom;
}

int ScrollPos(const CTestDialogHarness& h) {
    int pos = 0;
    h.OnUiThread([&] { pos = h.TestDlg().m_nScrollPos; });
    return pos;
}

int RowTop(const CDialogHarness& h, int row) {
    return h.RectIn(h.Item(2301 + row), h.Item(kPanel)).top;
}

void Scroll(const CDialogHarness& h, int code, int pos = 0) {
    h.Send(h.Dialog(), WM_VSCROLL, MAKEWPARAM(code, pos),
           reinterpret_cast<LPARAM>(h.Item(kScroll)));
}

// Whether the scroll bar's arrows work. Some window systems disable the control window for
// disabled arrows, others only mark the arrows.
bool ArrowsEnabled(const CDialogHarness& h) {
    SCROLLBARINFO info{};
    info.cbSize = sizeof info;
    ::GetScrollBarInfo(h.Item(kScroll), OBJID_CLIENT, &info);
    return ::IsWindowEnabled(h.Item(kScroll)) && !(info.rgstate[1] & STATE_SYSTEM_UNAVAILABLE) &&
           !(info.rgstate[5] & STATE_SYSTEM_UNAVAILABLE);
}

RECT WindowRect(HWND hWnd) {
    RECT rect;
    ::GetWindowRect(hWnd, &rect);
    return rect;
}

int Width(const RECT& r) {
    return r.right - r.left;
}
int Height(const RECT& r) {
    return r.bottom - r.top;
}

void ResizeBy(const CDialogHarness& h, int dw, int dh) {
    const RECT rect = WindowRect(h.Dialog());
    ::SetWindowPos(h.Dialog(), nullptr, 0, 0, Width(rect) + dw, Height(rect) + dh,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
} // namespace

TEST(DioRows, StartUpBuildsFourRowsUnderTheirColumnHeaders) {
    CTestDialogHarness h;
    const RowArrays arrays = ReadRowArrays(h);
    EXPECT_EQ(arrays.count, 4);
    EXPECT_EQ(
        (std::vector<int>{arrays.labels, arrays.modes, arrays.states, arrays.writes, arrays.reads}),
        (std::vector<int>(5, 4)));

    const HWND hPanel = h.Item(kPanel);
    const RECT dioNo = h.RectIn(h.Item(1017), hPanel);
    const RECT mode = h.RectIn(h.Item(1018), hPanel);
    const RECT state = h.RectIn(h.Item(1019), hPanel);
    const RECT write = h.RectIn(h.Item(1020), hPanel);
    const RECT read = h.RectIn(h.Item(1021), hPanel);
    for (int r = 0; r < 4; ++r) {
        SCOPED_TRACE(r);
        const int y = 10 + 30 * r;
        const HWND hLabel = h.Item(0xFFFF, r);
        const HWND hMode = h.Item(2101 + r);
        const HWND hState = h.Item(2201 + r);
        const HWND hWrite = h.Item(2301 + r);
        const HWND hRead = h.Item(2401 + r);
        ASSERT_TRUE(hLabel && hMode && hState && hWrite && hRead);
        EXPECT_EQ(h.Text(hLabel), "DIO" + std::to_string(r));
        EXPECT_EQ(ComboItems(h, hMode), (std::vector<std::string>{"Input", "Output"}));
        EXPECT_EQ(ComboItems(h, hState), (std::vector<std::string>{"Low", "High"}));
        EXPECT_EQ(h.CurSel(hMode), 0);
        EXPECT_EQ(h.CurSel(hState), 0);
        EXPECT_EQ(h.Text(hWrite), "Write");
        EXPECT_EQ(h.Text(hRead), "Read");
        EXPECT_EQ(::GetWindowLongPtrA(hLabel, GWL_STYLE), 0x5002000B);
        EXPECT_EQ(::GetWindowLongPtrA(hMode, GWL_STYLE) & 0xFFFF000F, 0x50030003);
        EXPECT_EQ(::GetWindowLongPtrA(hState, GWL_STYLE) & 0xFFFF000F, 0x50030003);
        EXPECT_EQ(::GetWindowLongPtrA(hWrite, GWL_STYLE) & ~WS_DISABLED, 0x50030000);
        EXPECT_EQ(::GetWindowLongPtrA(hRead, GWL_STYLE) & ~WS_DISABLED, 0x50030000);

        const RECT label = h.RectIn(hLabel, hPanel);
        EXPECT_EQ((std::vector<LONG>{label.left, label.top, label.right, label.bottom}),
                  (std::vector<LONG>{dioNo.left, y + 4, dioNo.right, y + 16}));
        const RECT modeBox = h.RectIn(hMode, hPanel);
        EXPECT_EQ((std::vector<LONG>{modeBox.left, modeBox.top, modeBox.right}),
                  (std::vector<LONG>{mode.left, y, mode.right}));
        const RECT stateBox = h.RectIn(hState, hPanel);
        EXPECT_EQ((std::vector<LONG>{stateBox.left, stateBox.top, stateBox.right}),
                  (std::vector<LONG>{state.left, y, state.right}));
        const RECT writeButton = h.RectIn(hWrite, hPanel);
        EXPECT_EQ((std::vector<LONG>{writeButton.left, writeButton.top, writeButton.right,
                                     writeButton.bottom}),
                  (std::vector<LONG>{write.left, y, write.right, y + 20}));
        const RECT readButton = h.RectIn(hRead, hPanel);
        EXPECT_EQ((std::vector<LONG>{readButton.left, readButton.top, readButton.right,
                                     readButton.bottom}),
                  (std::vector<LONG>{read.left, y, read.right, y + 20}));
        // The rows use the dialog's font.
        EXPECT_EQ(h.Send(hWrite, WM_GETFONT), h.Send(h.Dialog(), WM_GETFONT));
        EXPECT_EQ(h.Send(hMode, WM_GETFONT), h.Send(h.Dialog(), WM_GETFONT));
    }
}

TEST(DioRows, TargetModelMenuSwitchesBetweenNineAndFourRowsWithoutTrace) {
    CTestDialogHarness h;
    HMENU hModels = ::GetSubMenu(::GetSubMenu(::GetMenu(h.Dialog()), 0), 0);

    h.Command(2002);
    RowArrays arrays = ReadRowArrays(h);
    EXPECT_EQ(arrays.count, 9);
    EXPECT_EQ(arrays.labels, 9);
    EXPECT_EQ(arrays.reads, 9);
    for (int r = 0; r < 9; ++r) {
        EXPECT_EQ(h.Text(h.Item(0xFFFF, r)), "DIO" + std::to_string(r));
        for (int base : {2101, 2201, 2301, 2401})
            EXPECT_NE(h.Item(base + r), nullptr) << base + r;
    }
    EXPECT_EQ(ComboItems(h, h.Item(1011)), Numbers(9));
    EXPECT_EQ(ComboItems(h, h.Item(1013)), Numbers(9));
    EXPECT_FALSE(::GetMenuState(hModels, 2001, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_TRUE(::GetMenuState(hModels, 2002, MF_BYCOMMAND) & MF_CHECKED);

    h.Command(2001);
    arrays = ReadRowArrays(h);
    EXPECT_EQ(arrays.count, 4);
    EXPECT_EQ(
        (std::vector<int>{arrays.labels, arrays.modes, arrays.states, arrays.writes, arrays.reads}),
        (std::vector<int>(5, 4)));
    for (int r = 4; r < 9; ++r) {
        for (int base : {2101, 2201, 2301, 2401})
            EXPECT_EQ(h.Item(base + r), nullptr) << base + r;
    }
    EXPECT_EQ(h.Item(0xFFFF, 4), nullptr);
    EXPECT_EQ(ComboItems(h, h.Item(1011)), Numbers(4));
    EXPECT_EQ(h.CurSel(h.Item(1011)), 0);
    EXPECT_TRUE(::GetMenuState(hModels, 2001, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(::GetMenuState(hModels, 2002, MF_BYCOMMAND) & MF_CHECKED);
}

TEST(DioRows, ChoosingTheCheckedModelAgainStillRebuildsAndLosesSelections) {
    CTestDialogHarness h;
    h.Send(h.Item(2102), CB_SETCURSEL, 1);
    h.Send(h.Item(2202), CB_SETCURSEL, 1);
    h.Send(h.Item(1011), CB_SETCURSEL, 2);
    const HWND hOldMode = h.Item(2102);
    h.Command(2001);
    EXPECT_NE(h.Item(2102), hOldMode);
    EXPECT_EQ(h.CurSel(h.Item(2102)), 0);
    EXPECT_EQ(h.CurSel(h.Item(2202)), 0);
    EXPECT_EQ(h.CurSel(h.Item(1011)), 0);
}

TEST(DioRows, RowButtonsAreEnabledExactlyWhenBuiltWithAConnectionOpen) {
    CTestDialogHarness h;
    CTestPeer peer;
    h.ConnectTo(peer.PortText());
    ASSERT_TRUE(peer.Accept());
    h.Command(2002);
    for (int r = 0; r < 9; ++r) {
        EXPECT_TRUE(h.Enabled(2301 + r));
        EXPECT_TRUE(h.Enabled(2401 + r));
        EXPECT_TRUE(h.Enabled(2101 + r));
    }
    peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return h.Text(1022) == "&Connect"; }));
    h.Command(2001);
    for (int r = 0; r < 4; ++r) {
        EXPECT_FALSE(h.Enabled(2301 + r));
        EXPECT_FALSE(h.Enabled(2401 + r));
        EXPECT_TRUE(h.Enabled(2101 + r));
        EXPECT_TRUE(h.Enabled(2201 + r));
    }
    h.OnUiThread([&] { h.Dlg().EnableRowButtons(true); });
    for (int r = 0; r < 4; ++r)
        EXPECT_TRUE(h.Enabled(2301 + r) && h.Enabled(2401 + r));
}

namespace {
std::vector<std::pair<int, int>> g_commands; // (ID, notification) the dialog received

LRESULT CALLBACK RecordCommands(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED)
        g_commands.emplace_back(LOWORD(wParam), HIWORD(wParam));
    return ::DefSubclassProc(hWnd, message, wParam, lParam);
}
} // namespace

TEST(DioRows, ClicksOnRowButtonsReachTheDialogWithTheirIds) {
    CTestDialogHarness h;
    h.Command(2002);
    h.OnUiThread([&] {
        h.Dlg().EnableRowButtons(true);
        ::SetWindowSubclass(h.Dialog(), &RecordCommands, 1, 0);
    });
    g_commands.clear();
    h.Click(2303);
    h.Click(2409);
    h.OnUiThread([&] { ::RemoveWindowSubclass(h.Dialog(), &RecordCommands, 1); });
    EXPECT_EQ(g_commands,
              (std::vector<std::pair<int, int>>{{2303, BN_CLICKED}, {2409, BN_CLICKED}}));
    // The panel answers what the dialog answers: handled.
    EXPECT_EQ(h.Send(h.Item(kPanel), WM_COMMAND, MAKEWPARAM(2301, BN_CLICKED),
                     reinterpret_cast<LPARAM>(h.Item(2301))),
              1);
}

TEST(DioRows, ScrollBarFollowsTheContentAndMovesTheRows) {
    CTestDialogHarness h;
    const int page = PanelPage(h);
    ASSERT_LT(page, 280) << "nine rows must not fit in the panel at start-up";

    // Four rows: content 130.
    SCROLLINFO info = ScrollInfo(h);
    EXPECT_EQ(info.nMax, 130);
    EXPECT_EQ(static_cast<int>(info.nPage), page);
    EXPECT_EQ(ArrowsEnabled(h), page < 130);

    h.Command(2002);
    info = ScrollInfo(h);
    EXPECT_EQ(info.nMin, 0);
    EXPECT_EQ(info.nMax, 280);
    EXPECT_EQ(static_cast<int>(info.nPage), page);
    EXPECT_EQ(info.nPos, 0);
    EXPECT_TRUE(ArrowsEnabled(h));
    EXPECT_EQ(RowTop(h, 0), 10);

    struct Step {
        int code;
        int thumb;
        int expected;
    };
    const int bottom = 280 - page;
    const Step steps[] = {
        {SB_LINEDOWN, 0, 20},
        {SB_LINEDOWN, 0, 40},
        {SB_LINEUP, 0, 20},
        {SB_LINEUP, 0, 0},
        {SB_LINEUP, 0, 0}, // stops at the top
        {SB_PAGEDOWN, 0, std::min(page, bottom)},
        {SB_BOTTOM, 0, bottom},
        {SB_LINEDOWN, 0, bottom}, // stops at the bottom
        {SB_PAGEDOWN, 0, bottom},
        {SB_PAGEUP, 0, std::max(0, bottom - page)},
        {SB_THUMBTRACK, 33, 33}, // the thumb's position, live
        {SB_ENDSCROLL, 0, 33},   // leaves the rows where the drag left them
        {SB_THUMBPOSITION, 57, 57},
        {SB_TOP, 0, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.code);
        Scroll(h, step.code, step.thumb);
        EXPECT_EQ(ScrollInfo(h).nPos, step.expected);
        EXPECT_EQ(ScrollPos(h), step.expected);
        EXPECT_EQ(RowTop(h, 0), 10 - step.expected);
        EXPECT_EQ(RowTop(h, 8), 250 - step.expected);
        EXPECT_EQ(h.RectIn(h.Item(0xFFFF, 8), h.Item(kPanel)).top, 254 - step.expected);
    }
}

TEST(DioRows, ScrollMessagesFromOtherScrollBarsMoveNothing) {
    CTestDialogHarness h;
    h.Command(2002);
    h.Send(h.Dialog(), WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
    h.Send(h.Dialog(), WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0),
           reinterpret_cast<LPARAM>(h.Item(1016)));
    EXPECT_EQ(ScrollInfo(h).nPos, 0);
    EXPECT_EQ(ScrollPos(h), 0);
    EXPECT_EQ(RowTop(h, 0), 10);
}

TEST(DioRows, RebuildKeepsTheScrollPositionAsFarAsTheNewRowsAllow) {
    CTestDialogHarness h;
    const int page = PanelPage(h);
    h.Command(2002);
    Scroll(h, SB_BOTTOM);
    ASSERT_EQ(ScrollPos(h), 280 - page);
    // The same model again: new rows appear scrolled by the old position.
    h.Command(2002);
    EXPECT_EQ(ScrollPos(h), 280 - page);
    EXPECT_EQ(RowTop(h, 0), 10 - (280 - page));
    // Four rows that fit: unscrolled, bar disabled.
    h.Command(2001);
    if (page >= 130) {
        EXPECT_EQ(ScrollPos(h), 0);
        EXPECT_EQ(ScrollInfo(h).nPos, 0);
        EXPECT_EQ(RowTop(h, 0), 10);
        EXPECT_FALSE(ArrowsEnabled(h));
    } else {
        EXPECT_EQ(ScrollPos(h), std::min(280 - page, 130 - page));
    }
}

TEST(DioRows, GrowingTheWindowMovesAndSizesTheControlsByTheChange) {
    CTestDialogHarness h;
    const int ids[] = {1024, 1016, 1030, 1026, 1004, 1003, 1027,
                       1028, 1029, 1011, 1013, 1014, 1015};
    const int fixed[] = {1006, 1007, 1022, 1017, 1018, 1019, 1020, 1021};
    std::map<int, RECT> before;
    for (int id : ids)
        before[id] = h.RectIn(h.Item(id), h.Dialog());
    for (int id : fixed)
        before[id] = h.RectIn(h.Item(id), h.Dialog());

    ResizeBy(h, 50, 40);
    auto moved = [&](int id) {
        const RECT now = h.RectIn(h.Item(id), h.Dialog());
        const RECT& was = before[id];
        return std::vector<LONG>{now.left - was.left, now.top - was.top, Width(now) - Width(was),
                                 Height(now) - Height(was)};
    };
    using V = std::vector<LONG>;
    EXPECT_EQ(moved(1024), (V{0, 0, 50, 40}));
    EXPECT_EQ(moved(1016), (V{0, 0, 50, 40}));
    EXPECT_EQ(moved(1030), (V{50, 40, 0, 0}));
    for (int id : {1026, 1004, 1003})
        EXPECT_EQ(moved(id), (V{0, 0, 0, 40})) << id;
    for (int id : {1027, 1028, 1029, 1011, 1013, 1014, 1015})
        EXPECT_EQ(moved(id), (V{0, 40, 0, 0})) << id;
    for (int id : fixed)
        EXPECT_EQ(moved(id), (V{0, 0, 0, 0})) << id;

    // The last layout is what the next change is measured from.
    int lastClientWidth = 0, lastWndHeight = 0;
    h.OnUiThread([&] {
        lastClientWidth = h.TestDlg().m_nLastClientWidth;
        lastWndHeight = h.TestDlg().m_nLastWndHeight;
    });
    RECT client;
    ::GetClientRect(h.Dialog(), &client);
    EXPECT_EQ(lastClientWidth, client.right);
    EXPECT_EQ(lastWndHeight, Height(WindowRect(h.Dialog())));

    // Back to the start: everything returns.
    ResizeBy(h, -50, -40);
    for (int id : ids)
        EXPECT_EQ(moved(id), (V{0, 0, 0, 0})) << id;
}

TEST(DioRows, MinimisingAndRestoringMovesNothing) {
    CTestDialogHarness h;
    const RECT log = h.RectIn(h.Item(1016), h.Dialog());
    const RECT multi = h.RectIn(h.Item(1027), h.Dialog());
    ::ShowWindow(h.Dialog(), SW_MINIMIZE);
    WaitUntil([&] { return ::IsIconic(h.Dialog()) != FALSE; });
    // Painting the minimised window draws the icon.
    ::RedrawWindow(h.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    ::ShowWindow(h.Dialog(), SW_RESTORE);
    WaitUntil([&] { return ::IsIconic(h.Dialog()) == FALSE; });
    const RECT logAfter = h.RectIn(h.Item(1016), h.Dialog());
    const RECT multiAfter = h.RectIn(h.Item(1027), h.Dialog());
    EXPECT_TRUE(::EqualRect(&log, &logAfter));
    EXPECT_TRUE(::EqualRect(&multi, &multiAfter));
}

TEST(DioRows, GrowingWhileScrolledToTheBottomLowersTheRowsAndFinallyUnscrollsThem) {
    CTestDialogHarness h;
    h.Command(2002);
    Scroll(h, SB_BOTTOM);
    const int page = PanelPage(h);
    ASSERT_EQ(ScrollPos(h), 280 - page);

    ResizeBy(h, 0, 30);
    const int page2 = PanelPage(h);
    ASSERT_EQ(page2, page + 30);
    EXPECT_EQ(ScrollPos(h), std::max(0, 280 - page2));
    EXPECT_EQ(RowTop(h, 0), 10 - std::max(0, 280 - page2));
    EXPECT_EQ(ScrollInfo(h).nPos, ScrollPos(h));

    ResizeBy(h, 0, 400); // tall enough for all rows
    EXPECT_EQ(ScrollPos(h), 0);
    EXPECT_EQ(ScrollInfo(h).nPos, 0);
    EXPECT_EQ(RowTop(h, 0), 10);
    EXPECT_FALSE(ArrowsEnabled(h));
}

TEST(DioRows, DraggingAnyEdgeStopsAtTheStartUpHeightAndAHundredAndTwentyPixelLog) {
    CTestDialogHarness h;
    const RECT start = WindowRect(h.Dialog());
    const int logWidth = Width(WindowRect(h.Item(1016)));
    const int minWidth = Width(start) - (logWidth - 120);

    struct Case {
        int edge;
        bool movesLeft, movesTop; // which edges the drag moves (the others stay)
        bool horizontal, vertical;
    };
    const Case cases[] = {
        {WMSZ_LEFT, true, false, true, false},      {WMSZ_RIGHT, false, false, true, false},
        {WMSZ_TOP, false, true, false, true},       {WMSZ_TOPLEFT, true, true, true, true},
        {WMSZ_TOPRIGHT, false, true, true, true},   {WMSZ_BOTTOM, false, false, false, true},
        {WMSZ_BOTTOMLEFT, true, false, true, true}, {WMSZ_BOTTOMRIGHT, false, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edge);
        // Try to shrink the window to 10 x 10 by dragging this edge.
        RECT proposed = start;
        if (c.horizontal) {
            if (c.movesLeft)
                proposed.left = proposed.right - 10;
            else
                proposed.right = proposed.left + 10;
        }
        if (c.vertical) {
            if (c.movesTop)
                proposed.top = proposed.bottom - 10;
            else
                proposed.bottom = proposed.top + 10;
        }
        h.Send(h.Dialog(), WM_SIZING, static_cast<WPARAM>(c.edge),
               reinterpret_cast<LPARAM>(&proposed));
        EXPECT_EQ(Height(proposed), Height(start));
        EXPECT_EQ(Width(proposed), c.horizontal ? minWidth : Width(start));
        // The edge opposite the dragged one stays.
        if (c.horizontal) {
            EXPECT_EQ(c.movesLeft ? proposed.right : proposed.left,
                      c.movesLeft ? start.right : start.left);
        }
        if (c.vertical) {
            EXPECT_EQ(c.movesTop ? proposed.bottom : proposed.top,
                      c.movesTop ? start.bottom : start.top);
        }

        // Growing has no upper limit.
        RECT bigger = start;
        bigger.right += 300;
        bigger.bottom += 200;
        h.Send(h.Dialog(), WM_SIZING, static_cast<WPARAM>(WMSZ_BOTTOMRIGHT),
               reinterpret_cast<LPARAM>(&bigger));
        EXPECT_EQ(Width(bigger), Width(start) + 300);
        EXPECT_EQ(Height(bigger), Height(start) + 200);
    }
}
