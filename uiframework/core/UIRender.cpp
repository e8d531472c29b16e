// Drawing onto a DC: images in nine parts with blending, tiling and fading, colours,
// gradients, lines, rectangles, plain text, and the clip guard.
#include "UIRender.h"

#include <cstring>

namespace SkinUI {

namespace {

typedef BOOL(WINAPI* AlphaBlendFn)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
typedef BOOL(WINAPI* GradientFillFn)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

// Taken once per process by name; msimg32 stays loaded for the process.
struct SystemBlend {
    AlphaBlendFn alphaBlend = nullptr;
    GradientFillFn gradientFill = nullptr;
};

const SystemBlend& Msimg32()
{
    static const SystemBlend functions = [] {
        SystemBlend f;
        if (HMODULE module = ::LoadLibraryW(L"msimg32.dll")) {
            f.alphaBlend = reinterpret_cast<AlphaBlendFn>(reinterpret_cast<void*>(::GetProcAddress(module, "AlphaBlend")));
            f.gradientFill =
                reinterpret_cast<GradientFillFn>(reinterpret_cast<void*>(::GetProcAddress(module, "GradientFill")));
        }
        if (!f.alphaBlend) f.alphaBlend = &CDrawHelper::AlphaBlendSoftware;
        return f;
    }();
    return functions;
}

int Width(const RECT& rc) { return rc.right - rc.left; }
int Height(const RECT& rc) { return rc.bottom - rc.top; }

// Draws parts of one bitmap (selected into `source`) onto `target`, skipping parts
// that are empty or lie outside the paint rect.
struct PartPainter {
    HDC target;
    HDC source;
    RECT paint;
    bool blend;
    BLENDFUNCTION function;

    void Draw(const RECT& dst, const RECT& src) const
    {
        if (Width(dst) <= 0 || Height(dst) <= 0 || Width(src) <= 0 || Height(src) <= 0) return;
        RECT meet;
        if (!::IntersectRect(&meet, &dst, &paint)) return;
        if (blend) {
            Msimg32().alphaBlend(target, dst.left, dst.top, Width(dst), Height(dst), source, src.left, src.top,
                                 Width(src), Height(src), function);
        } else if (Width(dst) == Width(src) && Height(dst) == Height(src)) {
            ::BitBlt(target, dst.left, dst.top, Width(dst), Height(dst), source, src.left, src.top, SRCCOPY);
        } else {
            ::StretchBlt(target, dst.left, dst.top, Width(dst), Height(dst), source, src.left, src.top, Width(src),
                         Height(src), SRCCOPY);
        }
    }

    // The middle part: stretched, or tiles of the source's size along x, y or both.
    // A middle without width or height on either side has nothing to tile.
    void Middle(const RECT& dst, const RECT& src, bool xtiled, bool ytiled) const
    {
        const int sw = Width(src), sh = Height(src);
        if (Width(dst) <= 0 || Height(dst) <= 0 || sw <= 0 || sh <= 0) return;
        if (!xtiled && !ytiled) {
            Draw(dst, src);
        } else if (xtiled && ytiled) {
            for (int y = dst.top; y < dst.bottom; y += sh) {
                const int h = dst.bottom - y < sh ? dst.bottom - y : sh;
                for (int x = dst.left; x < dst.right; x += sw) {
                    const int w = dst.right - x < sw ? dst.right - x : sw;
                    Draw({x, y, x + w, y + h}, {src.left, src.top, src.left + w, src.top + h});
                }
            }
        } else if (xtiled) {
            for (int x = dst.left; x < dst.right; x += sw) {
                const int w = dst.right - x < sw ? dst.right - x : sw;
                Draw({x, dst.top, x + w, dst.bottom}, {src.left, src.top, src.left + w, src.bottom});
            }
        } else {
            for (int y = dst.top; y < dst.bottom; y += sh) {
                const int h = dst.bottom - y < sh ? dst.bottom - y : sh;
                Draw({dst.left, y, dst.right, y + h}, {src.left, src.top, src.right, src.top + h});
            }
        }
    }
};

void DrawNineParts(const PartPainter& painter, const RECT& d, const RECT& s, const RECT& c, bool hole, bool xtiled,
                   bool ytiled)
{
    if (!hole) {
        painter.Middle({d.left + c.left, d.top + c.top, d.right - c.right, d.bottom - c.bottom},
                       {s.left + c.left, s.top + c.top, s.right - c.right, s.bottom - c.bottom}, xtiled, ytiled);
    }
    if (c.left > 0 && c.top > 0) {
        painter.Draw({d.left, d.top, d.left + c.left, d.top + c.top}, {s.left, s.top, s.left + c.left, s.top + c.top});
    }
    if (c.top > 0) {
        painter.Draw({d.left + c.left, d.top, d.right - c.right, d.top + c.top},
                     {s.left + c.left, s.top, s.right - c.right, s.top + c.top});
    }
    if (c.right > 0 && c.top > 0) {
        painter.Draw({d.right - c.right, d.top, d.right, d.top + c.top},
                     {s.right - c.right, s.top, s.right, s.top + c.top});
    }
    if (c.left > 0) {
        painter.Draw({d.left, d.top + c.top, d.left + c.left, d.bottom - c.bottom},
                     {s.left, s.top + c.top, s.left + c.left, s.bottom - c.bottom});
    }
    if (c.right > 0) {
        painter.Draw({d.right - c.right, d.top + c.top, d.right, d.bottom - c.bottom},
                     {s.right - c.right, s.top + c.top, s.right, s.bottom - c.bottom});
    }
    if (c.left > 0 && c.bottom > 0) {
        painter.Draw({d.left, d.bottom - c.bottom, d.left + c.left, d.bottom},
                     {s.left, s.bottom - c.bottom, s.left + c.left, s.bottom});
    }
    if (c.bottom > 0) {
        painter.Draw({d.left + c.left, d.bottom - c.bottom, d.right - c.right, d.bottom},
                     {s.left + c.left, s.bottom - c.bottom, s.right - c.right, s.bottom});
    }
    if (c.right > 0 && c.bottom > 0) {
        painter.Draw({d.right - c.right, d.bottom - c.bottom, d.right, d.bottom},
                     {s.right - c.right, s.bottom - c.bottom, s.right, s.bottom});
    }
}

BLENDFUNCTION Blend(BYTE constantAlpha, bool perPixel)
{
    BLENDFUNCTION f = {AC_SRC_OVER, 0, constantAlpha, static_cast<BYTE>(perPixel ? AC_SRC_ALPHA : 0)};
    return f;
}

void FillSolid(HDC hDC, const RECT& rc, COLORREF color)
{
    const COLORREF old = ::SetBkColor(hDC, color);
    ::ExtTextOutW(hDC, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    ::SetBkColor(hDC, old);
}

void GradientInto(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical, int steps)
{
    if (GradientFillFn fill = Msimg32().gradientFill) {
        TRIVERTEX v[2] = {};
        v[0].x = rc.left;
        v[0].y = rc.top;
        v[0].Red = static_cast<COLOR16>(((first >> 16) & 0xFF) << 8);
        v[0].Green = static_cast<COLOR16>(((first >> 8) & 0xFF) << 8);
        v[0].Blue = static_cast<COLOR16>((first & 0xFF) << 8);
        v[1].x = rc.right;
        v[1].y = rc.bottom;
        v[1].Red = static_cast<COLOR16>(((second >> 16) & 0xFF) << 8);
        v[1].Green = static_cast<COLOR16>(((second >> 8) & 0xFF) << 8);
        v[1].Blue = static_cast<COLOR16>((second & 0xFF) << 8);
        GRADIENT_RECT r = {0, 1};
        fill(hDC, v, 2, &r, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
    } else {
        CDrawHelper::DrawGradientBands(hDC, rc, first, second, vertical, steps);
    }
}

int OutlineStyle(int style) { return style == PS_SOLID ? PS_INSIDEFRAME : style; }

}  // namespace

void CDrawHelper::DrawImage(HDC hDC, HBITMAP hBitmap, const RECT& rc, const RECT& rcPaint, const RECT& rcBmpPart,
                            const RECT& rcCorners, bool alpha, BYTE fade, bool hole, bool xtiled, bool ytiled)
{
    if (!hDC || !hBitmap) return;
    UniqueMemoryDc memory(::CreateCompatibleDC(hDC));
    if (!memory) return;
    ScopedSelect selected(memory.Get(), hBitmap);
    const int oldMode = ::SetStretchBltMode(hDC, COLORONCOLOR);
    const bool blend = alpha || fade < 255;
    const PartPainter painter = {hDC, memory.Get(), rcPaint, blend, Blend(fade, true)};
    const bool plainCopy = !blend && !hole && Width(rc) == Width(rcBmpPart) && Height(rc) == Height(rcBmpPart) &&
                           rcCorners.left == 0 && rcCorners.top == 0 && rcCorners.right == 0 && rcCorners.bottom == 0;
    if (plainCopy) {
        RECT part;
        if (::IntersectRect(&part, &rc, &rcPaint)) {
            ::BitBlt(hDC, part.left, part.top, Width(part), Height(part), memory.Get(),
                     rcBmpPart.left + part.left - rc.left, rcBmpPart.top + part.top - rc.top, SRCCOPY);
        }
    } else {
        DrawNineParts(painter, rc, rcBmpPart, rcCorners, hole, xtiled, ytiled);
    }
    ::SetStretchBltMode(hDC, oldMode);
}

void CDrawHelper::DrawColor(HDC hDC, const RECT& rc, DWORD color)
{
    const unsigned a = color >> 24;
    if (a == 0) return;
    if (a == 255) {
        FillSolid(hDC, rc, ArgbToColorRef(color));
        return;
    }
    BYTE* bits = nullptr;
    UniqueBitmap pixel(CreateBitmapInfo(hDC, 1, 1, &bits));
    if (!pixel || !bits) return;
    bits[0] = static_cast<BYTE>((color & 0xFF) * a / 255);
    bits[1] = static_cast<BYTE>(((color >> 8) & 0xFF) * a / 255);
    bits[2] = static_cast<BYTE>(((color >> 16) & 0xFF) * a / 255);
    bits[3] = static_cast<BYTE>(a);
    ::GdiFlush();
    DrawImage(hDC, pixel.Get(), rc, rc, {0, 0, 1, 1}, {0, 0, 0, 0}, true, 255);
}

void CDrawHelper::DrawGradient(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical, int steps)
{
    const unsigned alpha = ((first >> 24) + (second >> 24)) / 2;
    if (alpha == 0 || Width(rc) <= 0 || Height(rc) <= 0) return;
    if (alpha == 255) {
        GradientInto(hDC, rc, first, second, vertical, steps);
        return;
    }
    UniqueMemoryDc memory(::CreateCompatibleDC(hDC));
    BYTE* bits = nullptr;
    UniqueBitmap picture(CreateBitmapInfo(hDC, Width(rc), Height(rc), &bits));
    if (!memory || !picture) return;
    ScopedSelect selected(memory.Get(), picture.Get());
    GradientInto(memory.Get(), {0, 0, Width(rc), Height(rc)}, first, second, vertical, steps);
    Msimg32().alphaBlend(hDC, rc.left, rc.top, Width(rc), Height(rc), memory.Get(), 0, 0, Width(rc), Height(rc),
                         Blend(static_cast<BYTE>(alpha), false));
}

void CDrawHelper::DrawGradientBands(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical, int steps)
{
    const int shift = steps < 4 ? 1 : steps < 8 ? 2 : steps < 16 ? 3 : steps < 32 ? 4 : steps < 64 ? 5 : 6;
    const int bands = 1 << shift;
    const int length = vertical ? Height(rc) : Width(rc);
    for (int i = 0; i < bands; ++i) {
        RECT band = rc;
        const int from = length * i / bands, to = length * (i + 1) / bands;
        if (vertical) {
            band.top = rc.top + from;
            band.bottom = rc.top + to;
        } else {
            band.left = rc.left + from;
            band.right = rc.left + to;
        }
        DWORD mixed = 0;
        for (int s = 0; s <= 16; s += 8) {
            const int a = (first >> s) & 0xFF, b = (second >> s) & 0xFF;
            mixed |= static_cast<DWORD>(a + (b - a) * i / (bands - 1)) << s;
        }
        FillSolid(hDC, band, ArgbToColorRef(mixed));
    }
}

void CDrawHelper::DrawLine(HDC hDC, const RECT& rc, int size, DWORD color, int style)
{
    UniquePen pen(::CreatePen(style, size, ArgbToColorRef(color)));
    if (!pen) return;
    ScopedSelect selected(hDC, pen.Get());
    POINT old;
    ::MoveToEx(hDC, rc.left, rc.top, &old);
    ::LineTo(hDC, rc.right, rc.bottom);
    ::MoveToEx(hDC, old.x, old.y, nullptr);
}

void CDrawHelper::DrawRect(HDC hDC, const RECT& rc, int size, DWORD color, int style)
{
    UniquePen pen(::CreatePen(OutlineStyle(style), size, ArgbToColorRef(color)));
    if (!pen) return;
    ScopedSelect selectedPen(hDC, pen.Get());
    ScopedSelect selectedBrush(hDC, ::GetStockObject(NULL_BRUSH));
    ::Rectangle(hDC, rc.left, rc.top, rc.right, rc.bottom);
}

void CDrawHelper::DrawRoundRect(HDC hDC, const RECT& rc, int size, int width, int height, DWORD color, int style)
{
    UniquePen pen(::CreatePen(OutlineStyle(style), size, ArgbToColorRef(color)));
    if (!pen) return;
    ScopedSelect selectedPen(hDC, pen.Get());
    ScopedSelect selectedBrush(hDC, ::GetStockObject(NULL_BRUSH));
    ::RoundRect(hDC, rc.left, rc.top, rc.right, rc.bottom, width, height);
}

void CDrawHelper::DrawText(HDC hDC, IDrawResources* manager, RECT& rc, LPCWSTR text, DWORD color, int font,
                           UINT style)
{
    if (!text || !manager) return;
    CUIString prepared(text);
    manager->ReplaceLanguageTokens(prepared);
    const int oldMode = ::SetBkMode(hDC, TRANSPARENT);
    const COLORREF oldColor = ::SetTextColor(hDC, ArgbToColorRef(color));
    {
        ScopedSelect selected(hDC, manager->GetFont(font));
        ::DrawTextW(hDC, prepared.GetData(), -1, &rc, style | DT_NOPREFIX);
    }
    ::SetTextColor(hDC, oldColor);
    ::SetBkMode(hDC, oldMode);
}

SIZE CDrawHelper::GetTextSize(HDC hDC, IDrawResources* manager, LPCWSTR text, int font)
{
    SIZE size = {0, 0};
    if (!text || !manager) return size;
    CUIString prepared(text);
    manager->ReplaceLanguageTokens(prepared);
    ScopedSelect selected(hDC, manager->GetFont(font));
    ::GetTextExtentPoint32W(hDC, prepared.GetData(), prepared.GetLength(), &size);
    return size;
}

HBITMAP CDrawHelper::CreateBitmapInfo(HDC hDC, int width, int height, BYTE** bits)
{
    return CreateDib32(hDC, width, height, false, bits);
}

HBITMAP CDrawHelper::CreateDib32(HDC hDC, int width, int height, bool topDown, BYTE** bits)
{
    if (bits) *bits = nullptr;
    if (width <= 0 || height <= 0) return nullptr;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = topDown ? -height : height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(hDC, &bmi, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (bits) *bits = static_cast<BYTE*>(pixels);
    return bitmap;
}

BOOL WINAPI CDrawHelper::AlphaBlendSoftware(HDC hDC, int dx, int dy, int dw, int dh, HDC hSrcDC, int sx, int sy,
                                            int sw, int sh, BLENDFUNCTION blend)
{
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return FALSE;
    UniqueMemoryDc sourceDc(::CreateCompatibleDC(hDC)), targetDc(::CreateCompatibleDC(hDC));
    BYTE* sourceBits = nullptr;
    BYTE* targetBits = nullptr;
    UniqueBitmap source(CreateBitmapInfo(hDC, dw, dh, &sourceBits));
    UniqueBitmap target(CreateBitmapInfo(hDC, dw, dh, &targetBits));
    if (!sourceDc || !targetDc || !source || !target) return FALSE;
    ScopedSelect sourceSelected(sourceDc.Get(), source.Get());
    ScopedSelect targetSelected(targetDc.Get(), target.Get());
    ::SetStretchBltMode(sourceDc.Get(), COLORONCOLOR);
    ::StretchBlt(sourceDc.Get(), 0, 0, dw, dh, hSrcDC, sx, sy, sw, sh, SRCCOPY);
    ::BitBlt(targetDc.Get(), 0, 0, dw, dh, hDC, dx, dy, SRCCOPY);
    ::GdiFlush();
    const unsigned constant = blend.SourceConstantAlpha;
    const bool perPixel = (blend.AlphaFormat & AC_SRC_ALPHA) != 0;
    const size_t pixels = static_cast<size_t>(dw) * static_cast<size_t>(dh);
    for (size_t i = 0; i < pixels; ++i) {
        BYTE* s = sourceBits + i * 4;
        BYTE* t = targetBits + i * 4;
        // Premultiplied sources are scaled by the constant alpha alone; their own
        // alpha decides how much of the target shows through.
        const unsigned sourceAlpha = perPixel ? s[3] * constant / 255 : constant;
        for (int c = 0; c < 3; ++c) {
            const unsigned v = s[c] * constant / 255 + t[c] * (255 - sourceAlpha) / 255;
            t[c] = static_cast<BYTE>(v > 255 ? 255 : v);
        }
        const unsigned a = sourceAlpha + t[3] * (255 - sourceAlpha) / 255;
        t[3] = static_cast<BYTE>(a > 255 ? 255 : a);
    }
    ::BitBlt(hDC, dx, dy, dw, dh, targetDc.Get(), 0, 0, SRCCOPY);
    return TRUE;
}

CDrawClip::~CDrawClip()
{
    if (m_hDC) ::SelectClipRgn(m_hDC, m_hOldRgn.Get());
}

void CDrawClip::GenerateClip(HDC hDC, const RECT& rc, CDrawClip& clip)
{
    RECT box;
    ::GetClipBox(hDC, &box);
    clip.m_hOldRgn.Reset(::CreateRectRgnIndirect(&box));
    clip.m_hRgn.Reset(::CreateRectRgnIndirect(&rc));
    ::CombineRgn(clip.m_hRgn.Get(), clip.m_hRgn.Get(), clip.m_hOldRgn.Get(), RGN_AND);
    ::SelectClipRgn(hDC, clip.m_hRgn.Get());
    clip.m_hDC = hDC;
    clip.m_rcItem = rc;
}

void CDrawClip::GenerateRoundClip(HDC hDC, const RECT& rc, const RECT& rcItem, int width, int height,
                                  CDrawClip& clip)
{
    GenerateClip(hDC, rc, clip);
    UniqueRegion round(::CreateRoundRectRgn(rcItem.left, rcItem.top, rcItem.right + 1, rcItem.bottom + 1, width, height));
    ::CombineRgn(clip.m_hRgn.Get(), clip.m_hRgn.Get(), round.Get(), RGN_AND);
    ::SelectClipRgn(hDC, clip.m_hRgn.Get());
}

void CDrawClip::UseOldClipBegin(HDC hDC, CDrawClip& clip) { ::SelectClipRgn(hDC, clip.m_hOldRgn.Get()); }

void CDrawClip::UseOldClipEnd(HDC hDC, CDrawClip& clip) { ::SelectClipRgn(hDC, clip.m_hRgn.Get()); }

}  // namespace SkinUI
