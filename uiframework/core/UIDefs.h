// Records and interfaces shared by the window manager, the controls and the
// windows: input events, notifications, timers, images, fonts, and the listener,
// filter and factory interfaces.
#pragma once

#include <windows.h>

#include "UIUtils.h"

namespace SkinUI {

class CControlUI;
class CWindowManagerUI;

// Input event types handed to CControlUI::Event. 9..18 are the mouse range, 3..6
// the key range.
enum UIEventType {
    UIEventKeyDown = 3,
    UIEventKeyUp = 4,
    UIEventChar = 5,
    UIEventSysKey = 6,
    UIEventMouseMove = 9,
    UIEventMouseLeave = 10,
    UIEventMouseEnter = 11,
    UIEventMouseHover = 12,
    UIEventButtonDown = 13,
    UIEventButtonUp = 14,
    UIEventRightButtonDown = 15,
    UIEventDoubleClick = 16,
    UIEventContextMenu = 17,
    UIEventMouseWheel = 18,
    UIEventKillFocus = 20,
    UIEventSetFocus = 21,
    UIEventSize = 22,
    UIEventSetCursor = 23,
    UIEventTimer = 24,
};

inline bool IsMouseEventType(int type) { return type > 8 && type < 19; }

// Flags of CControlUI::FindControl.
enum : UINT {
    UIFIND_VISIBLE = 0x1,
    UIFIND_ENABLED = 0x2,
    UIFIND_HITTEST = 0x4,
    UIFIND_UPDATETEST = 0x8,
    UIFIND_TOP_FIRST = 0x10,
    UIFIND_ME_FIRST = 0x80000000u,
};

// Control flags (CControlUI::GetControlFlags).
enum : UINT { UIFLAG_TABSTOP = 0x1, UIFLAG_SETCURSOR = 0x2 };

// Private window messages of the manager.
enum : UINT { WM_UI_DRAIN = WM_APP + 1 };
// Window timer of a layered window's repaint.
enum : UINT { kLayeredTimerId = 0x2000 };

struct UIEvent {
    int Type;
    CControlUI* pSender;
    DWORD dwTimestamp;
    POINT ptMouse;
    WORD chKey;
    WORD wKeyState;
    WPARAM wParam;
    LPARAM lParam;
};

struct UINotify {
    CUIString sType;
    CUIString sVirtualWnd;
    CControlUI* pSender;
    DWORD dwTimestamp;
    POINT ptMouse;
    WPARAM wParam;
    LPARAM lParam;
};

struct UITimerInfo {
    CControlUI* pSender;
    UINT nLocalID;
    HWND hWnd;
    UINT uWinTimer;
    bool bKilled;
};

struct UIFontInfo {
    HFONT hFont;
    CUIString sFontName;
    int iSize;
    bool bBold;
    bool bUnderline;
    bool bItalic;
    TEXTMETRICW tm;
};

struct UIImageInfo {
    HBITMAP hBitmap;
    BYTE* pBits;            // premultiplied BGRA, rows top-down
    BYTE* pSrcBits;         // copy for colour adjustment, or null
    int nX;
    int nY;
    bool bAlpha;
    bool bUseHSL;
    CUIString sResType;
    DWORD dwMask;
};

// A parsed image description and the image it names, cached per attribute.
struct UIImageDrawInfo {
    CUIString sDrawString;
    CUIString sImageName;
    bool bLoaded = false;
    const UIImageInfo* pImageInfo = nullptr;
    RECT rcDest = {0, 0, 0, 0};
    RECT rcSource = {0, 0, 0, 0};
    RECT rcCorner = {0, 0, 0, 0};
    DWORD dwMask = 0;
    BYTE uFade = 255;
    bool bHole = false;
    bool bTiledX = false;
    bool bTiledY = false;
    bool bHSL = false;

    void Clear()
    {
        sDrawString.Empty();
        sImageName.Empty();
        bLoaded = false;
        pImageInfo = nullptr;
        rcDest = rcSource = rcCorner = RECT{0, 0, 0, 0};
        dwMask = 0;
        uFade = 255;
        bHole = bTiledX = bTiledY = bHSL = false;
    }
};

class INotifyUI {
public:
    virtual void Notify(UINotify& msg) = 0;
};

class IMessageFilterUI {
public:
    virtual LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) = 0;
};

// Answers 0 when it consumed the message.
class ITranslateAccelerator {
public:
    virtual LRESULT TranslateAccelerator(MSG* pMsg) = 0;
};

class IDialogBuilderCallback {
public:
    virtual CControlUI* CreateControl(LPCWSTR pstrClass) = 0;
};

typedef CControlUI* (*UIControlFactory)(LPCWSTR pstrClass);

// Reads up to `count` decimal numbers separated by one character each. A value
// with fewer numbers stops at its terminator; the missing ones are 0. Returns the
// position after the last number read.
LPCWSTR ParseIntList(LPCWSTR text, int* out, int count);
// Hexadecimal colour after leading blanks and one "#".
DWORD ParseColor(LPCWSTR text);
inline bool IsTrue(LPCWSTR value) { return value && wcscmp(value, L"true") == 0; }

}  // namespace SkinUI
