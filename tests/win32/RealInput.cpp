#include "tests/win32/RealInput.h"

#include "tests/win32/DialogHarness.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace real_input {
namespace {
// A mouse event, at a screen point when flags include a move.
INPUT MouseInput(DWORD flags, POINT at = {}) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = at.x * 65535 / (::GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = at.y * 65535 / (::GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = flags;
    return input;
}
constexpr DWORD MOVE_TO = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;

// Wine keeps its pointer in step with the X server's. A window that appears under the pointer
// (where an earlier program left it) gets X events for that old position, and one handled
// between the move and the press of a click moves the pointer back: the press lands
// elsewhere. So the first click or drag on a top-level window moves the pointer there on its
// own and lets the window's thread take up those events first.
void SettleOn(HWND hWnd, POINT at) {
    static HWND s_hSettled = nullptr;
    const HWND hRoot = ::GetAncestor(hWnd, GA_ROOT);
    if (hRoot == s_hSettled)
        return;
    s_hSettled = hRoot;
    INPUT move = MouseInput(MOVE_TO, at);
    ::SendInput(1, &move, sizeof(INPUT));
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
}
} // namespace

void Click(HWND hWnd, bool bRight) {
    RECT rect;
    ::GetWindowRect(hWnd, &rect);
    const POINT middle{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    SettleOn(hWnd, middle);
    INPUT inputs[3] = {MouseInput(MOVE_TO, middle),
                       MouseInput(bRight ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN),
                       MouseInput(bRight ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP)};
    ::SendInput(3, inputs, sizeof(INPUT));
}

void Drag(POINT from, POINT to) {
    SettleOn(::WindowFromPoint(from), from);
    std::vector<INPUT> inputs{MouseInput(MOVE_TO, from), MouseInput(MOUSEEVENTF_LEFTDOWN)};
    for (int step = 1; step <= 8; ++step)
        inputs.push_back(MouseInput(
            MOVE_TO, {from.x + (to.x - from.x) * step / 8, from.y + (to.y - from.y) * step / 8}));
    inputs.push_back(MouseInput(MOUSEEVENTF_LEFTUP));
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void Type(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        const auto key = static_cast<WORD>(std::toupper(static_cast<unsigned char>(*p)));
        INPUT inputs[2] = {};
        inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
        inputs[0].ki.wVk = inputs[1].ki.wVk = key;
        inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ::SendInput(2, inputs, sizeof(INPUT));
    }
}
void Chord(std::initializer_list<WORD> modifiers, WORD key) {
    std::vector<INPUT> inputs;
    auto press = [&](WORD vk, bool bUp) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = bUp ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    for (WORD vk : modifiers)
        press(vk, false);
    press(key, false);
    press(key, true);
    for (auto it = modifiers.end(); it != modifiers.begin();)
        press(*--it, true);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

std::string DescribeTarget(HWND hWnd) {
    auto describe = [](HWND h) {
        char name[64] = {};
        char caption[64] = {};
        DWORD process = 0;
        if (h != nullptr) {
            ::GetClassNameA(h, name, sizeof name);
            ::GetWindowTextA(h, caption, sizeof caption);
            ::GetWindowThreadProcessId(h, &process);
        }
        char text[200];
        std::snprintf(text, sizeof text, "%p \"%s\" \"%s\" process %lu", static_cast<void*>(h),
                      name, caption, static_cast<unsigned long>(process));
        return std::string(text);
    };
    RECT rect;
    ::GetWindowRect(hWnd, &rect);
    const POINT middle{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    POINT cursor{};
    ::GetCursorPos(&cursor);
    char text[200];
    std::snprintf(text, sizeof text,
                  "; cursor at %ld,%ld for %ld,%ld; enabled %d; buttons down: left %d right %d; "
                  "this process %lu",
                  cursor.x, cursor.y, middle.x, middle.y, ::IsWindowEnabled(hWnd),
                  (::GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0,
                  (::GetAsyncKeyState(VK_RBUTTON) & 0x8000) != 0,
                  static_cast<unsigned long>(::GetCurrentProcessId()));
    // The window's thread: in a menu, in a move, or holding the mouse?
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(hWnd, nullptr), &gui);
    char flags[32];
    std::snprintf(flags, sizeof flags, "; its thread's flags %#lx",
                  static_cast<unsigned long>(gui.flags));
    return "under the click: " + describe(::WindowFromPoint(middle)) +
           "; foreground: " + describe(::GetForegroundWindow()) +
           "; capture: " + describe(gui.hwndCapture) + "; active: " + describe(gui.hwndActive) +
           flags + text;
}
} // namespace real_input
