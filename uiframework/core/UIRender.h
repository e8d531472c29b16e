// Drawing helpers every control paints with, the image loader behind the window
// manager's image cache, and the clip guard used while painting a control.
#pragma once

#include "UIDefs.h"

namespace SkinUI {

class CDrawClip {
public:
    CDrawClip() = default;
    ~CDrawClip();
    CDrawClip(const CDrawClip&) = delete;
    CDrawClip& operator=(const CDrawClip&) = delete;

    static void GenerateClip(HDC hDC, RECT rc, CDrawClip& clip);
    static void GenerateRoundClip(HDC hDC, RECT rc, RECT rcItem, int width, int height, CDrawClip& clip);
    static void UseOldClipBegin(HDC hDC, CDrawClip& clip);
    static void UseOldClipEnd(HDC hDC, CDrawClip& clip);

private:
    RECT m_rcItem = {0, 0, 0, 0};
    HDC m_hDC = nullptr;
    HRGN m_hRgn = nullptr;
    HRGN m_hOldRgn = nullptr;
};

class CDrawHelper {
public:
    static UIImageInfo* LoadImage(CUIStringOrId bitmap, LPCWSTR type = nullptr, DWORD mask = 0);
    static void FreeImage(UIImageInfo* bitmap, bool bDelete = true);
    static bool DrawImageString(HDC hDC, CWindowManagerUI* pManager, const RECT& rcItem, const RECT& rcPaint,
                                UIImageDrawInfo& drawInfo);
    static void DrawImage(HDC hDC, HBITMAP hBitmap, const RECT& rc, const RECT& rcPaint, const RECT& rcBmpPart,
                          const RECT& rcCorners, bool bAlpha, BYTE uFade = 255, bool hole = false,
                          bool xtiled = false, bool ytiled = false);
    static void DrawColor(HDC hDC, const RECT& rc, DWORD color);
    static void DrawGradient(HDC hDC, const RECT& rc, DWORD dwFirst, DWORD dwSecond, bool bVertical, int nSteps);
    static void DrawLine(HDC hDC, const RECT& rc, int nSize, DWORD dwPenColor, int nStyle = PS_SOLID);
    static void DrawRect(HDC hDC, const RECT& rc, int nSize, DWORD dwPenColor, int nStyle = PS_SOLID);
    static void DrawRoundRect(HDC hDC, const RECT& rc, int width, int height, int nSize, DWORD dwPenColor,
                              int nStyle = PS_SOLID);
    static HBITMAP CreateBitmapInfo(HDC hDC, int cx, int cy, BYTE** pBits);
    // A 32-bit DIB section, rows top-down or bottom-up.
    static HBITMAP CreateDib32(HDC hDC, int cx, int cy, bool topDown, BYTE** pBits);
    static DWORD AdjustColor(DWORD dwColor, short H, short S, short L);
};

}  // namespace SkinUI
