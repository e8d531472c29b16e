// Process-wide state of the window managers: shared resource tables, skin
// source, default font and colours, the list of live managers.
#pragma once

#include "UIManager.h"

namespace SkinUI {

typedef BOOL(WINAPI* UpdateLayeredWindowFn)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);

struct UIShared {
    UIShared();
    ~UIShared();

    CUIStringMap fonts{83};
    CUIStringMap images{83};
    CUIStringMap attrs{83};
    CUIStringMap multiLanguage{83};
    UIFontInfo defaultFont;
    DWORD disabledFontColor = 0xFFA7A6AA;
    DWORD defaultFontColor = 0xFF000000;
    DWORD linkFontColor = 0xFF0000FF;
    DWORD linkHoverFontColor = 0xFFD3215F;
    DWORD selectedBkColor = 0xFFBAE4FF;
    short hue = 180;
    short saturation = 100;
    short lightness = 100;
    bool hslOn = false;
    HINSTANCE instance = nullptr;
    HINSTANCE resourceInstance = nullptr;
    CUIString resourcePath;
    CUIString resourceZip;
    bool zipCached = true;
    bool archive7z = false;
    void* archive = nullptr;
    CUIPtrArray managers;
    CUIPtrArray factories;
    UpdateLayeredWindowFn updateLayeredWindow = nullptr;
    HPEN dirtyPen = nullptr;
};

UIShared& Shared();

}  // namespace SkinUI
