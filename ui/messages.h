// The window messages, notifications and key codes the controls of the class library use.
#pragma once

#include "platform/messages.h"

#include <cstdint>

namespace ui {

using platform::LPARAM;
using platform::UINT;
using platform::WPARAM;

// Window messages and notifications of the class library that controls receive.
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_FONTCHANGE = 0x001D;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
// The form offers Enter and Escape to its controls (LParam the keys held), and characters that the
// focused control does not take; the first control answering non-zero took it.
constexpr UINT CM_DIALOGKEY = 0xB005;
constexpr UINT CM_DIALOGCHAR = 0xB006;
// To every control of a form when the focus moved; LParam is the handle of the focused control.
constexpr UINT CM_FOCUSCHANGED = 0xB007;
constexpr UINT CM_VISIBLECHANGED = 0xB00B;
constexpr UINT CM_ENABLEDCHANGED = 0xB00C;
constexpr UINT CM_TEXTCHANGED = 0xB012;
constexpr UINT CM_MOUSEENTER = 0xB013;
constexpr UINT CM_MOUSELEAVE = 0xB014;
constexpr UINT CM_ENTER = 0xB01A;
constexpr UINT CM_EXIT = 0xB01B;

// Virtual key codes the controls look at.
constexpr WPARAM VK_BACK = 8;
constexpr WPARAM VK_TAB = 9;
constexpr WPARAM VK_RETURN = 13;
constexpr WPARAM VK_SHIFT = 0x10;
constexpr WPARAM VK_CONTROL = 0x11;
constexpr WPARAM VK_MENU = 0x12; // Alt
constexpr WPARAM VK_ESCAPE = 27;
constexpr WPARAM VK_SPACE = 32;
// The character an edit's key handler gets for Backspace.
constexpr char kBackspaceChar = static_cast<char>(VK_BACK);

// Mouse position in a message's LParam: x in the low 16 bits, y in the high ones, both signed.
constexpr LPARAM MakeMousePos(int x, int y) {
    return static_cast<LPARAM>(static_cast<uint32_t>(static_cast<uint16_t>(x)) |
                               static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16);
}
constexpr int MouseX(LPARAM pos) {
    return static_cast<int16_t>(pos & 0xFFFF);
}
constexpr int MouseY(LPARAM pos) {
    return static_cast<int16_t>((pos >> 16) & 0xFFFF);
}

// The keys and mouse buttons held, as key and mouse messages carry them.
constexpr int ssShift = 1;
constexpr int ssAlt = 2;
constexpr int ssCtrl = 4;
constexpr int ssLeft = 8;
constexpr int ssRight = 16;
constexpr int ssMiddle = 32;
constexpr int ssDouble = 64;

} // namespace ui
