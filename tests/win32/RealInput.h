#pragma once

#include "platform/Win32.h"

#include <initializer_list>
#include <string>

// Real input, through the window system's hardware input queue (SendInput), as a mouse click
// or typing reaches a program: it waits behind nothing the program posts or sends itself.
// The first click or drag on a window moves the pointer there first and gives the window's
// thread a moment (see RealInput.cpp).
namespace real_input {
// Moves the pointer to the middle of the window and clicks the left (or right) button.
void Click(HWND hWnd, bool bRight = false);
// Presses the left button at one screen point, moves to the other and lets go.
void Drag(POINT from, POINT to);
// Types the characters (digits and letters) on the keyboard.
void Type(const char* text);
// Presses key (a virtual-key code) while the modifiers (VK_CONTROL, VK_SHIFT...) are held.
void Chord(std::initializer_list<WORD> modifiers, WORD key);
// What a click on the middle of the window would meet, for a test's failure message: the
// window there (class, caption, process), the cursor, the foreground window and the buttons.
std::string DescribeTarget(HWND hWnd);
} // namespace real_input
