// What test programs that drive real windows share: a picture of what a skinned
// window shows, a PNG writer, and mouse and key input through SendInput.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "UIManager.h"

namespace uidriver {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;   // top-down rows
};

// For a layered window the bitmap handed to UpdateLayeredWindow (premultiplied),
// else a copy of the client area from the window's DC.
bool Capture(HWND hwnd, SkinUI::CWindowManagerUI& manager, Picture& out);
bool WritePng(const std::wstring& path, const Picture& picture);

// A mouse event at a client position of `hwnd`.
void SendMouse(HWND hwnd, DWORD flags, int x, int y, DWORD data = 0);
void SendKey(WORD vk, bool up);

}  // namespace uidriver
