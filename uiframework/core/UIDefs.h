// Records and interfaces shared by the window manager, the controls and the
// windows: input events, notifications, timers, images, fonts, and the listener,
// filter and factory interfaces.
#pragma once

#include <windows.h>

#include "UIDrawResources.h"
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

inline bool IsTrue(LPCWSTR value) { return value && wcscmp(value, L"true") == 0; }

}  // namespace SkinUI
