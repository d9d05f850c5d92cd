// The window at the screen's DPI: every pixel figure of the rows, their scrolling and the
// window's sizing is its 96-DPI figure scaled to that DPI, and the program's manifest declares
// it DPI-aware. ctest runs the DpiScaling cases with the other tests at 96 DPI, and again in Wine
// prefixes at 144 and 192 DPI (tests/CMakeLists.txt); the manifest is read once.
#include "tests/win32/DialogHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace {
int ScreenDpi() {
    HDC hScreen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(hScreen, LOGPIXELSY);
    ::ReleaseDC(nullptr, hScreen);
    return dpi;
}

std::vector<LONG> Edges(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

// The heights the windows created meanwhile were given, by control ID.
std::map<int, int> g_createdHeights;

LRESULT CALLBACK RecordCreatedHeights(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA& create = *reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        g_createdHeights[static_cast<int>(reinterpret_cast<INT_PTR>(create.hMenu))] = create.cy;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// The extent of a control's text drawn in the control's own font.
SIZE TextExtent(const CDialogHarness& h, HWND hControl) {
    const std::string text = h.Text(hControl);
    HDC hdc = ::GetDC(hControl);
    HGDIOBJ hOld = ::SelectObject(hdc, reinterpret_cast<HFONT>(h.Send(hControl, WM_GETFONT)));
    SIZE size{};
    ::GetTextExtentPoint32A(hdc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(hdc, hOld);
    ::ReleaseDC(hControl, hdc);
    return size;
}
} // namespace

TEST(DpiScaling, RowsScrollingAndTheLogsMinimumWidthGrowWithTheDpi) {
    const int dpi = ScreenDpi();
    // A prefix made for another DPI says which; it must be in force, or this proves nothing.
    if (const char* made = std::getenv("KELVANE_WINE_LOGPIXELS"); made != nullptr && *made) {
        ASSERT_EQ(dpi, std::atoi(made));
    }
    auto scaled = [dpi](int pixels) {
        return ::MulDiv(pixels, dpi, 96);
    };

    CTestDialogHarness h;
    HHOOK hHook = nullptr;
    h.OnUiThread([&] {
        hHook = ::SetWindowsHookExA(WH_CBT, &RecordCreatedHeights, nullptr, ::GetCurrentThreadId());
    });
    g_createdHeights.clear();
    h.Command(2002); // nine rows
    h.OnUiThread([&] { ::UnhookWindowsHookEx(hHook); });
    const HWND hPanel = h.Item(1004);
    const RECT dioNo = h.RectIn(h.Item(1017), hPanel);
    const RECT mode = h.RectIn(h.Item(1018), hPanel);
    const RECT state = h.RectIn(h.Item(1019), hPanel);
    const RECT write = h.RectIn(h.Item(1020), hPanel);
    const RECT read = h.RectIn(h.Item(1021), hPanel);
    using V = std::vector<LONG>;
    for (int r = 0; r < 9; ++r) {
        SCOPED_TRACE(r);
        const int y = scaled(10) + scaled(30) * r;
        const HWND hLabel = h.Item(0xFFFF, r);
        EXPECT_EQ(Edges(h.RectIn(hLabel, hPanel)),
                  (V{dioNo.left, y + scaled(4), dioNo.right, y + scaled(16)}));
        // A selector spans its header; its extent with the list dropped down is the height
        // it was created with.
        for (const auto& [id, header] : {std::pair{2101 + r, mode}, std::pair{2201 + r, state}}) {
            const RECT field = h.RectIn(h.Item(id), hPanel);
            EXPECT_EQ((V{field.left, field.top, field.right}), (V{header.left, y, header.right}))
                << id;
            EXPECT_EQ(g_createdHeights[id], scaled(100)) << id;
        }
        EXPECT_EQ(Edges(h.RectIn(h.Item(2301 + r), hPanel)),
                  (V{write.left, y, write.right, y + scaled(20)}));
        EXPECT_EQ(Edges(h.RectIn(h.Item(2401 + r), hPanel)),
                  (V{read.left, y, read.right, y + scaled(20)}));

        // Nothing of the label's text is cut off.
        const SIZE text = TextExtent(h, hLabel);
        RECT client;
        ::GetClientRect(hLabel, &client);
        EXPECT_LE(text.cx, client.right);
        EXPECT_LE(text.cy, client.bottom);
    }

    // The scroll range covers the scaled content; an arrow click moves the scaled line step.
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    ::GetScrollInfo(h.Item(1003), SB_CTL, &info);
    EXPECT_EQ(info.nMax, scaled(30) * 9 + scaled(10));
    ASSERT_LT(static_cast<int>(info.nPage), info.nMax - scaled(20));
    h.Send(h.Dialog(), WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0),
           reinterpret_cast<LPARAM>(h.Item(1003)));
    ::GetScrollInfo(h.Item(1003), SB_CTL, &info);
    EXPECT_EQ(info.nPos, scaled(20));
    EXPECT_EQ(h.RectIn(h.Item(2301), hPanel).top, scaled(10) - scaled(20));

    // Dragging the right edge far in stops where the log is the scaled minimum wide.
    RECT start;
    ::GetWindowRect(h.Dialog(), &start);
    RECT log;
    ::GetWindowRect(h.Item(1016), &log);
    RECT proposed = start;
    proposed.right = proposed.left + 10;
    h.Send(h.Dialog(), WM_SIZING, WMSZ_RIGHT, reinterpret_cast<LPARAM>(&proposed));
    EXPECT_EQ(proposed.right - proposed.left,
              (start.right - start.left) - (log.right - log.left) + scaled(120));
}

TEST(ProgramManifest, DeclaresSystemDpiAwarenessWithTheClassicControls) {
    HMODULE hProgram = ::LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hProgram, nullptr) << ProgramPath();
    HRSRC hInfo = ::FindResourceA(hProgram, MAKEINTRESOURCEA(1), RT_MANIFEST);
    ASSERT_NE(hInfo, nullptr);
    const char* pData = static_cast<const char*>(::LockResource(::LoadResource(hProgram, hInfo)));
    const std::string manifest(pData, ::SizeofResource(hProgram, hInfo));
    ::FreeLibrary(hProgram);

    EXPECT_NE(manifest.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/"
                            "WindowsSettings\">true</dpiAware>"),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                            "WindowsSettings\">system</dpiAwareness>"),
              std::string::npos);
    // Per monitor only if the rows followed WM_DPICHANGED, which they do not; and no common
    // controls version 6, which would change the look.
    std::string lower = manifest;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_EQ(lower.find("permonitor"), std::string::npos);
    EXPECT_EQ(lower.find("common-controls"), std::string::npos);
}
