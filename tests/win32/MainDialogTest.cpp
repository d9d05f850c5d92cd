// The main window as the operator first meets it: the template's controls, the initial
// state, the keyboard, closing, the system menu, the About box and F1.
#include "app/AboutDlg.h"
#include "platform/WinApp.h"
#include "res/resource.h"
#include "tests/win32/DialogHarness.h"
#include "tests/win32/DialogTemplate.h"

#include <gtest/gtest.h>

#include <regex>

namespace {
struct ExpectedItem {
    int id;
    const char* className;
    const char* text;
    DWORD style; // besides WS_CHILD | WS_VISIBLE
    DWORD exStyle;
    short x, y, cx, cy;
};

// The main dialog's template, control by control in template (tab) order.
const ExpectedItem kMainTemplate[] = {
    {-1, "STATIC", "&Target:", WS_GROUP | SS_LEFT, 0, 7, 10, 24, 8},
    {1006, "EDIT", "", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 37, 8, 124, 12},
    {-1, "STATIC", "&Port:", WS_GROUP | SS_LEFT, 0, 169, 10, 16, 8},
    {1007, "EDIT", "", WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL, 0, 189, 8, 40, 12},
    {1022, "BUTTON", "&Connect", WS_TABSTOP | BS_PUSHBUTTON, 0, 239, 7, 50, 14},
    {1026, "BUTTON", "Single DIO Command", BS_GROUPBOX, 0, 7, 27, 282, 112},
    {1017, "STATIC", "DIO No.", WS_GROUP | SS_LEFT, 0, 23, 38, 27, 8},
    {1018, "STATIC", "Mode", WS_GROUP | SS_LEFT, 0, 59, 38, 44, 8},
    {1019, "STATIC", "State", WS_GROUP | SS_LEFT, 0, 112, 38, 44, 8},
    {1003, "SCROLLBAR", "", SBS_VERT, 0, 271, 49, 11, 82},
    {1004, "STATIC", "", SS_LEFT | SS_SUNKEN, WS_EX_TRANSPARENT, 13, 49, 258, 82},
    {1027, "BUTTON", "Multiple DIO Command", BS_GROUPBOX, 0, 7, 145, 282, 46},
    {1028, "STATIC", "Start DIO", WS_GROUP | SS_LEFT, 0, 17, 158, 30, 8},
    {1011, "ComboBoxEx32", "", WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWN | CBS_SORT, 0, 13, 168, 48,
     110},
    {1029, "STATIC", "End DIO", WS_GROUP | SS_LEFT, 0, 72, 158, 28, 8},
    {1013, "ComboBoxEx32", "", WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWN | CBS_SORT, 0, 68, 168, 48,
     109},
    {1014, "BUTTON", "Write", WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON, 0, 127, 167, 50, 14},
    {1015, "BUTTON", "Read", WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON, 0, 183, 167, 50, 14},
    {1024, "BUTTON", "Receive Information", BS_GROUPBOX, 0, 297, 7, 246, 184},
    {1016, "RICHEDIT", "",
     WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
         ES_NOHIDESEL | ES_READONLY,
     WS_EX_STATICEDGE, 303, 18, 234, 147},
    {1020, "STATIC", "", WS_GROUP | SS_LEFT, 0, 165, 38, 43, 8},
    {1021, "STATIC", "", WS_GROUP | SS_LEFT, 0, 217, 38, 43, 8},
    {1030, "BUTTON", "C&lear Log", WS_TABSTOP | BS_PUSHBUTTON, 0, 487, 171, 50, 14},
};

const ExpectedItem kAboutTemplate[] = {
    {-1, "STATIC", "#128", SS_ICON, 0, 11, 17, 21, 20},
    {1031, "STATIC", "Kelvane Version 2.0", WS_GROUP | SS_LEFT | SS_NOPREFIX, 0, 40, 10, 132, 8},
    {-1, "STATIC", "Copyright (C) 2026 Kelvane developers", WS_GROUP | SS_LEFT, 0, 40, 25, 119, 8},
    {IDOK, "BUTTON", "OK", WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 178, 7, 50, 14},
};

template <std::size_t N>
void ExpectItems(const DialogTemplate& dialog, const ExpectedItem (&expected)[N]) {
    ASSERT_EQ(dialog.items.size(), N);
    for (std::size_t i = 0; i < N; ++i) {
        SCOPED_TRACE(i);
        const TemplateItem& item = dialog.items[i];
        const ExpectedItem& want = expected[i];
        EXPECT_EQ(item.id, want.id);
        EXPECT_STRCASEEQ(item.className.c_str(), want.className);
        EXPECT_EQ(item.text, want.text);
        EXPECT_EQ(item.style, want.style | WS_CHILD | WS_VISIBLE);
        EXPECT_EQ(item.exStyle, want.exStyle);
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
    }
}

std::string ClassOf(HWND hWnd) {
    char name[64] = {};
    ::GetClassNameA(hWnd, name, sizeof name);
    return name;
}

std::vector<std::string> ComboExItems(const CDialogHarness& h, int id) {
    std::vector<std::string> items;
    const int count = static_cast<int>(h.Send(h.Item(id), CB_GETCOUNT));
    for (int i = 0; i < count; ++i) {
        char text[32] = {};
        COMBOBOXEXITEMA item{};
        item.mask = CBEIF_TEXT;
        item.iItem = i;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        h.Send(h.Item(id), CBEM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        items.emplace_back(text);
    }
    return items;
}

const std::regex kVersionLine(R"(Kelvane Version 2\.0 Build \d{4}[ \d]\d{3})");
} // namespace

TEST(MainDialog, TemplatesHoldEveryControlExactly) {
    DialogTemplate main;
    ASSERT_TRUE(ReadDialogTemplate(102, main));
    EXPECT_TRUE(main.extended);
    EXPECT_EQ(main.style, 0x90CF0040u);
    EXPECT_EQ(main.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
    EXPECT_EQ(main.helpId, 0u);
    EXPECT_EQ(main.caption, "Kelvane");
    EXPECT_EQ(main.menu, "#129");
    EXPECT_EQ(main.typeface, "MS Sans Serif");
    EXPECT_EQ(main.pointSize, 8);
    EXPECT_EQ(main.weight, 0);
    EXPECT_EQ(main.italic, 0);
    EXPECT_EQ(main.charset, 1);
    EXPECT_EQ((std::vector<short>{main.x, main.y, main.cx, main.cy}),
              (std::vector<short>{0, 0, 550, 198}));
    ExpectItems(main, kMainTemplate);

    DialogTemplate about;
    ASSERT_TRUE(ReadDialogTemplate(100, about));
    EXPECT_FALSE(about.extended);
    EXPECT_EQ(about.style, 0x80C800C0u);
    EXPECT_EQ(about.caption, "About Kelvane");
    EXPECT_EQ(about.menu, "");
    EXPECT_EQ(about.typeface, "MS Sans Serif");
    EXPECT_EQ(about.pointSize, 8);
    EXPECT_EQ((std::vector<short>{about.x, about.y, about.cx, about.cy}),
              (std::vector<short>{0, 0, 235, 55}));
    ExpectItems(about, kAboutTemplate);
}

TEST(MainDialog, RunningDialogHasTheTemplatesControlsBoundAndEnabledAsTemplated) {
    CDialogHarness h;
    EXPECT_EQ(h.Text(h.Dialog()), "Kelvane");
    // Controls in tab order, as the template lists them.
    HWND hChild = ::GetWindow(h.Dialog(), GW_CHILD);
    for (const ExpectedItem& want : kMainTemplate) {
        SCOPED_TRACE(want.id);
        ASSERT_NE(hChild, nullptr);
        EXPECT_EQ(::GetDlgCtrlID(hChild), want.id);
        EXPECT_STRCASEEQ(ClassOf(hChild).c_str(), want.className);
        EXPECT_EQ(::IsWindowEnabled(hChild) != FALSE, (want.style & WS_DISABLED) == 0);
        hChild = ::GetWindow(hChild, GW_HWNDNEXT);
    }
    EXPECT_EQ(::GetDlgItem(h.Dialog(), IDOK), nullptr);
    EXPECT_EQ(::GetDlgItem(h.Dialog(), IDCANCEL), nullptr);
    // The row panel lets Tab walk into the rows.
    EXPECT_TRUE(::GetWindowLongPtrA(h.Item(1004), GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
}

TEST(MainDialog, StartsNotConnectedWithFourRowsAndThePortPreset) {
    CDialogHarness h;
    EXPECT_EQ(h.Text(1007), "5001");
    EXPECT_EQ(h.Text(1006), "");
    EXPECT_EQ(h.LogText(), "");
    EXPECT_FALSE(h.Enabled(1014));
    EXPECT_FALSE(h.Enabled(1015));
    EXPECT_TRUE(h.Enabled(1006));
    EXPECT_TRUE(h.Enabled(1007));
    EXPECT_EQ(h.Text(1022), "&Connect");
    EXPECT_EQ(ComboExItems(h, 1011), (std::vector<std::string>{"0", "1", "2", "3"}));
    EXPECT_EQ(ComboExItems(h, 1013), (std::vector<std::string>{"0", "1", "2", "3"}));
    EXPECT_EQ(h.CurSel(h.Item(1011)), 0);
    EXPECT_EQ(h.CurSel(h.Item(1013)), 0);
    EXPECT_EQ(h.Item(2105), nullptr);
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(h.Text(h.Item(0xFFFF, r)), "DIO" + std::to_string(r));
        EXPECT_FALSE(h.Enabled(2301 + r));
        EXPECT_FALSE(h.Enabled(2401 + r));
    }
    // The focus starts in the address field.
    HWND hFocus = nullptr;
    h.OnUiThread([&] { hFocus = ::GetFocus(); });
    EXPECT_EQ(hFocus, h.Item(1006));
}

TEST(MainDialog, RangeAndPortFieldsRefuseLettersWhileTheAddressTakesAnyText) {
    CDialogHarness h;
    auto typed = [&](HWND hEdit, const char* keys) {
        h.Send(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        for (const char* p = keys; *p != '\0'; ++p)
            h.Send(hEdit, WM_CHAR, static_cast<WPARAM>(*p), 0);
        return h.Text(hEdit);
    };
    const HWND hStartEdit = reinterpret_cast<HWND>(h.Send(h.Item(1011), CBEM_GETEDITCONTROL));
    const HWND hEndEdit = reinterpret_cast<HWND>(h.Send(h.Item(1013), CBEM_GETEDITCONTROL));
    EXPECT_EQ(typed(h.Item(1007), "5a0b1"), "501");
    EXPECT_EQ(typed(hStartEdit, "x2y"), "2");
    EXPECT_EQ(typed(hEndEdit, "-7"), "7");
    EXPECT_EQ(typed(h.Item(1006), "host.example"), "host.example");
}

TEST(MainDialog, EscAndEnterNeverCloseItButTheCloseCommandsDo) {
    {
        CDialogHarness h;
        // Keys as the modal loop sees them, with the focus in the port field.
        ::PostMessageA(h.Item(1007), WM_KEYDOWN, VK_ESCAPE, 0);
        h.Command(IDCANCEL);
        h.Command(IDOK); // Enter with no address: a failed attempt, not a close
        EXPECT_TRUE(WaitUntil([&] { return h.Boxes().size() == 1; }));
        EXPECT_FALSE(h.WaitClosed(std::chrono::milliseconds(300)));
        ::PostMessageA(h.Dialog(), WM_CLOSE, 0, 0);
        EXPECT_TRUE(h.WaitClosed(std::chrono::seconds(5)));
    }
    {
        CDialogHarness h;
        ::PostMessageA(h.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); // close box, Alt+F4
        EXPECT_TRUE(h.WaitClosed(std::chrono::seconds(5)));
        EXPECT_TRUE(h.Boxes().empty());
    }
}

TEST(MainDialog, SystemCommandsSixteenToThirtyOneOpenTheAboutBox) {
    CDialogHarness h;
    for (UINT command = 16; command <= 32; ++command) {
        SCOPED_TRACE(command);
        h.ClearBoxes();
        h.Send(h.Dialog(), WM_SYSCOMMAND, command, 0);
        const std::vector<CaughtBox> boxes = h.Boxes();
        if (command <= 31) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].caption, "About Kelvane");
            EXPECT_EQ(boxes[0].hOwner, h.Dialog());
        } else {
            EXPECT_TRUE(boxes.empty());
        }
    }
}

TEST(MainDialog, SystemMenuCarriesTheAboutItem) {
    CDialogHarness h;
    HMENU hSysMenu = ::GetSystemMenu(h.Dialog(), FALSE);
    ASSERT_NE(hSysMenu, nullptr);
    const int count = ::GetMenuItemCount(hSysMenu);
    ASSERT_GE(count, 2);
    char text[64] = {};
    ::GetMenuStringA(hSysMenu, static_cast<UINT>(count - 1), text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&About Kelvane...");
    EXPECT_EQ(::GetMenuItemID(hSysMenu, count - 1), 16u);
    EXPECT_TRUE(::GetMenuState(hSysMenu, static_cast<UINT>(count - 2), MF_BYPOSITION) &
                MF_SEPARATOR);
}

TEST(MainDialog, AboutBoxShowsTheVersionLineFromMenuAndSystemMenuAlike) {
    CDialogHarness h;
    h.Command(16);                            // Help > About...
    h.Send(h.Dialog(), WM_SYSCOMMAND, 16, 0); // system menu item
    const std::vector<CaughtBox> boxes = h.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const CaughtBox& box : boxes) {
        EXPECT_EQ(box.caption, "About Kelvane");
        ASSERT_GE(box.statics.size(), 1u);
        EXPECT_TRUE(std::regex_match(box.statics[0], kVersionLine)) << box.statics[0];
    }
    EXPECT_EQ(boxes[0].statics, boxes[1].statics);
}

TEST(MainDialog, VersionLineComesFromTheVersionResourceAndTheBuildStamp) {
    EXPECT_EQ(ReadVersionLine("Jul 16 2007", "11:52:10"), "Kelvane Version 2.0 Build 07071611");
    EXPECT_EQ(ReadVersionLine("Jul  6 2007", "09:05:00"), "Kelvane Version 2.0 Build 0707 609");
}

TEST(MainDialog, MessageBoxesAreCaptionedWithTheExecutableName) {
    CDialogHarness h;
    h.Click(1022); // no address: "Connect fail"
    const std::vector<CaughtBox> boxes = h.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "kelvane_win32_tests");
    EXPECT_STREQ(AfxGetAppName(), "kelvane_win32_tests");
    EXPECT_EQ(boxes[0].hOwner, h.Dialog());
}

TEST(MainDialog, MenuOffersBothTargetModelsWithTheFirstCheckedAndPollAndReconnectOff) {
    CDialogHarness h;
    HMENU hMenu = ::GetMenu(h.Dialog());
    ASSERT_NE(hMenu, nullptr);
    char text[64] = {};
    ::GetMenuStringA(hMenu, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Appearance");
    // "Device" stands between "Appearance", still the first popup, and "Help".
    ::GetMenuStringA(hMenu, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Device");
    ::GetMenuStringA(::GetSubMenu(hMenu, 1), 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Timeline\tCtrl+T");
    EXPECT_EQ(::GetMenuItemID(::GetSubMenu(hMenu, 1), 0), static_cast<UINT>(ID_DEVICE_TIMELINE));
    // Then Poll, Off chosen, and Reconnect Automatically, not checked: both off at start.
    HMENU hDevice = ::GetSubMenu(hMenu, 1);
    ::GetMenuStringA(hDevice, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Poll");
    HMENU hPoll = ::GetSubMenu(hDevice, 1);
    const char* polls[] = {"&Off", "&100 ms", "&250 ms", "&500 ms", "&1 s", "&2 s", "&5 s"};
    ASSERT_EQ(::GetMenuItemCount(hPoll), 7);
    for (int i = 0; i < 7; ++i) {
        ::GetMenuStringA(hPoll, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, polls[i]);
        EXPECT_EQ(::GetMenuItemID(hPoll, i), static_cast<UINT>(ID_POLL_OFF + i));
    }
    auto checked = [](HMENU hPopup, UINT nID) {
        return (::GetMenuState(hPopup, nID, MF_BYCOMMAND) & MF_CHECKED) != 0;
    };
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    ::GetMenuItemInfoA(hPoll, ID_POLL_OFF, FALSE, &info);
    EXPECT_TRUE(info.fType & MFT_RADIOCHECK);
    EXPECT_TRUE(checked(hPoll, ID_POLL_OFF));
    h.Command(ID_POLL_2S);
    EXPECT_TRUE(checked(hPoll, ID_POLL_2S));
    EXPECT_FALSE(checked(hPoll, ID_POLL_OFF));
    ::GetMenuStringA(hDevice, 2, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Reconnect &Automatically");
    EXPECT_EQ(::GetMenuItemID(hDevice, 2), static_cast<UINT>(ID_DEVICE_RECONNECT));
    EXPECT_FALSE(checked(hDevice, ID_DEVICE_RECONNECT));
    h.Command(ID_DEVICE_RECONNECT);
    EXPECT_TRUE(checked(hDevice, ID_DEVICE_RECONNECT));
    h.Command(ID_DEVICE_RECONNECT);
    EXPECT_FALSE(checked(hDevice, ID_DEVICE_RECONNECT));
    ::GetMenuStringA(hMenu, 2, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Help");
    HMENU hHelp = ::GetSubMenu(hMenu, 2);
    ::GetMenuStringA(hHelp, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&About...");
    EXPECT_EQ(::GetMenuItemID(hHelp, 0), 16u);

    HMENU hAppearance = ::GetSubMenu(hMenu, 0);
    ::GetMenuStringA(hAppearance, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Target model");
    HMENU hModels = ::GetSubMenu(hAppearance, 0);
    ASSERT_EQ(::GetMenuItemCount(hModels), 2); // the placeholder is gone
    ::GetMenuStringA(hModels, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "TK-6400 series (4 DIOs)");
    ::GetMenuStringA(hModels, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "LR-8800 series (9 DIOs)");
    EXPECT_EQ(::GetMenuItemID(hModels, 0), 2001u);
    EXPECT_EQ(::GetMenuItemID(hModels, 1), 2002u);
    EXPECT_TRUE(::GetMenuState(hModels, 2001, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(::GetMenuState(hModels, 2002, MF_BYCOMMAND) & MF_CHECKED);
}

TEST(MainDialog, WindowAndDragIconsAreTheApplicationIcon) {
    CDialogHarness h;
    const LRESULT bigIcon = h.Send(h.Dialog(), WM_GETICON, ICON_BIG);
    const LRESULT smallIcon = h.Send(h.Dialog(), WM_GETICON, ICON_SMALL);
    EXPECT_NE(bigIcon, 0);
    EXPECT_EQ(bigIcon, smallIcon);
    EXPECT_EQ(h.Send(h.Dialog(), WM_QUERYDRAGICON), bigIcon);
}

namespace {
struct HelpRequest {
    std::string file;
    UINT command;
    ULONG_PTR data;
};
std::vector<HelpRequest> g_helpRequests;
BOOL g_helpEngineWorks = TRUE;

BOOL WINAPI RecordingHelpEngine(HWND, const char* lpszHelp, UINT uCommand, ULONG_PTR dwData) {
    g_helpRequests.push_back({lpszHelp, uCommand, dwData});
    return g_helpEngineWorks;
}
} // namespace

TEST(MainDialog, F1AsksForTheDialogsHelpContextAndReportsAHelpEngineThatFails) {
    const AFX_HELP_ENGINE saved = g_pfnHelpEngine;
    g_pfnHelpEngine = &RecordingHelpEngine;
    g_helpRequests.clear();
    {
        CDialogHarness h;
        HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, 1006, h.Item(1006), 0, {0, 0}};
        g_helpEngineWorks = TRUE;
        h.Send(h.Dialog(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        ASSERT_EQ(g_helpRequests.size(), 1u);
        EXPECT_EQ(g_helpRequests[0].command, static_cast<UINT>(HELP_CONTEXT));
        EXPECT_EQ(g_helpRequests[0].data, 0x20066u);
        const std::string& file = g_helpRequests[0].file;
        EXPECT_TRUE(file.ends_with("\\kelvane_win32_tests.HLP")) << file;
        EXPECT_TRUE(h.Boxes().empty());

        g_helpEngineWorks = FALSE;
        h.Send(h.Dialog(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        const std::vector<CaughtBox> boxes = h.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Failed to launch help.");
    }
    g_pfnHelpEngine = saved;
    g_helpEngineWorks = TRUE;
}
