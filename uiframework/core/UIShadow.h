// The drop shadow of a borderless top-level window: a layered, click-through
// popup behind its parent that follows the parent's moves, sizes and
// visibility. Its picture comes from the parent's window region or from a
// nine-part image.
#pragma once

#include <windows.h>

#include "UIDefs.h"

namespace SkinUI {

class CWndShadow {
public:
    CWndShadow() = default;
    virtual ~CWndShadow();
    CWndShadow(const CWndShadow&) = delete;
    CWndShadow& operator=(const CWndShadow&) = delete;

    // Once per process, before any Create; registers "SkinShadowWnd".
    static bool Initialize(HINSTANCE hInstance);
    void Create(HWND hParentWnd);

    bool SetSize(int size);
    bool SetSharpness(unsigned int sharpness);
    bool SetDarkness(unsigned int darkness);
    bool SetPosition(int x, int y);
    bool SetColor(COLORREF color);
    bool SetImage(LPCWSTR image, int extentLeft, int extentTop, int extentRight, int extentBottom, int cornerLeft,
                  int cornerTop, int cornerRight, int cornerBottom);

    HWND GetHWND() const { return m_hWnd; }

    static LRESULT CALLBACK ShadowWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    // The shadow picture without an image: premultiplied pixels of a bottom-up
    // DIB of (parent size + 2 x size) on each side. Public for tests.
    static void MakeShadow(UINT32* pixels, int pictureWidth, int pictureHeight, HRGN parentRegion, int parentWidth,
                           int parentHeight, int size, int sharpness, int darkness, int offsetX, int offsetY,
                           COLORREF color);

private:
    enum : BYTE { kEnabled = 0x01, kShown = 0x02, kParentVisible = 0x04 };

    static LRESULT CALLBACK ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void Update(HWND hParent);
    void Show();
    POINT ShadowOrigin(const RECT& parent) const;
    void UpdateIfShown();

    HWND m_hWnd = nullptr;
    BYTE m_Status = 0;
    BYTE m_nDarkness = 150;
    BYTE m_nSharpness = 5;
    signed char m_nSize = 0;
    signed char m_nxOffset = 5;
    signed char m_nyOffset = 5;
    COLORREF m_Color = 0;
    LPARAM m_WndSize = 0;
    bool m_bUpdate = false;
    WNDPROC m_OriParentProc = nullptr;
    HWND m_hParent = nullptr;
    UIImageInfo* m_pImageInfo = nullptr;
    int m_rcExtent[4] = {0, 0, 0, 0};   // left, top, right, bottom
    int m_rcCorner[4] = {0, 0, 0, 0};
};

}  // namespace SkinUI
