#include "tests/win32/RealInput.h"

#include <cctype>
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
} // namespace

void Click(HWND hWnd, bool bRight) {
    RECT rect;
    ::GetWindowRect(hWnd, &rect);
    INPUT inputs[3] = {
        MouseInput(MOVE_TO, {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}),
        MouseInput(bRight ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN),
        MouseInput(bRight ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP)};
    ::SendInput(3, inputs, sizeof(INPUT));
}

void Drag(POINT from, POINT to) {
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
} // namespace real_input
