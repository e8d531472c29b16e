// The drawing operations every control paints with (images, colours, gradients,
// lines, plain and formatted text, colour adjustment), the image loader behind the
// image cache, and the clip guard used while a control paints.
#pragma once

#include <windows.h>

#include "UIDrawResources.h"
#include "UIUtils.h"
#include "UniqueRes.h"

namespace SkinUI {

class CControlUI;
class CWindowManagerUI;

// A colour written as hexadecimal ARGB: leading blanks and one leading "#" skipped.
DWORD ParseColorText(LPCWSTR text);

// Reads up to `count` decimal numbers, each followed by one separator character;
// it stops at the end of the text, and the numbers it did not find are 0.
// Returns the position behind what it read.
LPCWSTR ReadNumberList(LPCWSTR text, int* numbers, int count);

// ARGB (alpha in the top byte) to the GDI order, alpha dropped.
inline COLORREF ArgbToColorRef(DWORD argb)
{
    return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

class CDrawClip {
public:
    CDrawClip() = default;
    ~CDrawClip();
    CDrawClip(const CDrawClip&) = delete;
    CDrawClip& operator=(const CDrawClip&) = delete;

    static void GenerateClip(HDC hDC, const RECT& rc, CDrawClip& clip);
    static void GenerateRoundClip(HDC hDC, const RECT& rc, const RECT& rcItem, int width, int height,
                                  CDrawClip& clip);
    // Draws outside the clip for a moment, then back inside it.
    static void UseOldClipBegin(HDC hDC, CDrawClip& clip);
    static void UseOldClipEnd(HDC hDC, CDrawClip& clip);

private:
    RECT m_rcItem = {};
    HDC m_hDC = nullptr;
    UniqueRegion m_hRgn;
    UniqueRegion m_hOldRgn;
};

class CDrawHelper {
public:
    // Images.
    static UIImageInfo* LoadImage(CUIStringOrId bitmap, LPCWSTR type = nullptr, DWORD mask = 0);
    static void FreeImage(UIImageInfo* image, bool deleteRecord = true);
    // Parses the description once and asks the cache for its image; false when the
    // image cannot be had.
    static bool LoadDrawInfo(IDrawResources* manager, UIImageDrawInfo& drawInfo);
    static bool DrawImageString(HDC hDC, IDrawResources* manager, const RECT& rcItem, const RECT& rcPaint,
                                UIImageDrawInfo& drawInfo);
    static void DrawImage(HDC hDC, HBITMAP hBitmap, const RECT& rc, const RECT& rcPaint, const RECT& rcBmpPart,
                          const RECT& rcCorners, bool alpha, BYTE fade = 255, bool hole = false,
                          bool xtiled = false, bool ytiled = false);

    // Colours and shapes.
    static void DrawColor(HDC hDC, const RECT& rc, DWORD color);
    static void DrawGradient(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical, int steps);
    // The gradient as 2^n solid bands, for systems without GradientFill.
    static void DrawGradientBands(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical, int steps);
    static void DrawLine(HDC hDC, const RECT& rc, int size, DWORD color, int style = PS_SOLID);
    static void DrawRect(HDC hDC, const RECT& rc, int size, DWORD color, int style = PS_SOLID);
    static void DrawRoundRect(HDC hDC, const RECT& rc, int size, int width, int height, DWORD color,
                              int style = PS_SOLID);

    // Text.
    static void DrawText(HDC hDC, IDrawResources* manager, RECT& rc, LPCWSTR text, DWORD color, int font,
                         UINT style);
    static SIZE GetTextSize(HDC hDC, IDrawResources* manager, LPCWSTR text, int font);
    // Text with inline tags; see UIHtmlText.cpp for the markup. `linkCount` holds the
    // number of slots in `links` and `linkTexts` on entry and the links laid out on return.
    static void DrawHtmlText(HDC hDC, IDrawResources* manager, RECT& rc, LPCWSTR text, DWORD color,
                             RECT* links, CUIString* linkTexts, int& linkCount, int font, UINT style);

    // Colour adjustment: hue in degrees, saturation and lightness 0..1 (the shift's
    // saturation and lightness in percent).
    static DWORD AdjustColor(DWORD color, short hue, short saturation, short lightness);
    static void AdjustImage(bool useHSL, UIImageInfo* image, short hue, short saturation, short lightness);
    // Keeps a copy of the decoded pixels for later adjustments; false without memory.
    static bool KeepUnadjustedPixels(UIImageInfo* image);
    static void RgbToHsl(DWORD argb, float* hue, float* saturation, float* lightness);
    static void HslToRgb(DWORD* argb, float hue, float saturation, float lightness);
    static DWORD MixColor(DWORD a, double weightA, DWORD b, double weightB);

    // What the window shows in rc (client coordinates) as a new 32-bit bottom-up DIB the
    // caller deletes: the root painted afresh up to control (the stop control), or the
    // off-screen picture; a background with non-zero alpha drawn over it. Null on failure.
    static HBITMAP GenerateBitmap(CWindowManagerUI* manager, const RECT& rc, CControlUI* control = nullptr,
                                  DWORD background = 0);
    // A 32-bit bottom-up DIB section; null when it cannot be made.
    static HBITMAP CreateBitmapInfo(HDC hDC, int width, int height, BYTE** bits);
    // A 32-bit DIB section, rows top-down or bottom-up; null when it cannot be made.
    static HBITMAP CreateDib32(HDC hDC, int width, int height, bool topDown, BYTE** bits);
    // The system AlphaBlend's operation, for systems without it.
    static BOOL WINAPI AlphaBlendSoftware(HDC hDC, int dx, int dy, int dw, int dh, HDC hSrcDC, int sx, int sy,
                                   int sw, int sh, BLENDFUNCTION blend);
};

}  // namespace SkinUI
